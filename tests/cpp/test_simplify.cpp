// The polyline simplification core: which points stay, at the limits of its rules.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "screen/simplify.h"

namespace {

using Points = std::vector<std::pair<double, double>>;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Runs the simplification with scratch of exactly the advertised size followed by a guard zone,
// and checks that nothing past the advertised scratch or the kept count was written.
Points simplify(const Points& pts, double tol2) {
  const auto n = static_cast<std::int32_t>(pts.size());
  std::vector<double> px, py;
  for (auto& p : pts) px.push_back(p.first), py.push_back(p.second);
  const std::size_t ints = skyloom::simplify_scratch_ints(n);
  std::vector<std::int32_t> scratch(ints + 16, 0x5a5a5a5a);
  std::vector<double> ox(n + 1, -7.0), oy(n + 1, -7.0);
  const std::int32_t m = skyloom::simplify_polyline(px.data(), py.data(), n, tol2, ox.data(),
                                                    oy.data(), scratch.data());
  for (std::size_t k = ints; k < scratch.size(); ++k) EXPECT_EQ(scratch[k], 0x5a5a5a5a);
  EXPECT_EQ(ox[n], -7.0);
  // Compacting in place gives the same points, bit for bit.
  std::vector<std::int32_t> scratch2(ints);
  EXPECT_EQ(skyloom::simplify_polyline(px.data(), py.data(), n, tol2, px.data(), py.data(),
                                       scratch2.data()),
            m);
  if (m > 0) {
    EXPECT_EQ(std::memcmp(px.data(), ox.data(), m * sizeof(double)), 0);
    EXPECT_EQ(std::memcmp(py.data(), oy.data(), m * sizeof(double)), 0);
  }
  Points out;
  for (std::int32_t k = 0; k < m; ++k) out.emplace_back(ox[k], oy[k]);
  return out;
}

TEST(Simplify, FewPointsComeBackUnchanged) {
  EXPECT_EQ(simplify({}, 0.25), Points{});
  EXPECT_EQ(simplify({{1, 2}}, 0.25), (Points{{1, 2}}));
  EXPECT_EQ(simplify({{1, 2}, {1, 2}}, 0.25), (Points{{1, 2}, {1, 2}}));
  double x = 0, y = 0;
  EXPECT_EQ(skyloom::simplify_polyline(&x, &y, -3, 0.25, &x, &y, nullptr), -3);
}

TEST(Simplify, DistanceIsComparedStrictlyAndToTheClosedSegment) {
  EXPECT_EQ(simplify({{0, 0}, {1, 1}, {2, 2}}, 0.25), (Points{{0, 0}, {2, 2}}));
  EXPECT_EQ(simplify({{0, 0}, {1, 0.5}, {2, 0}}, 0.25), (Points{{0, 0}, {2, 0}}));
  EXPECT_EQ(simplify({{0, 0}, {1, 0.5000001}, {2, 0}}, 0.25).size(), 3u);
  // On the line but one unit past the chord's end: measured to that end point.
  EXPECT_EQ(simplify({{0, 0}, {5, 0}, {4, 0}}, 0.25), (Points{{0, 0}, {5, 0}, {4, 0}}));
  EXPECT_EQ(simplify({{0, 0}, {-0.4, 0}, {4, 0}}, 0.25), (Points{{0, 0}, {4, 0}}));
}

TEST(Simplify, ClosedLoopSplitsAtThePointFarthestFromTheStart) {
  const Points loop = {{0, 0}, {1, 0}, {2, 0}, {2, 2}, {1, 0.8}, {0, 0}};
  EXPECT_EQ(simplify(loop, 0.25), (Points{{0, 0}, {2, 0}, {2, 2}, {0, 0}}));
  // A chord shorter than the threshold is measured from its start, a longer one from the end
  // point nearest to the sample.
  EXPECT_EQ(simplify({{0, 0}, {0.50000001, 0}, {3e-8, 0}}, 0.25).size(), 3u);
  EXPECT_EQ(simplify({{0, 0}, {0.50000001, 0}, {4e-8, 0}}, 0.25).size(), 2u);
}

TEST(Simplify, TiesGoToTheLowestIndex) {
  // Points 1 and 3 are both exactly 1 from the chord; whichever is marked first hides the other.
  EXPECT_EQ(simplify({{0, 0}, {1, 1}, {2, 0.5}, {3, 1}, {4, 0}}, 0.5),
            (Points{{0, 0}, {1, 1}, {4, 0}}));
}

TEST(Simplify, NaNRules) {
  EXPECT_EQ(simplify({{0, 0}, {1, kNaN}, {2, 5}, {3, 0}}, 0.25), (Points{{0, 0}, {2, 5}, {3, 0}}));
  EXPECT_EQ(simplify({{0, 0}, {kNaN, 9}, {3, 0}}, -1.0), (Points{{0, 0}, {3, 0}}));
  const Points ends = simplify({{kNaN, 0}, {1, 9}, {2, -9}, {3, 0}}, 0.25);
  ASSERT_EQ(ends.size(), 2u);
  EXPECT_EQ(ends[1], (std::pair<double, double>{3, 0}));
  EXPECT_EQ(simplify({{0, 0}, {1, 9}, {2, -9}, {3, 0}}, kNaN), (Points{{0, 0}, {3, 0}}));
  // Below −1 every range splits at its first interior point, NaN or not.
  const Points all = {{0, 0}, {1, 0}, {2, kNaN}, {3, 0}, {4, 0}};
  EXPECT_EQ(simplify(all, -1.5).size(), all.size());
}

// Reference: the same rules, recursively.
void reference(const Points& p, int s, int e, double tol2, std::vector<bool>& keep) {
  if (e - s <= 1) return;
  const double ax = p[s].first, ay = p[s].second;
  const double cx = p[e].first - ax, cy = p[e].second - ay, L = cx * cx + cy * cy;
  double best = -1.0;
  int idx = s + 1;
  for (int j = s + 1; j < e; ++j) {
    double d2;
    if (L < 1e-15) {
      d2 = (p[j].first - ax) * (p[j].first - ax) + (p[j].second - ay) * (p[j].second - ay);
    } else {
      double t = ((p[j].first - ax) * cx + (p[j].second - ay) * cy) / L;
      t = t < 0 ? 0 : (t > 1 ? 1 : t);
      const double fx = ax + t * cx - p[j].first, fy = ay + t * cy - p[j].second;
      d2 = fx * fx + fy * fy;
    }
    if (d2 > best) best = d2, idx = j;
  }
  if (!(best > tol2)) return;
  keep[idx] = true;
  reference(p, s, idx, tol2, keep);
  reference(p, idx, e, tol2, keep);
}

TEST(Simplify, MatchesTheRecursiveFormOnRandomWalks) {
  std::mt19937_64 rng(7);
  std::normal_distribution<double> step(0.0, 1.0);
  for (int round = 0; round < 300; ++round) {
    const int n = 3 + round % 97;
    Points p;
    double y = 0;
    for (int k = 0; k < n; ++k) p.emplace_back(round % 3 == 0 ? 0.0 : k * 0.3, y += step(rng));
    if (round % 5 == 0) p.back() = p.front();  // closed loops
    std::vector<bool> keep(n, false);
    keep.front() = keep.back() = true;
    reference(p, 0, n - 1, 0.25, keep);
    Points want;
    for (int k = 0; k < n; ++k)
      if (keep[k]) want.push_back(p[k]);
    EXPECT_EQ(simplify(p, 0.25), want) << "round " << round;
  }
}

TEST(Simplify, WorstCaseStaysInsideItsScratch) {
  Points zigzag;
  for (int k = 0; k < 2000; ++k) zigzag.emplace_back(k, (k % 2) * 10.0);
  EXPECT_EQ(simplify(zigzag, 0.25).size(), zigzag.size());
  EXPECT_EQ(simplify(zigzag, -2.0).size(), zigzag.size());
}

TEST(Simplify, ScratchIsCountedInSixtyFourBits) {
  EXPECT_EQ(skyloom::simplify_scratch_ints(INT32_MAX), 3ull * INT32_MAX);
  EXPECT_EQ(skyloom::simplify_scratch_ints(2), 0u);
}

}  // namespace

