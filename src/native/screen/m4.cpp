// The block kernels of the per-column extremes scan: run keys, extremes and searches over short
// arrays of doubles. Built for AVX2 and for the baseline, the version chosen on first use; every
// result is the plain scalar loop's.
#include <cmath>
#include <cstring>
#include <limits>

#include "screen/m4_runs.h"
#include "simd.h"

namespace skyloom {

bool PointBuffer::grow() noexcept {
  const std::size_t cap = cap_ < 64 ? 128 : cap_ * 2;
  if (cap > SIZE_MAX / sizeof(double) / 2) return false;
  void* p = std::realloc(data_, cap * sizeof(double));
  if (p == nullptr) return false;
  data_ = static_cast<double*>(p);
  cap_ = cap;
  return true;
}

namespace m4 {

namespace {

using v4 = simd::F64x4;
using mask4 = simd::Mask4;

// By reference: 32-byte vectors by value would be passed differently by the two clones.
inline void load4(const double* a, v4& v) noexcept {
  v = v4::load(a);
}

inline bool any4(const mask4& m) noexcept {
  return simd::any(m);
}

inline void abs4(v4& v) noexcept {
  v = select(v < 0.0, -v, v);
}

// v truncated toward zero, for |v| <= 2^51 (no NaN): adding and subtracting 1.5 * 2^52 rounds
// to the nearest integer, one less when that is above.
inline void trunc4(const v4& v, v4& t) noexcept {
  const v4 magic = 0x1.8p52;
  v4 a = v;
  abs4(a);
  v4 f = (a + magic) - magic;
  f = select(f > a, f - 1.0, f);
  t = select(v < 0.0, -f, f);
}

// v rounded down, for |v| <= 2^51 (no NaN): the nearest integer, one less when that is above.
inline void floor4(const v4& v, v4& f) noexcept {
  const v4 magic = 0x1.8p52;
  v4 a = v;
  abs4(a);
  const v4 n = select(v < 0.0, -((a + magic) - magic), (a + magic) - magic);
  f = select(n > v, n - 1.0, n);
}

// The run key of the truncated pixel x c, ignoring y.
inline void key4(const v4& c, double lo, double hi, v4& k) noexcept {
  k = select(c < lo, v4(kLeft), select(c > hi, v4(kRight), c));
}

// The smallest and largest of values taken eight at a time, in two sets of four lanes each, from
// the first eight on; bad marks a NaN among the values whose lanes were tested.
struct Folds {
  v4 lo0, lo1, hi0, hi1;
  mask4 bad;

