// The series index against the full scans it stands in for: the bounds pyramid's nodes and
// sorted-x count, and nearest points found through it, bit for bit the scan's on random series
// (NaN and infinite values, log axes, clamped pixels, cursors on and off the curve), also after
// the series grew or changed in place.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "analysis/nearest_core.h"
#include "index/nearest_index.h"

namespace skyloom::index {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

Strided strided(const std::vector<double>& v) {
  return Strided{reinterpret_cast<const char*>(v.data()), sizeof(double), ElementType::F64};
}

// The full scan, as the kernels run it.
nearest::Hit scanned(const std::vector<double>& xs, const std::vector<double>& ys, std::int64_t n,
                     const Mapping& map, double mx, double my) {
  BufferSource src(strided(xs), strided(ys), [](std::int64_t) { return true; });
  EXPECT_TRUE(src.allocate(static_cast<std::int32_t>(n), 2));
  nearest::Hit hit{};
  bool first_failed;
  EXPECT_EQ(nearest::find(src, static_cast<std::int32_t>(n), map, mx, my, hit, first_failed),
            Stop::kNone);
  return hit;
}

nearest::Hit indexed(const Pyramid& p, const Mapping& map, double mx, double my,
                     std::int64_t* leaves = nullptr) {
  NearestQuery q(p, map, mx, my);
  nearest::Hit hit{};
  EXPECT_EQ(q.run(hit), Stop::kNone);
  if (leaves) *leaves = q.leaves_scanned();
  return hit;
}

std::uint64_t bits(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

void expect_same(const nearest::Hit& a, const nearest::Hit& b, const char* what) {
  EXPECT_EQ(bits(a.x), bits(b.x)) << what << " x " << a.x << " " << b.x;
  EXPECT_EQ(bits(a.y), bits(b.y)) << what << " y " << a.y << " " << b.y;
  EXPECT_EQ(bits(a.d), bits(b.d)) << what << " d " << a.d << " " << b.d;
}

// A series of a kind that the index must get right: walks, sines, repeated x, runs of NaN,
// infinities, values that log axes floor, and coarse values that tie.
void series(std::mt19937_64& rng, std::int64_t n, std::vector<double>& xs,
            std::vector<double>& ys) {
  std::normal_distribution<double> g;
  std::uniform_int_distribution<int> kind(0, 5), pick(0, 99);
  const int k = kind(rng);
  xs.resize(n);
  ys.resize(n);
  double w = 0;
  for (std::int64_t i = 0; i < n; ++i) {
    w += g(rng);
    xs[i] = k == 1 ? std::floor(static_cast<double>(i) / 7) : static_cast<double>(i);
    ys[i] = k == 2 ? std::sin(static_cast<double>(i) / 50) : k == 3 ? std::round(w) : w;
    if (k == 4) xs[i] = std::round(g(rng) * 30);  // unsorted x, coarse: many ties
    const int p = pick(rng);
    if (p < 2) ys[i] = kNaN;
    if (p == 2) xs[i] = kNaN;
    if (p == 3) ys[i] = pick(rng) < 50 ? kInf : -kInf;
    if (p == 4 && k == 5) ys[i] = -std::fabs(ys[i]);  // non-positive: floored on a log axis
  }
}

Mapping view_for(std::mt19937_64& rng, const std::vector<double>& xs,
                 const std::vector<double>& ys) {
  std::uniform_real_distribution<double> u(0, 1);
  std::uniform_int_distribution<int> flag(0, 3);
  double x_lo = kInf, x_hi = -kInf, y_lo = kInf, y_hi = -kInf;
  for (double v : xs) {
    if (std::isfinite(v)) x_lo = std::min(x_lo, v), x_hi = std::max(x_hi, v);
  }
  for (double v : ys) {
    if (std::isfinite(v)) y_lo = std::min(y_lo, v), y_hi = std::max(y_hi, v);
  }
  if (!(x_lo < x_hi)) x_lo = 0, x_hi = 1;
  if (!(y_lo < y_hi)) y_lo = 0, y_hi = 1;
  const int lx = flag(rng) == 0, ly = flag(rng) == 0;
  const double zoom = u(rng) < 0.3 ? 0.01 : 1.0;
  double x0 = x_lo + u(rng) * 0.5 * (x_hi - x_lo), dx = (x_hi - x_lo) * zoom;
  double y0 = y_lo, dy = y_hi - y_lo;
  if (lx) x0 = 0, dx = std::log10(std::max(x_hi, 10.0));
  if (ly) y0 = -1, dy = std::log10(std::max(y_hi, 10.0)) + 1;
  if (u(rng) < 0.2) dx = -dx;  // a mapping that falls
  return Mapping{{x0, dx, y0, dy, 10.5, 250, 322, 246}, lx, ly};
}

// A hook that asks to stop from its k-th question on.
struct StopAfter {
  int left;
  Interrupt hook() {
    return Interrupt{[](void* self) noexcept { return --static_cast<StopAfter*>(self)->left < 0; },
                     this};
  }
};

bool same_bounds(const Pyramid& a, const Pyramid& b) {
  if (a.count() != b.count() || a.x_ascends() != b.x_ascends()) return false;
  for (int l = 0; l < b.levels(); ++l) {
    for (std::int64_t k = 0; k < b.nodes(l); ++k) {
      const Bounds &p = a.bounds({l, k}), &q = b.bounds({l, k});
      if (std::memcmp(&p, &q, offsetof(Bounds, y_nan) + 1) != 0) return false;
    }
  }
  return true;
}

TEST(Index, NearestMatchesTheScan) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> u(0, 1);
  const std::int64_t sizes[] = {1, 2, 3, 255, 256, 257, 512, 4097, 70000};
  for (int round = 0; round < 60; ++round) {
    const std::int64_t n = sizes[round % std::size(sizes)];
    std::vector<double> xs, ys;
    series(rng, n, xs, ys);
    const Mapping map = view_for(rng, xs, ys);
    Pyramid p;
    ASSERT_EQ(p.build(strided(xs), strided(ys), n, n), Stop::kNone);
    for (int q = 0; q < 20; ++q) {
      // A cursor on a vertex, near the curve, or anywhere, sometimes far off the plot.
      const std::int64_t i = static_cast<std::int64_t>(u(rng) * static_cast<double>(n));
      double mx, my;
      map.point(xs[i], ys[i], mx, my);
      if (q % 3 == 1) mx += u(rng) * 20 - 10, my += u(rng) * 20 - 10;
      if (q % 3 == 2) mx = u(rng) * 400 - 40, my = u(rng) * 300;
      if (q == 19) mx = 1e300;
      if (!std::isfinite(mx) || !std::isfinite(my)) mx = 100, my = 100;
      SCOPED_TRACE(testing::Message() << "round " << round << " n " << n << " query " << q);
      expect_same(indexed(p, map, mx, my), scanned(xs, ys, n, map, mx, my), "nearest");
    }
  }
}

TEST(Index, NearestPrunesMostLeavesNearACurve) {
  const std::int64_t n = 1 << 20;
  std::vector<double> xs(n), ys(n);
  std::mt19937_64 rng(3);
  std::normal_distribution<double> g;
  double w = 0;
  for (std::int64_t i = 0; i < n; ++i) xs[i] = static_cast<double>(i), ys[i] = w += g(rng);
  Pyramid p;
  ASSERT_EQ(p.build(strided(xs), strided(ys), n, n), Stop::kNone);
  const Mapping map = view_for(rng, xs, ys);
  double mx, my;
  map.point(xs[n / 3], ys[n / 3], mx, my);
  std::int64_t leaves = 0;
  expect_same(indexed(p, map, mx + 3, my - 2, &leaves), scanned(xs, ys, n, map, mx + 3, my - 2),
              "walk");
  EXPECT_LT(leaves, p.nodes(0) / 20);
}

TEST(Index, EqualDistancesGoToTheEarliestSegment) {
  // Pixels are data (dx = pw = 128). Leaf 0: a vertical segment 10 pixels left of the cursor.
  // Leaf 3: a ring around the cursor, its right side 10 pixels away, its box holding the cursor:
  // visited first, it finds the distance that the earlier segment ties and must win.
  const double cx = 64, cy = 64;
  std::vector<double> xs, ys;
  auto add = [&](double x, double y, std::int64_t until) {
    while (static_cast<std::int64_t>(xs.size()) < until) xs.push_back(x), ys.push_back(y);
  };
  xs = {cx - 10}, ys = {0};
  add(cx - 10, 128, kLeaf);    // leaf 0
  add(-1000, 128, 3 * kLeaf);  // far to the left, at the top
  const double ring[][2] = {{cx + 10, 30}, {cx + 10, 100}, {cx - 20, 100}, {cx - 20, 30}};
  for (const auto& v : ring) xs.push_back(v[0]), ys.push_back(128 - v[1]);
  add(cx + 10, 128 - 30, 4 * kLeaf);  // leaf 3 closes the ring
  const std::int64_t n = static_cast<std::int64_t>(xs.size());
  Pyramid p;
  ASSERT_EQ(p.build(strided(xs), strided(ys), n, n), Stop::kNone);
  const Mapping map{{0, 128, 0, 128, 0, 128, 128, 128}, 0, 0};
  const nearest::Hit want = scanned(xs, ys, n, map, cx, cy);
  EXPECT_EQ(want.x, cx - 10);
  EXPECT_EQ(want.d, 10);
  expect_same(indexed(p, map, cx, cy), want, "tie");
}

TEST(Index, GrowsAndChangesInPlace) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> u(0, 1);
  const std::int64_t cap = 5000;
  std::vector<double> xs, ys;
  series(rng, cap, xs, ys);
  for (std::int64_t i = 0; i < cap; ++i) xs[i] = static_cast<double>(i);  // ascending
  Pyramid p;
  ASSERT_EQ(p.build(strided(xs), strided(ys), 0, cap), Stop::kNone);
  EXPECT_TRUE(p.x_ascends());
  std::int64_t n = 0;
  for (std::int64_t step : {1, 255, 1, 300, 2000, 7, 2436}) {
    n += step;
    p.extend(n);
    Pyramid fresh;
    ASSERT_EQ(fresh.build(strided(xs), strided(ys), n, n), Stop::kNone);
    EXPECT_TRUE(same_bounds(p, fresh)) << n;
    const Mapping map = view_for(rng, xs, ys);
    expect_same(indexed(p, map, 100, 120), scanned(xs, ys, n, map, 100, 120), "grown");
  }
  // A falling pair makes x not ascend; put back, it ascends again.
  xs[1000] = -1;
  p.refresh(1000, 1001);
  EXPECT_FALSE(p.x_ascends());
  xs[1000] = 1000;
  p.refresh(1000, 1001);
  EXPECT_TRUE(p.x_ascends());
  xs[4999] = kNaN;
  p.refresh(4999, 5000);
  EXPECT_FALSE(p.x_ascends());
  // Changes anywhere, then the index against the scan.
  for (int r = 0; r < 20; ++r) {
    const std::int64_t a = static_cast<std::int64_t>(u(rng) * cap);
    const std::int64_t b = std::min(cap, a + 1 + static_cast<std::int64_t>(u(rng) * 600));
    for (std::int64_t i = a; i < b; ++i) ys[i] = u(rng) < 0.05 ? kNaN : u(rng) * 100 - 50;
    p.refresh(a, b);
    const Mapping map = view_for(rng, xs, ys);
    double mx, my;
    map.point(xs[a], ys[a], mx, my);
    if (!std::isfinite(mx) || !std::isfinite(my)) mx = 50, my = 50;
    expect_same(indexed(p, map, mx, my), scanned(xs, ys, cap, map, mx, my), "refreshed");
  }
}