// Long ranges on a small integer lattice: many points at exactly the same distance, collinear
// runs, repeated points and NaN, so that the lowest-index rule decides often.
TEST(Simplify, MatchesTheRecursiveFormWithTiesAndNaN) {
  std::mt19937_64 rng(11);
  std::uniform_int_distribution<int> coord(-3, 3);
  for (int round = 0; round < 400; ++round) {
    const int n = 3 + round % 61;
    Points p;
    for (int k = 0; k < n; ++k) p.emplace_back(coord(rng), coord(rng));
    if (round % 4 == 1) p[n / 2].second = kNaN;
    if (round % 7 == 2) p[(n * 3) / 4].first = kNaN;
    const double tol2 = round % 3 == 0 ? 0.25 : 2.0;
    std::vector<bool> keep(n, false);
    keep.front() = keep.back() = true;
    reference(p, 0, n - 1, tol2, keep);
    Points want;
    for (int k = 0; k < n; ++k)
      if (keep[k]) want.push_back(p[k]);
    const Points got = simplify(p, tol2);
    ASSERT_EQ(got.size(), want.size()) << "round " << round;
    for (std::size_t k = 0; k < got.size(); ++k) {
      EXPECT_EQ(std::memcmp(&got[k], &want[k], sizeof got[k]), 0) << "round " << round << " " << k;
    }
  }
}

