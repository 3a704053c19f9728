// Normal equations of the polynomial fit: accumulation and Gauss-Jordan solve.
#include "analysis/polyfit_core.h"

#include <cmath>
#include <cstring>
#include <utility>

namespace skyloom::polyfit {

namespace {

// Two doubles, one lane per column: element-wise products and sums are the same IEEE operations
// as the scalar ones, so vectorising across the columns of a row changes no rounding.
using v2 = double __attribute__((vector_size(16)));

inline v2 load2(const double* a) noexcept {
  v2 v;
  std::memcpy(&v, a, sizeof v);
  return v;
}

inline v2 splat(double a) noexcept {
  return v2{a, a};
}

// Points are taken a block at a time: their powers are built once into a table, and then each
// group of rows of vtv is accumulated over the whole block with its entries held in registers.
constexpr int kBlock = 64;

// Adds the block's points to rows r ... r + R - 1 of vtv and, with Y, to vty. Row width is
// padded to whole vectors; the padding lane of p is 0 and its sums are never stored.
template <int D, int R, bool Y>
inline void add_rows(const double (*p)[(D + 1) / 2 * 2], const double* y, int m, int r, double* vtv,
                     double* vty) noexcept {
  constexpr int V = (D + 1) / 2;
  v2 a[R + Y][V];
  for (int q = 0; q < R + Y; ++q) {
    const double* src = q < R ? vtv + (r + q) * D : vty;
    for (int k = 0; k < V; ++k) a[q][k] = v2{src[2 * k], 2 * k + 1 < D ? src[2 * k + 1] : 0.0};
  }
  for (int i = 0; i < m; ++i) {
    v2 b[R + Y];  // row[r + q] of point i, then y of point i
    for (int q = 0; q < R; ++q) b[q] = splat(p[i][r + q]);
    if (Y) b[R] = splat(y[i]);
    for (int k = 0; k < V; ++k) {
      const v2 pk = load2(&p[i][2 * k]);
      for (int q = 0; q < R + Y; ++q) a[q][k] = b[q] * pk + a[q][k];
    }
  }
  for (int q = 0; q < R + Y; ++q) {
    double* dst = q < R ? vtv + (r + q) * D : vty;
    for (int c = 0; c < D; ++c) dst[c] = a[q][c / 2][c % 2];
  }
}

// One instance per d, so that every loop has a constant trip count.
template <int D>
void accumulate_d(const double* x, const double* y, int count, double* vtv, double* vty) noexcept {
  constexpr int V = (D + 1) / 2;
  constexpr int R = D <= 3 ? D : 2;  // rows per pass, as many as the registers hold
  alignas(16) double p[kBlock][2 * V];
  for (int i0 = 0; i0 < count; i0 += kBlock) {
    const int m = count - i0 < kBlock ? count - i0 : kBlock;
    for (int i = 0; i < m; ++i) {
      double* row = p[i];
      row[2 * V - 1] = 0.0;
      row[D - 1] = 1.0;
      for (int col = D - 2; col >= 0; --col) row[col] = x[i0 + i] * row[col + 1];
    }
    add_rows<D, R, true>(p, y + i0, m, 0, vtv, vty);
    int r = R;
    for (; r + R <= D; r += R) add_rows<D, R, false>(p, y + i0, m, r, vtv, vty);
    if (r < D) add_rows<D, 1, false>(p, y + i0, m, r, vtv, vty);
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
