// The per-column extremes core against the rule written out point by point (fuzz/checks.h), on
// random and hostile data and views, through both the general scan and the sorted-x bisection,
// in blocks as buffers and as lists give them; plus what the sorted path reads, and stopping on
// poll, source, scratch and sink failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "fuzz/checks.h"
#include "screen/m4.h"

namespace skyloom::fuzz {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct Series {
  std::vector<double> x, y;
};

// Random walks, noise with spikes, quantised y (ties in py), everything in one column, values
// that log axes reject, and sprinkled NaN and infinities; sizes around the block length.
Series series(int kind, std::size_t n, std::mt19937_64& rng) {
  std::normal_distribution<double> g(0.0, 1.0);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  Series s;
  double w = 0;
  for (std::size_t i = 0; i < n; ++i) {
    w += g(rng);
    double x = static_cast<double>(i), y = w;
    switch (kind) {
      case 1:  // noise with spikes
        y = std::sin(i * 0.01) + 0.1 * g(rng) + (u(rng) < 0.002 ? 50 * g(rng) : 0);
        break;
      case 2:  // few distinct y values: many ties
        y = std::floor(w / 4);
        break;
      case 3:  // all in a handful of columns, long runs
        x = std::floor(i * 3.0 / n) + 0.5 * i / n;
        break;
      case 4:  // log axes: zero, negative, tiny and huge values
        x = i % 97 == 0 ? -1.0 : (i + 1) * 1e-3;
        y = i % 53 == 0 ? 0.0 : std::exp(w / 8);
        break;
      case 5:  // hostile values
        if (u(rng) < 0.01) y = u(rng) < 0.5 ? kNaN : (u(rng) < 0.5 ? kInf : -kInf);
        if (u(rng) < 0.003) x = u(rng) < 0.5 ? kInf : -kInf;
        break;
      case 6:  // unsorted x
        x = n * u(rng);
        break;
      case 7:  // distinct y values that mostly map to the same py
        y = 1 + std::round(w) * 0x1p-52;
        break;
      case 8:  // one column, a new level each block: distinct y, one py within a block
        x = i * 1e-3;
        y = std::floor(i / 1024.0) + ((i + 1) % 3) * 0x1p-50;
        break;
    }
    s.x.push_back(x);
    s.y.push_back(y);
  }
  return s;
}

// Views of a series of n points with y roughly within ±r: whole, zoomed into the middle,
// beyond the data on either side, at pl = 0 and negative pl, flipped and degenerate.
std::vector<Mapping> views(double n, double r) {
  return {
      {0, n, -r, 2 * r, 40, 330, 300, 300, 0, 0},
      {0, n, -r, 2 * r, 40, 330, 7, 300, 0, 0},
      {0, n, 1 - 1e-13, 2e-13, 40.5, 330, 3, 3e5, 0, 0},
      {n * 0.45, n * 0.02, -r, 2 * r, 0, 330, 300, 300, 0, 0},
      {n * 0.5, n * 0.001, -r / 8, r / 4, 12.5, 200, 37.3, 100, 0, 0},
      {-2 * n, n, -r, 2 * r, 0, 330, 300, 300, 0, 0},
      {2 * n, n, -r, 2 * r, 0, 330, 300, 300, 0, 0},
      {-n / 3, n / 2, -r, 2 * r, -20.7, 330, 100, 300, 0, 0},
      {0, n, r, -2 * r, 40, 330, 300, 300, 0, 0},
      {0, n, -r, 2 * r, 40, 330, 300, -300, 0, 0},
      {0, n, -r, 0, 40, 330, 300, 300, 0, 0},
      {0, 0, -r, 2 * r, 40, 330, 300, 300, 0, 0},
      {0, -n, -r, 2 * r, 40, 330, 300, 300, 0, 0},
      {0, n, -r, 2 * r, 40, 330, -300, 300, 0, 0},
      {0, n, kNaN, 2 * r, 40, 330, 300, 300, 0, 0},
      {0, n, -r, 2 * r, kNaN, 330, 300, 300, 0, 0},
      {0, n, -r, 2 * r, 1e300, 330, 1e300, 300, 0, 0},
      {0, n, -r, 2 * r, 40, 330, kInf, 300, 0, 0},
      {-3, std::log10(n) + 3, -2, 4, 40, 330, 300, 300, 1, 1},
      {0, std::log10(n), -2, 4, 0, 330, 300, 300, 1, 0},
      {-3, std::log10(n) + 3, -r, 2 * r, 40, 330, 300, 300, 0, 1},
  };
}

class M4Rule : public testing::TestWithParam<bool> {};  // snapped or not

TEST_P(M4Rule, EqualsTheRuleOnEverySeriesAndView) {
  const bool snap = GetParam();
  std::mt19937_64 rng(11);
  for (std::size_t n : {0, 1, 2, 3, 1023, 1024, 1025, 2049, 6000}) {
    for (int kind = 0; kind <= 8; ++kind) {
      const Series s = series(kind, n, rng);
      const bool sorted = kind != 4 && kind != 5 && kind != 6;
      for (const Mapping& v : views(static_cast<double>(n), 3 * std::sqrt(n + 1.0))) {
        SCOPED_TRACE(testing::Message() << "n " << n << " kind " << kind << " view x0 " << v.w.x0
                                        << " dx " << v.w.dx << " pl " << v.w.pl << " lx " << v.lx);
        EXPECT_EQ(m4_matches(s.x, s.y, v, false, false, snap), "");
        EXPECT_EQ(m4_matches<256>(s.x, s.y, v, false, false, snap), "");  // the blocks of lists
        if (sorted) {
          EXPECT_EQ(m4_matches(s.x, s.y, v, true, false, snap), "");
          EXPECT_EQ(m4_matches<256>(s.x, s.y, v, true, false, snap), "");
        }
      }
    }
  }
}

TEST_P(M4Rule, ReadInPlaceLongSeriesGiveTheRule) {
  const bool snap = GetParam();
  // Longer than a stretch reduced in one go, read in place: columns over several stretches, a
  // NaN y inside one, py ties within and across chunks.
  std::mt19937_64 rng(17);
  const std::size_t n = 150000;
  for (int kind : {0, 2, 3, 5, 7, 8}) {
    Series s = series(kind, n, rng);
    if (kind == 0) {
      for (std::size_t i : {70000, 70001, 140000}) s.y[i] = kNaN;
    }
    for (const Mapping& v : views(static_cast<double>(n), 3 * std::sqrt(n + 1.0))) {
      SCOPED_TRACE(testing::Message() << "kind " << kind << " view x0 " << v.w.x0 << " dx "
                                      << v.w.dx << " pw " << v.w.pw << " lx " << v.lx);
      EXPECT_EQ(m4_matches(s.x, s.y, v, false, true, snap), "");
      if (kind != 5) {
        EXPECT_EQ(m4_matches(s.x, s.y, v, true, true, snap), "");
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(M4, M4Rule, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& p) {
                           return p.param ? "Snapped" : "Plain";
                         });

TEST(M4, SortedPathHonoursNaNAndInfiniteY) {
  // NaN y inside visible columns (kept alone, splitting the column) and off the plot (not
  // splitting the off-screen run), infinities pinned to the edges.
  std::mt19937_64 rng(5);
  Series s = series(0, 5000, rng);
  for (std::size_t i : {0, 1, 700, 701, 1024, 2500, 2501, 2502, 4999}) s.y[i] = kNaN;
  for (std::size_t i : {30, 2600, 2601}) s.y[i] = kInf;
  s.y[2700] = -kInf;
  for (const Mapping& v : views(5000, 200)) EXPECT_EQ(m4_matches(s.x, s.y, v, true), "");
}

TEST(M4, UnsortedDataDespiteTheSortedPromiseStaysInRange) {
  std::mt19937_64 rng(7);
  for (int kind : {5, 6}) {
    Series s = series(kind, 5000, rng);
    s.x[100] = kNaN;
    for (const Mapping& v : views(5000, 200)) {
      VectorSource<> r{s.x, s.y};
      VectorSink sink;
      m4_to_screen(r, 5000, v, true, sink);
      EXPECT_FALSE(r.out_of_range);
      EXPECT_LE(sink.out.size(), 2 * s.x.size());
    }
  }
}

TEST(M4, SortedPathReadsOnlyTheVisibleColumns) {
  std::mt19937_64 rng(3);
  const std::size_t n = 1000000;
  const Series s = series(0, n, rng);
  // 1% of the data over 300 columns, and views beyond either end.
  for (double x0 : {0.37 * n, -2.0 * n, 3.0 * n}) {
    const Mapping v{x0, 0.01 * n, -3000, 6000, 0, 330, 300, 300, 0, 0};
    VectorSource<> r{s.x, s.y};
    VectorSink sink;
    ASSERT_EQ(m4_to_screen(r, static_cast<std::int32_t>(n), v, true, sink), Stop::kNone);
    long visible = 0;  // column 0 is two pixels wide: c(px) is 0 for -1 < px < 1
    for (double x : s.x) visible += std::fabs(std::trunc(v.px(x)) - 150) <= 150;
    EXPECT_LE(visible, static_cast<long>(0.0102 * n));
    EXPECT_LE(r.y_read, visible + 4);
    // Evenly spaced x: a column's end is guessed, then confirmed by a probe or two.
    EXPECT_LE(r.x_read, 301 * 4 + 2 * 21 + 1 + sink.out.size() / 2);
    EXPECT_EQ(m4_matches(s.x, s.y, v, true), "");
  }
}

TEST(M4, StopsOnPollSourceAndSinkFailures) {
  std::mt19937_64 rng(9);
  const Series s = series(0, 20000, rng);
  const Mapping v{0, 20000, -500, 1000, 0, 330, 300, 300, 0, 0};
  for (bool sorted : {false, true}) {
    {
      VectorSource<> r{s.x, s.y};
      r.stop_at = 1;
      VectorSink sink;
      EXPECT_EQ(m4_to_screen(r, 20000, v, sorted, sink), Stop::kInterrupted);
      EXPECT_EQ(r.polls, 2);
    }
    for (long at : {0, 1, 5, 15}) {
      VectorSource<> r{s.x, s.y};
      r.fail_at = at;
      VectorSink sink;
      EXPECT_EQ(m4_to_screen(r, 20000, v, sorted, sink), Stop::kSource) << at;
      EXPECT_EQ(r.calls, at + 1);
    }
    {
      VectorSource<> r{s.x, s.y};
      r.no_scratch = true;
      VectorSink sink;
      EXPECT_EQ(m4_to_screen(r, 20000, v, sorted, sink), Stop::kMemory);
      EXPECT_EQ(r.calls + r.polls, 0);
    }
    for (std::size_t limit : {0, 1, 7, 500}) {
      VectorSource<> r{s.x, s.y};
      VectorSink sink;
      sink.limit = limit;
      EXPECT_EQ(m4_to_screen(r, 20000, v, sorted, sink), Stop::kMemory);
      EXPECT_EQ(sink.out.size(), 2 * limit);
    }
  }
}

TEST(M4, RandomBytesPassTheFuzzCheck) {
  // Random views (NaN, infinities, huge and zero spans), values and stretched runs.
  std::mt19937_64 rng(13);
  for (int k = 0; k < 400; ++k) {
    std::vector<std::uint8_t> bytes(rng() % 600);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
    if (!bytes.empty() && k % 2) bytes[0] |= 0x80;
    EXPECT_EQ(check_m4(bytes.data(), bytes.size()), "") << k;
  }
}

TEST(M4, ChunkExtremesMatchAPlainLoop) {
  // Lengths around whole chunks and vector steps; NaN, infinities and both zeros anywhere.
  std::mt19937_64 rng(21);
  std::normal_distribution<double> g(0.0, 1.0);
  const double odd[] = {kNaN, kInf, -kInf, 0.0, -0.0, 1e308, -1e308};
  std::vector<double> lo(m4::kSpan / m4::kChunk), hi(lo.size());
  for (int k = 0; k < 300; ++k) {
    const std::int32_t m = k < 12 ? (k / 3 + 1) * m4::kChunk + (k % 3) - 1
                                  : static_cast<std::int32_t>(1 + rng() % 3000);
    std::vector<double> v(static_cast<std::size_t>(m) + 64);
    for (double& e : v) e = g(rng);
    for (int q = static_cast<int>(rng() % 4); q > 0; --q) {
      v[rng() % static_cast<std::size_t>(m)] = odd[rng() % (k % 2 ? 7 : 6) + (k % 2 ? 0 : 1)];
    }
    double mn = 0, mx = 0;
    const bool ok = m4::chunk_extremes(v.data(), m, m + 64, lo.data(), hi.data(), mn, mx);
    bool nan = false;
    for (std::int32_t c = 0, j = 0; c < m; c += m4::kChunk, ++j) {
      double a = kInf, b = -kInf;
      for (std::int32_t t = c; t < m && t < c + m4::kChunk; ++t) {
        nan = nan || v[t] != v[t];
        if (v[t] < a) a = v[t];
        if (v[t] > b) b = v[t];
      }
      if (!ok) continue;  // the chunks' bounds are unspecified then
      EXPECT_EQ(lo[j], a) << k << " chunk " << j;
      EXPECT_EQ(hi[j], b) << k << " chunk " << j;
    }
    EXPECT_EQ(ok, !nan) << k;
    if (ok) {
      EXPECT_EQ(mn, *std::min_element(v.begin(), v.begin() + m)) << k;
      EXPECT_EQ(mx, *std::max_element(v.begin(), v.begin() + m)) << k;
    }
  }
}

TEST(M4, PointBufferHoldsWhatTheScanPushes) {
  std::mt19937_64 rng(1);
  const Series s = series(6, 50000, rng);  // unsorted: tens of thousands of points kept
  const Mapping v{0, 50000, -1000, 2000, 0, 330, 300, 300, 0, 0};
  VectorSource<> r{s.x, s.y};
  PointBuffer buf;
  ASSERT_EQ(m4_to_screen(r, 50000, v, false, buf), Stop::kNone);
  const std::vector<double> want = plain::m4(s.x, s.y, v);
  ASSERT_EQ(buf.count() * 2, static_cast<std::int64_t>(want.size()));
  EXPECT_EQ(compare("buffer", buf.data(), want.data(), static_cast<int>(want.size())), "");
}

}  // namespace
}  // namespace skyloom::fuzz
