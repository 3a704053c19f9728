// Normal equations of the polynomial fit: accumulation and Gauss-Jordan solve.
#include "analysis/polyfit_core.h"

#include <cmath>
#include <utility>

namespace skyloom::polyfit {

namespace {

// One instance per d, so that every loop has a constant trip count and the column loops can be
// vectorised; the accumulators are locals so that the compiler knows they alias nothing.
template <int D>
void accumulate_d(const double* x, const double* y, int count, double* vtv, double* vty) noexcept {
  double m[D * D];
  double v[D];
  for (int k = 0; k < D * D; ++k) m[k] = vtv[k];
  for (int r = 0; r < D; ++r) v[r] = vty[r];
  for (int i = 0; i < count; ++i) {
    const double xi = x[i];
    const double yi = y[i];
    double row[D];
    row[D - 1] = 1.0;
    for (int col = D - 2; col >= 0; --col) row[col] = xi * row[col + 1];
    for (int r = 0; r < D; ++r) {
      for (int col = 0; col < D; ++col) m[r * D + col] = row[r] * row[col] + m[r * D + col];
      v[r] = yi * row[r] + v[r];
    }
  }
  for (int k = 0; k < D * D; ++k) vtv[k] = m[k];
  for (int r = 0; r < D; ++r) vty[r] = v[r];
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