TEST(Index, InterruptedUpdatesLeaveSoundBounds) {
  const std::int64_t cap = 3 * kAskEvery * kLeaf;
  std::vector<double> xs(cap), ys(cap);
  for (std::int64_t i = 0; i < cap; ++i) xs[i] = static_cast<double>(i), ys[i] = std::sin(i * 1e-3);
  Pyramid p, want;
  ASSERT_EQ(p.build(strided(xs), strided(ys), 1000, cap), Stop::kNone);
  ASSERT_EQ(want.build(strided(xs), strided(ys), 1000, 1000), Stop::kNone);
  StopAfter once{1};
  EXPECT_EQ(p.extend(cap, once.hook()), Stop::kInterrupted);
  EXPECT_TRUE(same_bounds(p, want));  // as it was
  ASSERT_EQ(p.extend(cap), Stop::kNone);
  // New values in the first two thirds; stopped after one third, then done again.
  for (std::int64_t i = 0; i < 2 * cap / 3; ++i) ys[i] = 5 + std::cos(i * 1e-3);
  StopAfter again{1};
  EXPECT_EQ(p.refresh(0, 2 * cap / 3, again.hook()), Stop::kInterrupted);
  const Bounds& top = p.bounds({p.levels() - 1, 0});
  EXPECT_GE(top.y_hi, 5.9);   // the refreshed leaves reach the top
  EXPECT_LE(top.y_lo, -0.9);  // and the old ones are still there
  ASSERT_EQ(p.refresh(0, 2 * cap / 3), Stop::kNone);
  ASSERT_EQ(want.build(strided(xs), strided(ys), cap, cap), Stop::kNone);
  EXPECT_TRUE(same_bounds(p, want));
  StopAfter never{1};
  EXPECT_EQ(Pyramid().build(strided(xs), strided(ys), cap, cap, never.hook()), Stop::kInterrupted);
}

