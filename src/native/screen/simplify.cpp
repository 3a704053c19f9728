// Polyline simplification with an explicit stack of index ranges and a keep mask.
#include "screen/simplify.h"

#include <cstring>

#include "simd.h"

namespace skyloom {

namespace {

using simd::F64x4;
using simd::I64x4;

// The farthest of the points j = s+1 ... e-1 from the chord from (ax, ay) along (cx, cy) of
// squared length L (not degenerate), into best and idx. Four points at a time: each lane performs
// the scalar operations in their order and keeps the first of its strictly greatest distances;
// the lanes are merged at the end by the greatest distance and then the lowest index, which is
// the scalar scan's choice. NaN distances never win in a lane, as in the scan.
extern const simd::Entry<void(const double* px, const double* py, std::int64_t s, std::int64_t e,
                              double ax, double ay, double cx, double cy, double L, double& best,
                              std::int64_t& idx)>
    farthest_on_chord;
SKYLOOM_CLONES(farthest_on_chord)
void farthest_on_chord_body(const double* px, const double* py, std::int64_t s, std::int64_t e,
                            double ax, double ay, double cx, double cy, double L, double& best,
                            std::int64_t& idx) noexcept {
  best = -1.0;
  idx = s + 1;
  std::int64_t j = s + 1;
  if (e - j >= 8) {
    F64x4 lane_best = -1.0;
    I64x4 lane_idx = 0, jv(j, j + 1, j + 2, j + 3);
    const F64x4 zero = 0.0, one = 1.0;
    for (; j + 4 <= e; j += 4) {
      const F64x4 x = F64x4::load(px + j), y = F64x4::load(py + j);
      F64x4 t = ((x - ax) * cx + (y - ay) * cy) / L;
      t = select(t < zero, zero, select(t > one, one, t));
      const F64x4 fx = ax + t * cx - x, fy = ay + t * cy - y;
      const F64x4 d2 = fx * fx + fy * fy;
      const I64x4 better = d2 > lane_best;
      lane_best = select(better, d2, lane_best);
      lane_idx = select(better, jv, lane_idx);
      jv += 4;
    }
    for (int l = 0; l < 4; ++l) {
      if (lane_best[l] > best || (lane_best[l] == best && best > -1.0 && lane_idx[l] < idx)) {
        best = lane_best[l];
        idx = lane_idx[l];
      }
    }
  }
  for (; j < e; ++j) {
    double t = ((px[j] - ax) * cx + (py[j] - ay) * cy) / L;
    if (t < 0.0) {
      t = 0.0;
    } else if (t > 1.0) {
      t = 1.0;
    }
    const double fx = ax + t * cx - px[j], fy = ay + t * cy - py[j];
    const double d2 = fx * fx + fy * fy;
    if (d2 > best) {
      best = d2;
      idx = j;
    }
  }
}

// The interior point of s…e farthest from the chord (as a closed segment), as its squared
// distance in best and its index in idx; the lowest index wins ties. best stays −1.0 when every
// distance is NaN.
inline void farthest(const double* px, const double* py, std::int64_t s, std::int64_t e,
                     double& best, std::int64_t& idx) noexcept {
  const double ax = px[s], ay = py[s];
  const double cx = px[e] - ax, cy = py[e] - ay;
  const double L = cx * cx + cy * cy;
  if (L < 1e-15) {  // end points (nearly) coincide: distance to the start point
    best = -1.0;
    idx = s + 1;
    for (std::int64_t j = s + 1; j < e; ++j) {
      const double ux = px[j] - ax, uy = py[j] - ay;
      const double d2 = ux * ux + uy * uy;
      if (d2 > best) {
        best = d2;
        idx = j;
      }
    }
    return;
  }
  farthest_on_chord(px, py, s, e, ax, ay, cx, cy, L, best, idx);
}

// The simplification with points counted as I: keep flags and stacked indices are I too.
template <class I>
I simplify(const double* px, const double* py, I n, double tol2, double* out_px, double* out_py,
           I* scratch, const Interrupt& interrupt) noexcept {
  if (n <= 0) return n;
  if (n <= 2) {
    for (I k = 0; k < n; ++k) {
      out_px[k] = px[k];
      out_py[k] = py[k];
    }
    return n;
  }
  I* keep = scratch;
  I* stack = scratch + n;  // pairs (s, e); consecutive ranges, so at most n − 1
  std::memset(keep, 0, static_cast<std::size_t>(n) * sizeof *keep);
  keep[0] = 1;
  keep[n - 1] = 1;
  std::size_t top = 2;  // integers on the stack
  stack[0] = 0;
  stack[1] = n - 1;
  std::int64_t budget = kSimplifyPollEvery;  // evaluations left until the next poll
  while (top > 0) {
    const I s = stack[top - 2], e = stack[top - 1];
    if (e - s <= 1) {
      top -= 2;
      continue;
    }
    budget -= e - s - 1;
    if (budget <= 0) {
      if (interrupt.stop()) return kSimplifyStopped;
      budget = kSimplifyPollEvery;
    }
    double best;
    std::int64_t idx;
    farthest(px, py, s, e, best, idx);
    if (best > tol2) {
      // Split at idx; the right part goes on top and is examined first.
      keep[idx] = 1;
      stack[top - 1] = static_cast<I>(idx);  // s < idx < e
      stack[top] = static_cast<I>(idx);
      stack[top + 1] = e;
      top += 2;
    } else {
      top -= 2;
    }
  }
  I m = 0;
  for (I k = 0; k < n; ++k) {
    if (keep[k] != 0) {
      out_px[m] = px[k];
      out_py[m] = py[k];
      ++m;
    }
  }
  return m;
}

}  // namespace

std::int32_t simplify_polyline(const double* px, const double* py, std::int32_t n, double tol2,
                               double* out_px, double* out_py, std::int32_t* scratch,
                               const Interrupt& interrupt) noexcept {
  return simplify(px, py, n, tol2, out_px, out_py, scratch, interrupt);
}

std::int64_t simplify_polyline(const double* px, const double* py, std::int64_t n, double tol2,
                               double* out_px, double* out_py, std::int64_t* scratch,
                               const Interrupt& interrupt) noexcept {
  return simplify(px, py, n, tol2, out_px, out_py, scratch, interrupt);
}

}  // namespace skyloom
