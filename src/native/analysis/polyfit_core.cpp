// Normal equations of the polynomial fit: accumulation (an AVX2 version on four lanes and a
// baseline one on pairs, chosen on first use) and Gauss-Jordan solve.
#include "analysis/polyfit_core.h"

#include <cmath>
#include <utility>

#include "simd.h"

namespace skyloom::polyfit {

namespace {

// Points are taken a block at a time: their powers are built once into a table, and then the
// rows of vtv are accumulated over the whole block a few rows per pass, each pass holding its
// entries in registers, one lane per column. Lane-wise products and sums are the same IEEE
// operations as the scalar ones, so vectorising across the columns of a row changes no rounding.
// Only the upper triangle is accumulated: row[r] * row[col] and row[col] * row[r] are the same
// IEEE product (NaN powers of one x all carry x's bits), so both triangles run through the same
// sums, and the lower one is copied from the upper one at the end.
constexpr int kBlock = 64;
// Points ahead of the block whose lines are asked for first (when they are among the caller's).
// The accumulation reads memory too slowly for its streams to run far ahead of it on their own:
// without the requests, arrays of 10^7 points take about 1.5 times as long as in cache.
constexpr int kAhead = 128;

// Vectors of N lanes in a row of d entries.
constexpr int row_width(int d, int N) {
  return (d + N - 1) / N;
}

// Vectors of row r from the one that holds its diagonal entry on: its upper triangle.
constexpr int row_vectors(int d, int N, int r) {
  return row_width(d, N) - r / N;
}

// Rows in the pass that starts at row r (and takes vty too when y): as many as keep its
// accumulators, one broadcast per row and one loaded vector within x86-64's 16 vector registers.
constexpr int pass_rows(int d, int N, int r, bool y) {
  int regs = y ? row_width(d, N) + 2 : 1;
  int rows = 0;
  while (r + rows < d) {
    const int more = row_vectors(d, N, r + rows) + 1;
    if (rows > 0 && regs + more > 16) break;
    regs += more;
    ++rows;
  }
  return rows;
}

// A block's powers, row-major (row[i] the padded row of point i: the loaded vectors) and, with four
// lanes, also column-major (col[c][i]: broadcasts straight from memory, no shuffles), with the
// block's y values copied beside them as the powers are built: read there in bulk, their cache
// misses overlap, where one at a time in the pass each would hold up the running sums (at 10^7
// points that took 4.3 ns per point against 2.9 with the copy).
template <int D, int N>
struct Table {
  static constexpr int P = row_width(D, N) * N;
  static constexpr bool kColumns = N == 4;
  alignas(32) double row[kBlock][P];
  alignas(32) double col[kColumns ? P : 1][kColumns ? kBlock : 1];
  alignas(32) double ys[kColumns ? kBlock : 1];