TEST(Index, RangeSearchesMatchALinearScan) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(0, 1);
  for (std::int64_t n : {1, 300, 256 * 16 + 5, 256 * 16 * 16 * 2 + 77}) {
    std::vector<double> xs(n), ys(n);
    double w = 0;
    for (std::int64_t i = 0; i < n; ++i) {
      xs[i] = static_cast<double>(i);
      w += u(rng) - 0.5;
      ys[i] = u(rng) < 0.01 ? kNaN : w;
    }
    Pyramid p;
    ASSERT_EQ(p.build(strided(xs), strided(ys), n, n), Stop::kNone);
    for (int q = 0; q < 300; ++q) {
      std::int64_t s = static_cast<std::int64_t>(u(rng) * static_cast<double>(n + 1));
      std::int64_t e = static_cast<std::int64_t>(u(rng) * static_cast<double>(n + 1));
      if (s > e) std::swap(s, e);
      if (q % 7 == 0) s = 0, e = n;
      const double lo = w + (u(rng) - 0.6) * 30, hi = lo + u(rng) * (q % 3 ? 10 : 0.01);
      std::int64_t want_first[2] = {e, e}, want_last[2] = {s - 1, s - 1};
      Bounds want = Bounds::empty();
      for (std::int64_t i = s; i < e; ++i) {
        const bool in = ys[i] >= lo && ys[i] <= hi;
        if (want_first[in] == e) want_first[in] = i;
        want_last[in] = i;
        want.add(xs[i], ys[i]);
      }
      for (int inside = 0; inside < 2; ++inside) {
        EXPECT_EQ(p.first_y(s, e, lo, hi, inside), want_first[inside]) << n << " " << s << " " << e;
        EXPECT_EQ(p.last_y(s, e, lo, hi, inside), want_last[inside]) << n << " " << s << " " << e;
      }
      const Bounds got = p.range(s, e);
      EXPECT_EQ(std::memcmp(&got, &want, offsetof(Bounds, y_nan) + 1), 0) << s << " " << e;
    }
  }
}

