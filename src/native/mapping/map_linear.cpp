// Linear data-to-screen mapping on vectors of points. Every lane performs exactly the scalar
// sequence (subtract, divide, multiply, add, then the two strict clamp tests), so the results are
// those of data_to_screen bit for bit; the vectors only do several points at a time. Built for
// AVX2 (no FMA: products and sums stay separate roundings) and for the baseline, the version
// chosen on first use.
#include "mapping/map_linear.h"

#include "mapping/data_to_screen.h"
#include "simd.h"

namespace skyloom {

namespace {

using simd::F64x4;

// Both tests strict and in this order: NaN lanes fail both and pass through.
inline void clamp4(F64x4& p) noexcept {
  const F64x4 hi = kPixelLimit, lo = -hi;
  p = select(p > hi, hi, select(p < lo, lo, p));
}

inline void map4(const double* x, const double* y, const LinearView& v, F64x4& px,
                 F64x4& py) noexcept {
  const F64x4 a = F64x4::load(x), b = F64x4::load(y);
  px = (a - v.x0) / v.dx * v.pw + v.pl;
  py = v.pb - (b - v.y0) / v.dy * v.ph;
  clamp4(px);
  clamp4(py);
}

inline void map1(double x, double y, const LinearView& v, double& px, double& py) noexcept {
  data_to_screen(x, y, v.x0, v.dx, v.y0, v.dy, v.pl, v.pb, v.pw, v.ph, 0, 0, px, py);
}

}  // namespace

SKYLOOM_CLONES(map_linear_interleaved)
void map_linear_interleaved_body(const double* x, const double* y, std::int32_t m,
                                 const LinearView& v, double* out) noexcept {
  std::int32_t k = 0;
  for (; k + 4 <= m; k += 4) {
    F64x4 px, py;
    map4(x + k, y + k, v, px, py);
    simd::shuffle<0, 4, 1, 5>(px, py).store(out + 2 * k);
    simd::shuffle<2, 6, 3, 7>(px, py).store(out + 2 * k + 4);
  }
  for (; k < m; ++k) map1(x[k], y[k], v, out[2 * k], out[2 * k + 1]);
}

SKYLOOM_CLONES(map_linear_split)
void map_linear_split_body(const double* x, const double* y, std::int32_t m, const LinearView& v,
                           double* px, double* py) noexcept {
  std::int32_t k = 0;
  for (; k + 4 <= m; k += 4) {
    F64x4 a, b;
    map4(x + k, y + k, v, a, b);
    a.store(px + k);
    b.store(py + k);
  }
  for (; k < m; ++k) map1(x[k], y[k], v, px[k], py[k]);
}

}  // namespace skyloom