namespace {

// Counts the polls of the interruption hook and asks to stop at poll number stop_at.
struct Polls {
  int count = 0;
  int stop_at = -1;
  static bool poll(void* context) noexcept {
    auto* p = static_cast<Polls*>(context);
    return ++p->count == p->stop_at;
  }
};

}  // namespace

// The quadratic worst case (every range splits next to its end) polls the hook about once per
// kSimplifyPollEvery distance evaluations: a hook that never stops changes nothing, and one that
// stops ends the run at that poll with nothing written.
TEST(Simplify, InterruptionHookStopsWhenAskedAndOnlyThen) {
  const std::int32_t n = 4000;
  std::vector<double> px, py;
  for (std::int32_t k = 0; k < n; ++k) {
    px.push_back(2.0 * k);
    py.push_back(k % 2 ? -100.0 : 100.0);
  }
  std::vector<std::int32_t> scratch(skyloom::simplify_scratch_ints(n));
  std::vector<double> ox(n), oy(n), hx(n), hy(n);
  const std::int32_t m = skyloom::simplify_polyline(px.data(), py.data(), n, 0.25, ox.data(),
                                                    oy.data(), scratch.data());
  ASSERT_EQ(m, n);  // nothing can be dropped

  Polls never;
  const skyloom::Interrupt keep_going{&Polls::poll, &never};
  EXPECT_EQ(skyloom::simplify_polyline(px.data(), py.data(), n, 0.25, hx.data(), hy.data(),
                                       scratch.data(), keep_going),
            m);
  EXPECT_EQ(std::memcmp(hx.data(), ox.data(), n * sizeof(double)), 0);
  EXPECT_EQ(std::memcmp(hy.data(), oy.data(), n * sizeof(double)), 0);
  // About n²/2 evaluations in all.
  const double evaluations = 0.5 * n * n;
  EXPECT_GE(never.count, static_cast<int>(evaluations / skyloom::kSimplifyPollEvery) - 1);
  EXPECT_LE(never.count, static_cast<int>(evaluations / skyloom::kSimplifyPollEvery) + 1);

  Polls second;
  second.stop_at = 2;
  std::vector<double> sx(n, -7.0), sy(n, -7.0);
  EXPECT_EQ(skyloom::simplify_polyline(px.data(), py.data(), n, 0.25, sx.data(), sy.data(),
                                       scratch.data(), {&Polls::poll, &second}),
            skyloom::kSimplifyStopped);
  EXPECT_EQ(second.count, 2);
  for (std::int32_t k = 0; k < n; ++k) ASSERT_TRUE(sx[k] == -7.0 && sy[k] == -7.0) << k;
}