// Every leaf's bounds and the count of pairs where x does not ascend against a plain loop, for
// the contiguous path (with and without NaN) and a strided view, leaves full and short.
TEST(Index, LeavesMatchAPlainLoop) {
  std::mt19937_64 rng(5);
  std::uniform_int_distribution<int> pick(0, 999);
  for (int r = 0; r < 60; ++r) {
    const std::int64_t n = 1 + pick(rng) * 3;
    std::vector<double> xs(2 * n), ys(2 * n);
    for (std::int64_t i = 0; i < 2 * n; ++i) {
      // Mostly ascending with ties and single falls anywhere in a leaf, rarely NaN.
      xs[i] = static_cast<double>(i / 2) - (pick(rng) < 5 ? 3 : 0);
      ys[i] = pick(rng) - 500.0;
      if (r % 3 == 0 && pick(rng) < 2) (pick(rng) < 500 ? xs[i] : ys[i]) = kNaN;
    }
    const int stride = r % 4 == 3 ? 2 : 1;
    const Strided sx{reinterpret_cast<const char*>(xs.data()), stride * 8, ElementType::F64};
    const Strided sy{reinterpret_cast<const char*>(ys.data()), stride * 8, ElementType::F64};
    Pyramid p;
    ASSERT_EQ(p.build(sx, sy, n, n), Stop::kNone);
    std::int64_t falls = 0;
    for (std::int64_t i = 0; i + 1 < n; ++i) falls += !(xs[i * stride] <= xs[(i + 1) * stride]);
    EXPECT_EQ(p.falls(), falls) << r;
    for (std::int64_t k = 0; k < p.nodes(0); ++k) {
      Bounds want = Bounds::empty();
      for (std::int64_t i = k * kLeaf; i < std::min(n, (k + 1) * kLeaf); ++i) {
        want.add(xs[i * stride], ys[i * stride]);
      }
      const Bounds& got = p.bounds({0, k});
      // By value: which zero a bound keeps is the lanes' choice.
      EXPECT_TRUE(got.x_lo == want.x_lo && got.x_hi == want.x_hi && got.y_lo == want.y_lo &&
                  got.y_hi == want.y_hi && got.x_nan == want.x_nan && got.y_nan == want.y_nan)
          << r << " leaf " << k;
    }
  }
}

TEST(Index, BoundsOfEmptyAndNaNNodes) {
  std::vector<double> xs = {kNaN, kNaN, 1, 2}, ys = {kNaN, 0, kNaN, 5};
  Pyramid p;
  ASSERT_EQ(p.build(strided(xs), strided(ys), 4, 4), Stop::kNone);
  const Bounds& b = p.bounds({p.levels() - 1, 0});
  EXPECT_TRUE(b.x_nan && b.y_nan);
  EXPECT_EQ(b.x_lo, 1);
  EXPECT_EQ(b.x_hi, 2);
  EXPECT_EQ(b.y_lo, 0);
  EXPECT_EQ(b.y_hi, 5);
  EXPECT_FALSE(p.x_ascends());
  // Log axes floor NaN and non-positive values: segments through them can win.
  const Mapping logs{{0, 1, 0, 1, 0, 100, 100, 100}, 1, 1};
  for (double mx : {0.0, 50.0, -1e6}) {
    expect_same(indexed(p, logs, mx, 1e6), scanned(xs, ys, 4, logs, mx, 1e6), "log floor");
  }
}

}  // namespace
}  // namespace skyloom::index