  explicit Folds(const double* v) noexcept {
    load4(v, lo0);
    load4(v + 4, lo1);
    hi0 = lo0;
    hi1 = lo1;
    bad = (lo0 != lo0) | (lo1 != lo1);
  }
  // NaN lanes leave the bounds as they are.
  void add(const v4& a, const v4& b) noexcept {
    lo0 = select(a < lo0, a, lo0);
    lo1 = select(b < lo1, b, lo1);
    hi0 = select(a > hi0, a, hi0);
    hi1 = select(b > hi1, b, hi1);
  }
  // The lanes folded into lo and hi.
  void merge(double& lo, double& hi) const noexcept {
    const v4 l = select(lo1 < lo0, lo1, lo0), h = select(hi1 > hi0, hi1, hi0);
    for (int k = 0; k < 4; ++k) {
      lo = l[k] < lo ? l[k] : lo;
      hi = h[k] > hi ? h[k] : hi;
    }
  }
};

// The body of extremes(), inlined into each clone.
inline bool extremes_of(const double* v, std::int32_t m, double& mn, double& mx) noexcept {
  assert(m > 0);
  std::int32_t t = 0;
  double lo = v[0], hi = v[0];
  bool nan = false;
  if (m >= 8) {
    Folds f(v);
    for (t = 8; t + 8 <= m; t += 8) {
      v4 a, b;
      load4(v + t, a);
      load4(v + t + 4, b);
      f.add(a, b);
      f.bad |= (a != a) | (b != b);
    }
    nan = any4(f.bad);
    f.merge(lo, hi);
  }
  for (; t < m; ++t) {
    const double a = v[t];
    nan = nan || a != a;
    lo = a < lo ? a : lo;
    hi = a > hi ? a : hi;
  }
  mn = lo;
  mx = hi;
  return !nan && lo == lo;
}

// extremes_of() for a whole chunk, sixteen values a step, the values `ahead` bytes further on
// prefetched as it goes (a line per eight values, when those lie before `end`): a sorted scan of
// 10^7 points took a sixth longer at eight a step with the prefetches in a loop of their own.
inline bool whole_chunk(const double* v, std::size_t ahead, std::size_t end, double& mn,
                        double& mx) noexcept {
  static_assert(kChunk % 16 == 0, "whole steps");
  Folds f(v);
  const bool fetch = ahead + kChunk * sizeof(double) <= end;
  for (std::int32_t t = 0; t < kChunk; t += 16) {
    if (fetch) {
      simd::prefetch(v, ahead + t * sizeof(double));
      simd::prefetch(v, ahead + (t + 8) * sizeof(double));
    }
    v4 a, b, c, d;
    load4(v + t, a);
    load4(v + t + 4, b);
    load4(v + t + 8, c);
    load4(v + t + 12, d);
    f.add(a, b);
    f.add(c, d);
    f.bad = f.bad | (((a != a) | (b != b)) | ((c != c) | (d != d)));
  }
  mn = v[0];
  mx = v[0];
  f.merge(mn, mx);
  return !any4(f.bad);
}

// Extends the run of points t, t + 1, ... before end with x in [lo, hi] and y not NaN, folding
// their y into mn and mx; returns where it stops.
inline std::int32_t run_of(const double* x, const double* y, std::int32_t t, std::int32_t end,
                           double lo, double hi, double& mn, double& mx) noexcept {
  if (t + 8 <= end) {
    v4 lo0 = mn, lo1 = mn, hi0 = mx, hi1 = mx;
    for (; t + 8 <= end; t += 8) {
      v4 a, b, c, d;
      load4(x + t, a);
      load4(x + t + 4, b);
      load4(y + t, c);
      load4(y + t + 4, d);
      const mask4 in = (a >= lo) & (a <= hi) & (b >= lo) & (b <= hi) & (c == c) & (d == d);
      if (any4(~in)) break;
      lo0 = select(c < lo0, c, lo0);
      lo1 = select(d < lo1, d, lo1);
      hi0 = select(c > hi0, c, hi0);
      hi1 = select(d > hi1, d, hi1);
    }
    lo0 = select(lo1 < lo0, lo1, lo0);
    hi0 = select(hi1 > hi0, hi1, hi0);
    for (int l = 0; l < 4; ++l) {
      mn = lo0[l] < mn ? lo0[l] : mn;
      mx = hi0[l] > mx ? hi0[l] : mx;
    }
  }
  for (; t < end; ++t) {
    const double a = x[t], c = y[t];
    if (!(a >= lo && a <= hi) || c != c) break;
    mn = c < mn ? c : mn;
    mx = c > mx ? c : mx;
  }
  return t;
}

// The first index t < m with lo <= v[t] <= hi (inside) or not (!inside), else m: eight values
// tested at a time until one hits.
template <bool inside>
inline std::int32_t first_where(const double* v, std::int32_t m, double lo, double hi) noexcept {
  std::int32_t t = 0;
  for (; t + 8 <= m; t += 8) {
    v4 a, b;
    load4(v + t, a);
    load4(v + t + 4, b);
    const mask4 ia = (a >= lo) & (a <= hi), ib = (b >= lo) & (b <= hi);
    if (any4(inside ? ia | ib : ~(ia & ib))) break;
  }
  for (; t < m; ++t) {
    if ((v[t] >= lo && v[t] <= hi) == inside) return t;
  }
  return m;
}

// The body of column_keys() (truncated columns) and of floor_keys().
template <bool kFloor>
inline void keys_of(double* px, const double* py, std::int32_t m, double lo, double hi) noexcept {
  std::int32_t t = 0;
  const v4 zero = 0.0;
  for (; t + 4 <= m; t += 4) {
    v4 p, q;
    load4(px + t, p);
    load4(py + t, q);
    // NaN lanes zeroed for the cut, then restored.
    v4 c, k;
    if constexpr (kFloor) {
      floor4(select(p == p, p, zero), c);
    } else {
      trunc4(select(p == p, p, zero), c);
    }
    key4(c, lo, hi, k);
    const v4 r = select(p == p, select(k == c, c + (q - q), k), p);
    r.store(px + t);
  }
  for (; t < m; ++t) {
    const double c = kFloor ? std::floor(px[t]) : std::trunc(px[t]);
    const double q = py[t];
    // q - q is 0, or NaN when py is (py is clamped: never infinite); NaN c stays NaN.
    px[t] = c < lo ? kLeft : (c > hi ? kRight : c + (q - q));
  }
}

}  // namespace

SKYLOOM_CLONES(column_keys)
void column_keys_body(double* px, const double* py, std::int32_t m, double lo, double hi) noexcept {
  keys_of<false>(px, py, m, lo, hi);
}

SKYLOOM_CLONES(floor_keys)
void floor_keys_body(double* px, const double* py, std::int32_t m, double lo, double hi) noexcept {
  keys_of<true>(px, py, m, lo, hi);
}

SKYLOOM_CLONES(extremes)
bool extremes_body(const double* v, std::int32_t m, double& mn, double& mx) noexcept {
  return extremes_of(v, m, mn, mx);
}

SKYLOOM_CLONES(chunk_extremes)
bool chunk_extremes_body(const double* v, std::int32_t m, std::int32_t readable, double* lo,
                         double* hi, double& mn, double& mx) noexcept {
  bool ok = true;
  // The hardware's prefetch alone leaves a y-only scan about a sixth slower.
  constexpr std::size_t ahead = kPrefetchChunks * kChunk * sizeof(double);
  const std::size_t end = static_cast<std::size_t>(readable) * sizeof(double);
  std::int32_t c = 0, j = 0;
  for (; m - c >= kChunk; c += kChunk, ++j) {
    ok = whole_chunk(v + c, ahead, end - static_cast<std::size_t>(c) * sizeof(double), lo[j],
                     hi[j]) &&
         ok;
  }
  if (c < m) ok = extremes_of(v + c, m - c, lo[j], hi[j]) && ok;
  if (!ok) return false;
  mn = lo[0];
  mx = hi[0];
  for (std::int32_t k = 1; k < (m + kChunk - 1) / kChunk; ++k) {
    mn = lo[k] < mn ? lo[k] : mn;
    mx = hi[k] > mx ? hi[k] : mx;
  }
  return true;
}

SKYLOOM_CLONES(cell_run)
std::int32_t cell_run_body(const double* x, const double* y, std::int32_t m, double lo, double hi,
                           double* chunk_lo, double* chunk_hi, double& mn, double& mx) noexcept {
  constexpr double inf = std::numeric_limits<double>::infinity();
  mn = inf;
  mx = -inf;
  std::int32_t t = 0;
  for (std::int32_t c = 0, j = 0; c < m && t == c; c += kChunk, ++j) {
    const std::int32_t end = m - c < kChunk ? m : c + kChunk;
    double a = inf, b = -inf;
    t = run_of(x, y, c, end, lo, hi, a, b);
    chunk_lo[j] = a;
    chunk_hi[j] = b;
    mn = a < mn ? a : mn;
    mx = b > mx ? b : mx;
    if (t < end) break;
  }
  return t;
}

SKYLOOM_CLONES(first_inside)
std::int32_t first_inside_body(const double* v, std::int32_t m, double lo, double hi) noexcept {
  return first_where<true>(v, m, lo, hi);
}

SKYLOOM_CLONES(first_other)
std::int32_t first_other_body(const double* v, std::int32_t m, double k) noexcept {
  return first_where<false>(v, m, k, k);
}

SKYLOOM_CLONES(first_outside)
std::int32_t first_outside_body(const double* v, std::int32_t m, double lo, double hi) noexcept {
  return first_where<false>(v, m, lo, hi);
}

std::int64_t order_key(double v) noexcept {
  std::int64_t b;
  std::memcpy(&b, &v, sizeof b);
  // Negative doubles order backwards by their bits; -0.0 lands just below +0.0.
  return b >= 0 ? b : -(b & INT64_MAX) - 1;
}

double from_order_key(std::int64_t k) noexcept {
  const std::int64_t b = k >= 0 ? k : (-(k + 1)) | INT64_MIN;
  double v;
  std::memcpy(&v, &b, sizeof v);
  return v;
}

}  // namespace m4

}  // namespace skyloom
