// The vectorised linear mapping: the same bits as data_to_screen, point by point, whatever the
// block length and the values (clamps, infinities, NaN, zero spans).
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "mapping/data_to_screen.h"
#include "mapping/map_linear.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

void expect_matches(const std::vector<double>& x, const std::vector<double>& y,
                    const skyloom::LinearView& v) {
  const auto m = static_cast<std::int32_t>(x.size());
  std::vector<double> inter(2 * x.size() + 1, -7.0), px(x.size() + 1, -7.0), py(x.size() + 1, -7.0);
  skyloom::map_linear_interleaved(x.data(), y.data(), m, v, inter.data());
  skyloom::map_linear_split(x.data(), y.data(), m, v, px.data(), py.data());
  for (std::int32_t k = 0; k < m; ++k) {
    double ex, ey;
    skyloom::data_to_screen(x[k], y[k], v.x0, v.dx, v.y0, v.dy, v.pl, v.pb, v.pw, v.ph, 0, 0, ex,
                            ey);
    EXPECT_TRUE(same_bits(inter[2 * k], ex)) << k << ": " << inter[2 * k] << " vs " << ex;
    EXPECT_TRUE(same_bits(inter[2 * k + 1], ey)) << k << ": " << inter[2 * k + 1] << " vs " << ey;
    EXPECT_TRUE(same_bits(px[k], ex)) << k;
    EXPECT_TRUE(same_bits(py[k], ey)) << k;
  }
  // Nothing written past the block.
  EXPECT_EQ(inter[2 * m], -7.0);
  EXPECT_EQ(px[m], -7.0);
  EXPECT_EQ(py[m], -7.0);
}

TEST(MapLinear, EqualsTheScalarMappingOnEveryBlockLength) {
  std::mt19937_64 rng(3);
  std::uniform_real_distribution<double> u(-2.0, 3.0);
  for (int m = 0; m <= 19; ++m) {
    std::vector<double> x(m), y(m);
    for (int k = 0; k < m; ++k) x[k] = u(rng), y[k] = u(rng);
    expect_matches(x, y, {0.1, 0.7, -1.3, 2.9, 40.0, 470.0, 1200.0, 430.0});
  }
}

TEST(MapLinear, ClampsInfinitiesAndNaNAsTheScalarMapping) {
  const std::vector<double> x = {1e300, -1e300, kInf, -kInf, kNaN, 0.0, -0.0, 1e-320, 0.5};
  const std::vector<double> y = {0.0, kNaN, -kInf, kInf, 1e300, -1e300, 5e-324, -0.0, 0.5};
  expect_matches(x, y, {0.0, 1.0, 0.0, 1.0, 0.0, 100.0, 100.0, 100.0});
  // Zero spans: infinities pinned to the limits, 0/0 left as NaN.
  expect_matches(x, y, {0.0, 0.0, 0.5, 0.0, 10.0, 20.0, 30.0, 40.0});
  // A NaN or infinite view makes every lane NaN or pinned, as in the scalar code.
  expect_matches(x, y, {kNaN, 1.0, 0.0, kInf, 0.0, 100.0, -100.0, 100.0});
}

}  // namespace
