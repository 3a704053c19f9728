// Least-squares polynomial fit through the normal equations: accumulation of the Gram matrix
// vtv = V^T V and the right-hand side vty = V^T y, and their Gauss-Jordan solve. No Python here.
#pragma once

#include <algorithm>
#include <cstdint>

#include "simd.h"
#include "source/blocks.h"

namespace skyloom::polyfit {

// At most degree 9: ten coefficients.
constexpr int kMaxD = 10;

// Number of coefficients for a requested degree: min(deg + 1, 10), capped before adding so that
// the largest degree cannot overflow. Zero or negative when deg is negative.
constexpr int coefficient_count(std::int32_t deg) noexcept {
  return deg >= kMaxD - 1 ? kMaxD : deg + 1;
}

// Adds the points (x[i], y[i]), i = 0 ... count - 1, in order, to vtv (d x d, row-major with row
// stride d, both triangles) and vty (d entries). Each point's row of powers x^(d-1) ... x, 1 is
// built by repeated multiplication; each entry takes row[r] * row[col] + vtv[r][col], and vty[r]
// takes y * row[r] + vty[r], each as two separate roundings. Requires 1 <= d <= kMaxD and a
// symmetric vtv on entry (zeros, or what earlier calls left): only its upper triangle is summed and
// the lower one copied from it.
extern const simd::Entry<void(int d, const double* x, const double* y, int count, double* vtv,
                              double* vty)>
    accumulate;

// The pivot row for column j: among rows j ... d - 1, the first whose |vtv[row][j]| is strictly
// the largest. Ties keep the upper row; a NaN never replaces the choice, nor is replaced once held.
int pivot_row(int d, const double* vtv, int j) noexcept;

// Solves vtv . c = vty in place by Gauss-Jordan elimination with partial pivoting; vty ends up
// holding c, highest power first. A pivot of exactly zero skips its column (vty keeps what the
// other columns' eliminations leave in it); no tolerance, and NaN pivots are used. vtv is
// overwritten. Requires 0 <= d <= kMaxD.
void solve(int d, double* vtv, double* vty) noexcept;

// Whether a fit of degree deg to n points is defined: a negative degree has no coefficient to
// fit any point with (and gives none for no points).
constexpr bool defined(std::int32_t deg, std::int64_t n) noexcept {
  return n == 0 || coefficient_count(deg) > 0;
}

// accumulate() over the points 0 ... n - 1 of a source, a block at a time.
template <class Source>
Stop accumulate_all(Source& s, typename Source::Count n, int d, double* vtv, double* vty) noexcept {
  return for_each_block(s, 0, n, [&](const double* x, const double* y, std::int32_t m, auto) {
    accumulate(d, x, y, m, vtv, vty);
  });
}

// The least-squares polynomial of degree deg (defined(deg, n)) through the n points of a source,
// highest power first, into c[0 ... count), count = max(coefficient_count(deg), 0). With no
// points every pivot is exactly zero, so the solve leaves the right-hand side as it is: all zeros.
template <class Source>
Stop fit(Source& s, typename Source::Count n, std::int32_t deg, double (&c)[kMaxD],
         int& count) noexcept {
  const int d = coefficient_count(deg);
  count = d > 0 ? d : 0;
  std::fill(c, c + kMaxD, 0.0);
  if (n == 0) return Stop::kNone;
  double vtv[kMaxD * kMaxD] = {};
  const Stop stop = accumulate_all(s, n, d, vtv, c);
  if (stop == Stop::kNone) solve(count, vtv, c);
  return stop;
}

}  // namespace skyloom::polyfit
