// The nearest-point core: the filtered scan against the unfiltered one on random series, the hit
// test's rules through a mapping and a buffer source, block boundaries, log axes, and the
// filters' assertions being live in this build.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "analysis/nearest_core.h"
#include "fuzz/checks.h"

namespace skyloom {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Data (x, y) at pixels (100 x, 100 - 100 y); x in decades on a log x axis.
Mapping unit_view(int lx = 0, int ly = 0) {
  return Mapping{{0, 1, 0, 1, 0, 100, 100, 100}, lx, ly};
}

struct Hit {
  double x, y, d;
};

// The scan as the kernel runs it on a series of two or more points: vertex 0 mapped alone, the
// rest read from buffers a block at a time.
Hit nearest_of(const std::vector<double>& xs, const std::vector<double>& ys, const Mapping& map,
               double mx, double my) {
  const Strided sx{reinterpret_cast<const char*>(xs.data()), sizeof(double), ElementType::F64};
  const Strided sy{reinterpret_cast<const char*>(ys.data()), sizeof(double), ElementType::F64};
  BufferSource src(sx, sy, [](std::int64_t) { return true; });
  EXPECT_TRUE(src.allocate(static_cast<std::int32_t>(xs.size()), 2));
  nearest::Vertex v0{xs[0], ys[0], 0, 0};
  map.point(v0.x, v0.y, v0.px, v0.py);
  nearest::Best best;
  const auto n = static_cast<std::int32_t>(xs.size());
  EXPECT_EQ(nearest::scan(src, n, map, mx, my, v0, best), Stop::kNone);
  EXPECT_EQ(fuzz::nearest_matches<kBufferBlock>(xs, ys, map, mx, my, nullptr), "");
  return {best.bxi, best.byi, best.bd};
}

TEST(NearestCore, HitTestRules) {
  struct Case {
    const char* what;
    std::vector<double> xs, ys;
    double mx, my;
    Hit want;
  } cases[] = {
      {"foot inside", {0, 1}, {0, 0}, 50, 90, {0.5, 0, 10}},
      {"foot before the start", {0, 1}, {0, 0}, -30, 60, {0, 0, 50}},
      {"the first of equal distances", {0, 1, 1, 0}, {0, 0, 0.25, 0.25}, 50, 87.5, {0.5, 0, 12.5}},
      {"degenerate segment", {1, 1}, {0, 0}, 103, 104, {1, 0, 5}},
      {"NaN vertex never wins", {0, kNaN, 1}, {0, 0, 0}, 50, 100, {0, 0, DBL_MAX}},
      {"infinite query", {0, 1}, {0, 0}, kInf, 100, {0, 0, DBL_MAX}},
      {"NaN query", {0, 1}, {0, 0}, 50, kNaN, {0, 0, DBL_MAX}},
      {"pinned pixels", {-1e9, 1e9}, {-1e9, -1e9}, 0, 0, {0, -1e9, 1e6}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const Hit h = nearest_of(c.xs, c.ys, unit_view(), c.mx, c.my);
    EXPECT_EQ(h.x, c.want.x) << c.what;
    EXPECT_EQ(h.y, c.want.y) << c.what;
    EXPECT_EQ(h.d, c.want.d) << c.what;
  }
}

TEST(NearestCore, LogAxesInterpolateTheDataChord) {
  // Decades 0 ... 2 over 100 pixels: x = 1 and 100 at 0 and 100 pixels, the foot halfway.
  Mapping map{{0, 2, 0, 1, 0, 100, 100, 100}, 1, 0};
  Hit h = nearest_of({1, 100}, {0, 0}, map, 50, 100);
  EXPECT_EQ(h.x, 50.5);
  EXPECT_EQ(h.d, 0);
  // Both axes logarithmic: (10, 10) - (100, 1000) at (100, 200) - (200, 0).
  map = Mapping{{0, 2, 0, 3, 0, 300, 200, 300}, 1, 1};
  h = nearest_of({1, 10, 100}, {10, 10, 1000}, map, 150, 100);
  EXPECT_EQ(h.x, 55);
  EXPECT_EQ(h.y, 505);
  EXPECT_EQ(h.d, 0);
  // A non-positive value lands at -1e6 pixels; the segment to it is still measured.
  h = nearest_of({1, 10, 100, -5}, {10, 10, 1000, 1000}, map, 150, -3);
  EXPECT_EQ(h.d, 3);
  EXPECT_LT(h.x, 100);
  EXPECT_EQ(h.y, 1000);
}

TEST(NearestCore, SegmentsAcrossBlockBoundaries) {
  // All segments 100 pixels from the query but the dip at vertices j, j + 1 (50 pixels), which
  // is placed on either side of and across the boundaries of the source's blocks.
  const std::int32_t B = kBufferBlock;
  for (std::int32_t n : {B, B + 1, B + 2, B + 3, 2 * B + 1, 2 * B + 2}) {
    for (std::int32_t j : {B - 2, B - 1, B, B + 1, 2 * B - 1, 2 * B, n - 2}) {
      if (j < 0 || j > n - 2) continue;
      SCOPED_TRACE(testing::Message() << "n " << n << ", dip at " << j);
      std::vector<double> xs(n), ys(n, 1.0);
      for (std::int32_t i = 0; i < n; ++i) xs[i] = i;
      ys[j] = ys[j + 1] = 0.5;
      const Hit h = nearest_of(xs, ys, unit_view(), 100 * (j + 0.5), 100);
      EXPECT_EQ(h.x, j + 0.5);
      EXPECT_EQ(h.y, 0.5);
      EXPECT_EQ(h.d, 50);
    }
  }
}

// A random series: a walk on a coarse grid (ties, repeated and collinear points), now and then a
// special value, a tiny or huge scale, or a run far away from the query.
struct RandomSeries {
  std::mt19937_64 rng;

  double special() {
    static const double v[] = {kNaN, kInf, -kInf, 1e6, -1e6, 1e300, 0, 1e-150, 1e150, 1e-160};
    return v[rng() % (sizeof v / sizeof v[0])];
  }
  // Mostly a grid step; now and then one of a few units in some far lower bit (near-ties, feet
  // rounded off their segment's box).
  double step() {
    const int e = rng() % 4 == 0 ? 3 + static_cast<int>(rng() % 60) : 3;
    return std::ldexp(static_cast<int>(rng() % 9) - 4, -e);
  }

  void fill(std::vector<double>& xs, std::vector<double>& ys, double& mx, double& my) {
    const std::size_t n = 1 + rng() % 300;
    const double scale =
        rng() % 4 == 0 ? std::ldexp(1.0, static_cast<int>(rng() % 1100) - 600) : 1.0;
    xs.assign(1, 0.0);
    ys.assign(1, 0.0);
    while (xs.size() < n) {
      double x = xs.back() + step() * scale, y = ys.back() + step() * scale;
      if (rng() % 16 == 0) (rng() % 2 ? x : y) = special();
      if (rng() % 64 == 0) {
        for (int k = 0; k < 200; ++k) {
          xs.push_back((1e4 + k % 2) * scale);
          ys.push_back(ys.back());
        }
      }
      xs.push_back(x);
      ys.push_back(y);
    }
    mx = rng() % 16 == 0 ? special() : step() * scale;
    my = rng() % 16 == 0 ? special() : step() * scale;
  }
};

TEST(NearestCore, FilteredScanIsTheUnfilteredScan) {
  RandomSeries gen{std::mt19937_64(7)};
  std::vector<double> xs, ys;
  fuzz::NearestReach reach;
  for (int k = 0; k < 3000; ++k) {
    double mx, my;
    gen.fill(xs, ys, mx, my);
    // Pixels = data (as the fuzz check maps them) or the unit view, linear or logarithmic.
    Mapping map = k % 2 ? Mapping{{0, 1, 0, 1, 0, 0, 1, -1}, 0, 0} : unit_view();
    map.lx = k % 8 == 2;
    map.ly = k % 8 == 4;
    const std::string r = k % 3 ? fuzz::nearest_matches<3>(xs, ys, map, mx, my, &reach)
                                : fuzz::nearest_matches<64>(xs, ys, map, mx, my, &reach);
    ASSERT_EQ(r, "") << "series " << k << " of " << xs.size() << " points";
  }
  EXPECT_EQ(reach.missing(), "");
}

// Each filter asserts that what it skips could not have won: with a bound that does not match
// the best distance, the skip is wrong and the assertion must fire. (This fails if the tests are
// ever built with NDEBUG again.)
TEST(NearestCoreDeathTest, FilterAssertionsAreChecked) {
  nearest::Best best;
  best.bd = 10;
  best.bound = 0;  // the box test then skips anything, here a vertex 5 pixels away
  EXPECT_DEATH(nearest::visit(0, 0, {0, 0, 3, 4}, {0, 0, 3, 4}, best), "distance");
  best.bound = 40;  // the query inside the box; the squared test skips the foot at (5, 5)
  EXPECT_DEATH(nearest::visit(0, 0, {0, 0, 0, 10}, {0, 0, 10, 0}, best), "hypot");
}

}  // namespace
}  // namespace skyloom