  SKYLOOM_INLINE double power(int i, int c) const noexcept {
    if constexpr (kColumns) {
      return col[c][i];
    } else {
      return row[i][c];
    }
  }
};

// Entries c ... c + N - 1 of a row of D, zeros past its end.
template <int D, int N>
SKYLOOM_INLINE simd::Vec<double, N> part(const double* src, int c) noexcept {
  const auto at = [&](int l) { return c + l < D ? src[c + l] : 0.0; };
  if constexpr (N == 2) {
    return {at(0), at(1)};
  } else {
    return {at(0), at(1), at(2), at(3)};
  }
}

// Adds the block's points to rows r ... r + R - 1 of vtv (upper triangle, to whole vectors) and,
// with Y, to vty. The rows of the table are padded to whole vectors with zeros whose sums are
// never stored.
template <int D, int N, int r, int R, bool Y>
SKYLOOM_INLINE void add_pass(const Table<D, N>& t, const double* y, int m, double* vtv,
                             double* vty) noexcept {
  using V = simd::Vec<double, N>;
  constexpr int W = row_width(D, N);
  constexpr int Q = R + (Y ? 1 : 0);  // accumulated rows: vtv's, then vty
  constexpr int k_lo = Y ? 0 : r / N;
  V a[Q][W];
  SKYLOOM_UNROLL
  for (int q = 0; q < Q; ++q) {
    const double* src = q < R ? vtv + (r + q) * D : vty;
    SKYLOOM_UNROLL
    for (int k = q < R ? (r + q) / N : 0; k < W; ++k) a[q][k] = part<D, N>(src, N * k);
  }
  for (int i = 0; i < m; ++i) {
    V b[Q];  // row[r + q] of point i, then y of point i
    SKYLOOM_UNROLL
    for (int q = 0; q < R; ++q) b[q] = t.power(i, r + q);
    if (Y) b[R] = y[i];
    SKYLOOM_UNROLL
    for (int k = k_lo; k < W; ++k) {
      const V pk = V::load(&t.row[i][N * k]);
      SKYLOOM_UNROLL
      for (int q = 0; q < Q; ++q) {
        if (q < R && k < (r + q) / N) continue;
        a[q][k] = b[q] * pk + a[q][k];
      }
    }
  }
  SKYLOOM_UNROLL
  for (int q = 0; q < Q; ++q) {
    double* dst = q < R ? vtv + (r + q) * D : vty;
    SKYLOOM_UNROLL
    for (int c = q < R ? (r + q) / N * N : 0; c < D; ++c) dst[c] = a[q][c / N][c % N];
  }
}

// The passes from row r to the last; the first one takes vty too.
template <int D, int N, int r, bool Y>
SKYLOOM_INLINE void add_passes(const Table<D, N>& t, const double* y, int m, double* vtv,
                               double* vty) noexcept {
  if constexpr (r < D) {
    constexpr int R = pass_rows(D, N, r, Y);
    add_pass<D, N, r, R, Y>(t, y, m, vtv, vty);
    add_passes<D, N, r + R, false>(t, y, m, vtv, vty);
  }
}

// The powers of point i: x^(D-1) ... x, 1, each x times the next, then zero padding.
template <int D, int N>
SKYLOOM_INLINE void fill_one(double x, int i, Table<D, N>& t) noexcept {
  double* row = t.row[i];
  for (int col = D; col < Table<D, N>::P; ++col) row[col] = 0.0;
  row[D - 1] = 1.0;
  for (int col = D - 2; col >= 0; --col) row[col] = x * row[col + 1];
  if constexpr (Table<D, N>::kColumns) {
    for (int col = 0; col < D; ++col) t.col[col][i] = row[col];
  }
}

// The powers of points 0 ... m - 1. With four lanes, four points at a time: one vector per
// column, then 4 x 4 transposes into the rows.
template <int D, int N>
SKYLOOM_INLINE void fill(const double* x, const double* y, int m, Table<D, N>& t) noexcept {
  int i = 0;
  if constexpr (Table<D, N>::kColumns) {
    using simd::F64x4;
    using simd::shuffle;
    constexpr int P = Table<D, N>::P;
    for (; i + 4 <= m; i += 4) {
      const F64x4 xv = F64x4::load(x + i);
      F64x4::load(y + i).store(t.ys + i);
      F64x4 c[P];
      SKYLOOM_UNROLL
      for (int col = D; col < P; ++col) c[col] = 0.0;
      c[D - 1] = 1.0;
      SKYLOOM_UNROLL
      for (int col = D - 2; col >= 0; --col) c[col] = xv * c[col + 1];
      SKYLOOM_UNROLL
      for (int col = 0; col < D; ++col) c[col].store(&t.col[col][i]);
      SKYLOOM_UNROLL
      for (int g = 0; g < P; g += 4) {
        const F64x4 lo01 = shuffle<0, 4, 2, 6>(c[g], c[g + 1]);
        const F64x4 hi01 = shuffle<1, 5, 3, 7>(c[g], c[g + 1]);
        const F64x4 lo23 = shuffle<0, 4, 2, 6>(c[g + 2], c[g + 3]);
        const F64x4 hi23 = shuffle<1, 5, 3, 7>(c[g + 2], c[g + 3]);
        shuffle<0, 1, 4, 5>(lo01, lo23).store(&t.row[i][g]);
        shuffle<0, 1, 4, 5>(hi01, hi23).store(&t.row[i + 1][g]);
        shuffle<2, 3, 6, 7>(lo01, lo23).store(&t.row[i + 2][g]);
        shuffle<2, 3, 6, 7>(hi01, hi23).store(&t.row[i + 3][g]);
      }
    }
  }
  for (; i < m; ++i) {
    fill_one<D, N>(x[i], i, t);
    if constexpr (Table<D, N>::kColumns) t.ys[i] = y[i];
  }
}

// One instance per d, so that every loop has a constant trip count.
template <int D, int N>
SKYLOOM_INLINE void accumulate_d(const double* x, const double* y, int count, double* vtv,
                                 double* vty) noexcept {
  Table<D, N> t;
  for (int i0 = 0; i0 < count; i0 += kBlock) {
    const int m = count - i0 < kBlock ? count - i0 : kBlock;
    if (count - i0 >= kAhead + kBlock) {
      for (int k = kAhead; k < kAhead + kBlock; k += 8) {
        simd::prefetch(x + i0, k * sizeof(double));
        simd::prefetch(y + i0, k * sizeof(double));
      }
    }
    fill<D, N>(x + i0, y + i0, m, t);
    add_passes<D, N, 0, true>(t, Table<D, N>::kColumns ? t.ys : y + i0, m, vtv, vty);
  }
  for (int r = 1; r < D; ++r) {
    for (int c = 0; c < r; ++c) vtv[r * D + c] = vtv[c * D + r];
  }
}

// Lanes per vector for d coefficients: pairs, or with Wide (AVX2) four once a row has more than
// two entries.
constexpr int lanes(int d, bool wide) {
  return wide && d > 2 ? 4 : 2;
}

// accumulate_d for d = 1 to kMaxD picked at run time, each instance inlined into the caller's
// version; any other d adds nothing.
template <bool Wide, int... D>
SKYLOOM_INLINE void accumulate_any(int d, const double* x, const double* y, int count, double* vtv,
                                   double* vty, std::integer_sequence<int, D...>) noexcept {
  (void)((d == D + 1 && (accumulate_d<D + 1, lanes(D + 1, Wide)>(x, y, count, vtv, vty), true)) ||
         ...);
}

template <bool Wide>
SKYLOOM_INLINE void accumulate_any(int d, const double* x, const double* y, int count, double* vtv,
                                   double* vty) noexcept {
  accumulate_any<Wide>(d, x, y, count, vtv, vty, std::make_integer_sequence<int, kMaxD>{});
}

}  // namespace

// The two versions of accumulate(): four lanes only pay where they are one instruction.
SKYLOOM_VERSIONS(accumulate)

void accumulate_baseline(int d, const double* x, const double* y, int count, double* vtv,
                         double* vty) noexcept {
  accumulate_any<false>(d, x, y, count, vtv, vty);
}

void accumulate_avx2(int d, const double* x, const double* y, int count, double* vtv,
                     double* vty) noexcept {
  accumulate_any<true>(d, x, y, count, vtv, vty);
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
