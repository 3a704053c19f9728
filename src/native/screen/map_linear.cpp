// Linear data-to-screen mapping on vectors of points. Every lane performs exactly the scalar
// sequence (subtract, divide, multiply, add, then the two strict clamp tests), so the results are
// those of data_to_screen bit for bit; the vectors only do several points at a time. Built for
// AVX2 (no FMA: products and sums stay separate roundings) with a baseline fallback chosen at load
// time.
#include "screen/map_linear.h"

#include <cstring>

#include "screen/data_to_screen.h"

namespace skyloom {

namespace {

using v4 = double __attribute__((vector_size(32)));
using m4 = long long __attribute__((vector_size(32)));

// Helpers take and give vectors by reference: passing 32-byte vectors by value would depend on
// whether AVX is enabled, which differs between the clones.
inline void load4(const double* a, v4& v) noexcept {
  std::memcpy(&v, a, sizeof v);
}

inline void store4(double* a, const v4& v) noexcept {
  std::memcpy(a, &v, sizeof v);
}

// Both tests strict and in this order: NaN lanes fail both and pass through.
inline void clamp4(v4& p) noexcept {
  const v4 hi = {kPixelLimit, kPixelLimit, kPixelLimit, kPixelLimit};
  const v4 lo = -hi;
  p = p > hi ? hi : (p < lo ? lo : p);
}

inline void map4(const double* x, const double* y, const LinearView& v, v4& px, v4& py) noexcept {
  v4 a, b;
  load4(x, a);
  load4(y, b);
  px = (a - v.x0) / v.dx * v.pw + v.pl;
  py = v.pb - (b - v.y0) / v.dy * v.ph;
  clamp4(px);
  clamp4(py);
}

// Lanes i, j, k, l of the eight in a and b: GCC and clang spell the two-vector shuffle
// differently.
#if defined(__clang__)
#define SHUFFLE4(a, b, i, j, k, l) __builtin_shufflevector(a, b, i, j, k, l)
#else
#define SHUFFLE4(a, b, i, j, k, l) __builtin_shuffle(a, b, m4{i, j, k, l})
#endif

inline void map1(double x, double y, const LinearView& v, double& px, double& py) noexcept {
  data_to_screen(x, y, v.x0, v.dx, v.y0, v.dy, v.pl, v.pb, v.pw, v.ph, 0, 0, px, py);
}

}  // namespace

__attribute__((target_clones("avx2", "default"))) void map_linear_interleaved(
    const double* x, const double* y, std::int32_t m, const LinearView& v, double* out) noexcept {
  std::int32_t k = 0;
  for (; k + 4 <= m; k += 4) {
    v4 px, py;
    map4(x + k, y + k, v, px, py);
    const v4 lo = SHUFFLE4(px, py, 0, 4, 1, 5);
    const v4 hi = SHUFFLE4(px, py, 2, 6, 3, 7);
    store4(out + 2 * k, lo);
    store4(out + 2 * k + 4, hi);
  }
  for (; k < m; ++k) map1(x[k], y[k], v, out[2 * k], out[2 * k + 1]);
}

__attribute__((target_clones("avx2", "default"))) void map_linear_split(
    const double* x, const double* y, std::int32_t m, const LinearView& v, double* px,
    double* py) noexcept {
  std::int32_t k = 0;
  for (; k + 4 <= m; k += 4) {
    v4 a, b;
    map4(x + k, y + k, v, a, b);
    store4(px + k, a);
    store4(py + k, b);
  }
  for (; k < m; ++k) map1(x[k], y[k], v, px[k], py[k]);
}

}  // namespace skyloom
