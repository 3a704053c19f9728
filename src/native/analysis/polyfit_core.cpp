// Normal equations of the polynomial fit: accumulation and Gauss-Jordan solve.
#include "analysis/polyfit_core.h"

#include <cmath>
#include <utility>

#include "simd.h"

namespace skyloom::polyfit {

namespace {

// Two doubles, one lane per column: element-wise products and sums are the same IEEE operations
// as the scalar ones, so vectorising across the columns of a row changes no rounding.
using simd::F64x2;

// Points are taken a block at a time: their powers are built once into a table, and then the
// rows of vtv are accumulated over the whole block a few rows per pass, each pass holding its
// entries in registers. Only the upper triangle is accumulated: row[r] * row[col] and
// row[col] * row[r] are the same IEEE product (NaN powers of one x all carry x's bits), so both
// triangles run through the same sums, and the lower one is copied from the upper one at the end.
constexpr int kBlock = 64;

// Vectors of row r from the one that holds its diagonal entry on: its upper triangle.
constexpr int row_vectors(int d, int r) {
  return (d + 1) / 2 - r / 2;
}

// Rows in the pass that starts at row r (and takes vty too when y): as many as keep its
// accumulators, one broadcast per row and one loaded vector within x86-64's 16 vector registers.
constexpr int pass_rows(int d, int r, bool y) {
  int regs = y ? (d + 1) / 2 + 2 : 1;
  int rows = 0;
  while (r + rows < d) {
    const int more = row_vectors(d, r + rows) + 1;
    if (rows > 0 && regs + more > 16) break;
    regs += more;
    ++rows;
  }
  return rows;
}

// Adds the block's points to rows r ... r + R - 1 of vtv (upper triangle, to whole vectors) and,
// with Y, to vty. Row width is padded to whole vectors; the padding lane of p is 0 and its sums
// are never stored.
template <int D, int r, int R, bool Y>
inline void add_pass(const double (*p)[(D + 1) / 2 * 2], const double* y, int m, double* vtv,
                     double* vty) noexcept {
  constexpr int V = (D + 1) / 2;
  constexpr int Q = R + (Y ? 1 : 0);  // accumulated rows: vtv's, then vty
  constexpr int k_lo = Y ? 0 : r / 2;
  F64x2 a[Q][V];
  SKYLOOM_UNROLL
  for (int q = 0; q < Q; ++q) {
    const double* src = q < R ? vtv + (r + q) * D : vty;
    SKYLOOM_UNROLL
    for (int k = q < R ? (r + q) / 2 : 0; k < V; ++k) {
      a[q][k] = F64x2(src[2 * k], 2 * k + 1 < D ? src[2 * k + 1] : 0.0);
    }
  }
  for (int i = 0; i < m; ++i) {
    F64x2 b[Q];  // row[r + q] of point i, then y of point i
    SKYLOOM_UNROLL
    for (int q = 0; q < R; ++q) b[q] = p[i][r + q];
    if (Y) b[R] = y[i];
    SKYLOOM_UNROLL
    for (int k = k_lo; k < V; ++k) {
      const F64x2 pk = F64x2::load(&p[i][2 * k]);
      SKYLOOM_UNROLL
      for (int q = 0; q < Q; ++q) {
        if (q < R && k < (r + q) / 2) continue;
        a[q][k] = b[q] * pk + a[q][k];
      }
    }
  }
  SKYLOOM_UNROLL
  for (int q = 0; q < Q; ++q) {
    double* dst = q < R ? vtv + (r + q) * D : vty;
    SKYLOOM_UNROLL
    for (int c = q < R ? (r + q) / 2 * 2 : 0; c < D; ++c) dst[c] = a[q][c / 2][c % 2];
  }
}

// The passes from row r to the last; the first one takes vty too.
template <int D, int r, bool Y>
inline void add_passes(const double (*p)[(D + 1) / 2 * 2], const double* y, int m, double* vtv,
                       double* vty) noexcept {
  if constexpr (r < D) {
    constexpr int R = pass_rows(D, r, Y);
    add_pass<D, r, R, Y>(p, y, m, vtv, vty);
    add_passes<D, r + R, false>(p, y, m, vtv, vty);
  }
}

// One instance per d, so that every loop has a constant trip count.
template <int D>
void accumulate_d(const double* x, const double* y, int count, double* vtv, double* vty) noexcept {
  constexpr int V = (D + 1) / 2;
  alignas(16) double p[kBlock][2 * V];
  for (int i0 = 0; i0 < count; i0 += kBlock) {
    const int m = count - i0 < kBlock ? count - i0 : kBlock;
    for (int i = 0; i < m; ++i) {
      double* row = p[i];
      row[2 * V - 1] = 0.0;
      row[D - 1] = 1.0;
      for (int col = D - 2; col >= 0; --col) row[col] = x[i0 + i] * row[col + 1];
    }
    add_passes<D, 0, true>(p, y + i0, m, vtv, vty);
  }
  for (int r = 1; r < D; ++r) {
    for (int c = 0; c < r; ++c) vtv[r * D + c] = vtv[c * D + r];
  }
}

}  // namespace

void accumulate(int d, const double* x, const double* y, int count, double* vtv,
                double* vty) noexcept {
  switch (d) {
    case 1:
      return accumulate_d<1>(x, y, count, vtv, vty);
    case 2:
      return accumulate_d<2>(x, y, count, vtv, vty);
    case 3:
      return accumulate_d<3>(x, y, count, vtv, vty);
    case 4:
      return accumulate_d<4>(x, y, count, vtv, vty);
    case 5:
      return accumulate_d<5>(x, y, count, vtv, vty);
    case 6:
      return accumulate_d<6>(x, y, count, vtv, vty);
    case 7:
      return accumulate_d<7>(x, y, count, vtv, vty);
    case 8:
      return accumulate_d<8>(x, y, count, vtv, vty);
    case 9:
      return accumulate_d<9>(x, y, count, vtv, vty);
    case 10:
      return accumulate_d<10>(x, y, count, vtv, vty);
    default:
      return;
  }
}

int pivot_row(int d, const double* vtv, int j) noexcept {
  int e = j;
  double best = std::fabs(vtv[j * d + j]);
  for (int k = j + 1; k < d; ++k) {
    const double a = std::fabs(vtv[k * d + j]);
    if (a > best) {  // false for any NaN, on either side
      e = k;
      best = a;
    }
  }
  return e;
}

void solve(int d, double* vtv, double* vty) noexcept {
  for (int j = 0; j < d; ++j) {
    const int e = pivot_row(d, vtv, j);
    if (e != j) {
      for (int col = 0; col < d; ++col) std::swap(vtv[j * d + col], vtv[e * d + col]);
      std::swap(vty[j], vty[e]);
    }
    const double piv = vtv[j * d + j];
    if (piv == 0.0) continue;  // singular in this column: leave it as it stands
    for (int col = 0; col < d; ++col) vtv[j * d + col] = vtv[j * d + col] / piv;
    vty[j] = vty[j] / piv;
    for (int l = 0; l < d; ++l) {
      if (l == j) continue;
      const double f = vtv[l * d + j];
      for (int col = 0; col < d; ++col) vtv[l * d + col] = vtv[l * d + col] - f * vtv[j * d + col];
      vty[l] = vty[l] - f * vty[j];
    }
  }
}

}  // namespace skyloom::polyfit
