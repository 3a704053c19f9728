// The data-to-screen mapping: linear and log axes, the pixel clamp, zero spans and NaN.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>

#include "mapping/data_to_screen.h"

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Px {
  double x, y;
};

// The inputs go through volatile so that the compiler cannot fold the mapping at compile time
// with arithmetic of its own: the test must see the run-time operations.
Px map(double x, double y, double x0, double dx, double y0, double dy, double pl, double pb,
       double pw, double ph, int lx, int ly) {
  volatile double in[10] = {x, y, x0, dx, y0, dy, pl, pb, pw, ph};
  Px p{};
  skyloom::data_to_screen(in[0], in[1], in[2], in[3], in[4], in[5], in[6], in[7], in[8], in[9], lx,
                          ly, p.x, p.y);
  return p;
}

TEST(DataToScreen, WindowOriginIsThePlotCorner) {
  for (double x0 : {0.0, -3.25, 1e-300, 7e200}) {
    Px p = map(x0, -x0, x0, 0.1, -x0, 3.0, 17.5, 480.25, 640.0, 400.0, 0, 0);
    EXPECT_EQ(p.x, 17.5) << x0;
    EXPECT_EQ(p.y, 480.25) << x0;
  }
}

TEST(DataToScreen, LogAxisTakesDecades) {
  Px p = map(100.0, 5.0, 0.0, 4.0, 0.0, 10.0, 10.0, 350.0, 400.0, 300.0, 1, 0);
  EXPECT_EQ(p.x, 210.0);
  EXPECT_EQ(p.y, 200.0);
  p = map(5.0, 1000.0, 0.0, 10.0, 1.0, 4.0, 0.0, 400.0, 100.0, 400.0, 0, 1);
  EXPECT_EQ(p.x, 50.0);
  EXPECT_EQ(p.y, 200.0);
}

TEST(DataToScreen, NonPositiveOrNaNOnALogAxisGoesOffThePlot) {
  for (double v : {0.0, -0.0, -1.0, -kInf, kNaN, -DBL_MIN}) {
    for (double pw : {800.0, 1.0}) {  // with and without overflow on the way
      Px p = map(v, v, 0.0, 3.0, 0.0, 3.0, 0.0, 0.0, pw, pw, 1, 1);
      EXPECT_EQ(p.x, -1e6) << v << " " << pw;
      EXPECT_EQ(p.y, 1e6) << v << " " << pw;
    }
  }
  // The floor is finite: with a wide enough span it lands inside the clamp.
  Px p = map(0.0, 1.0, 0.0, 1e308, 0.0, 1.0, 0.0, 0.0, 100.0, 1.0, 1, 0);
  EXPECT_EQ(p.x, -100.0);
  // The smallest positive value is a real logarithm, not the floor.
  p = map(std::numeric_limits<double>::denorm_min(), 1.0, 0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 1.0, 1.0, 1,
          0);
  EXPECT_NEAR(p.x, -323.3062153431158, 1e-12);
}

TEST(DataToScreen, ClampIsStrictAndLetsNaNThrough) {
  EXPECT_EQ(map(1e6, -1e6, 0, 1, 0, 1, 0, 0, 1, 1, 0, 0).x, 1e6);
  EXPECT_EQ(map(-1e6, 0, 0, 1, 0, 1, 0, 0, 1, 1, 0, 0).x, -1e6);
  EXPECT_EQ(map(0, -1e6, 0, 1, 0, 1, 0, 0, 1, 1, 0, 0).y, 1e6);
  EXPECT_EQ(map(1e6 + 1, 1e6 + 1, 0, 1, 0, 1, 0, 0, 1, 1, 0, 0).x, 1e6);
  EXPECT_EQ(map(1e6 + 1, 1e6 + 1, 0, 1, 0, 1, 0, 0, 1, 1, 0, 0).y, -1e6);
  EXPECT_EQ(map(std::nextafter(1e6, 2e6), 0, 0, 1, 0, 1, 0, 0, 1, 1, 0, 0).x, 1e6);
  EXPECT_EQ(map(999999.9999999999, 0, 0, 1, 0, 1, 0, 0, 1, 1, 0, 0).x, 999999.9999999999);
  Px p = map(kInf, kInf, 0, 1, 0, 1, 0, 0, 1, 1, 1, 1);
  EXPECT_EQ(p.x, 1e6);
  EXPECT_EQ(p.y, -1e6);
  p = map(-kInf, -kInf, 0, 1, 0, 1, 0, 0, 1, 1, 0, 0);
  EXPECT_EQ(p.x, -1e6);
  EXPECT_EQ(p.y, 1e6);
  p = map(kNaN, kNaN, 0, 1, 0, 1, 0, 0, 1, 1, 0, 0);
  EXPECT_TRUE(std::isnan(p.x));
  EXPECT_TRUE(std::isnan(p.y));
}

TEST(DataToScreen, ZeroSpanGivesPinnedInfinitiesOrNaN) {
  Px p = map(2.0, 2.0, 1.0, 0.0, 1.0, 0.0, 5.0, 5.0, 10.0, 10.0, 0, 0);
  EXPECT_EQ(p.x, 1e6);
  EXPECT_EQ(p.y, -1e6);
  p = map(0.5, 0.5, 1.0, 0.0, 1.0, 0.0, 5.0, 5.0, 10.0, 10.0, 0, 0);
  EXPECT_EQ(p.x, -1e6);
  EXPECT_EQ(p.y, 1e6);
  p = map(1.0, 1.0, 1.0, 0.0, 1.0, 0.0, 5.0, 5.0, 10.0, 10.0, 0, 0);
  EXPECT_TRUE(std::isnan(p.x));
  EXPECT_TRUE(std::isnan(p.y));
  p = map(10.0, 10.0, 1.0, 0.0, 1.0, -0.0, 5.0, 5.0, 10.0, 10.0, 1, 1);  // log10(10) = x0
  EXPECT_TRUE(std::isnan(p.x));
  EXPECT_TRUE(std::isnan(p.y));
}

TEST(DataToScreen, OperationsInTheirOwnOrder) {
  // (X - x0) / dx * pw + pl: dividing first and multiplying second differs from scaling by
  // pw / dx, and from a fused multiply-add, for these values.
  const double x = 0.574, x0 = 0.0, dx = 11.0, pw = 227.0, pl = 6.35;
  Px p = map(x, x, x0, dx, x0, dx, pl, pl, pw, pw, 0, 0);
  volatile double q = (x - x0) / dx;
  volatile double s = q * pw;
  EXPECT_EQ(p.x, s + pl);
  EXPECT_EQ(p.y, pl - s);
  volatile double alt = pw / dx;
  EXPECT_NE(p.x, (x - x0) * alt + pl);
  EXPECT_NE(p.x, std::fma(q, pw, pl));
  EXPECT_NE(p.y, std::fma(-q, pw, pl));
}

}  // namespace
