// Points counted in 64 bits: block lengths, walks over blocks and the decimation's indices
// across 2^31 and 2^32, the curve's scratch at the limits of memory, the simplification
// counted in either width, and the sorted per-column extremes of series past 2^32 points (and of
// 32-bit counts up to their largest).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "analysis/trapezoid_core.h"
#include "fuzz/checks.h"
#include "screen/curve_core.h"
#include "screen/decimate_core.h"
#include "screen/m4.h"
#include "screen/simplify.h"
#include "source/blocks.h"

namespace skyloom {
namespace {

constexpr std::int64_t k31 = std::int64_t{1} << 31;
constexpr std::int64_t k32 = std::int64_t{1} << 32;

// A series of any length made on demand: point i is (i - origin, 1). Records the blocks it
// hands out.
struct MadeSource {
  using Count = std::int64_t;
  static constexpr std::int32_t kBlock = 1024;
  static constexpr std::int32_t kVisit = kBlock;

  std::int64_t origin = 0;
  std::vector<std::pair<std::int64_t, std::int32_t>> blocks;
  double x[kBlock], y[kBlock];

  template <class Index>
  bool block_at(Count from, std::int32_t count, Index idx, const double*& ox, const double*& oy) {
    blocks.emplace_back(from, count);
    for (std::int32_t k = 0; k < count; ++k) {
      x[k] = static_cast<double>(idx(from + k) - origin);
      y[k] = 1.0;
    }
    ox = x;
    oy = y;
    return true;
  }
  bool block(Count from, std::int32_t count, const double*& ox, const double*& oy) {
    return block_at(
        from, count, [](Count i) { return i; }, ox, oy);
  }
  template <class Step>
  bool visit(Count from, std::int32_t count, Step& step) {
    const double *ox, *oy;
    block(from, count, ox, oy);
    for (std::int32_t k = 0; k < count; ++k) step(ox[k], oy[k]);
    return true;
  }
  bool poll() { return true; }
};

TEST(WideCounts, BlockLengthTakesTheWholeCount) {
  EXPECT_EQ(block_length(1024, k32 + 3), 1024);  // not the 3 of its low 32 bits
  EXPECT_EQ(block_length(1024, k31), 1024);
  EXPECT_EQ(block_length(1024, std::int64_t{1000}), 1000);
  EXPECT_EQ(block_length(1024, std::int32_t{1024}), 1024);
}

// Walks that cross 2^31 and 2^32 (and end just past them): consecutive blocks of at most
// kBlock points, from the first point asked for to the last, and a running sum over them.
TEST(WideCounts, WalksAcrossTwoToThe31And32) {
  for (const std::int64_t edge : {k31, k32}) {
    for (const std::int64_t past : {std::int64_t{1}, std::int64_t{1500}, std::int64_t{2048}}) {
      const std::int64_t from = edge - 2500, n = edge + past;
      MadeSource s;
      s.origin = from;
      Trapezoid t{-1e300, 1e300};
      ASSERT_EQ(for_each_point(s, from, n, t), Stop::kNone);
      std::int64_t next = from;
      for (const auto& [at, count] : s.blocks) {
        EXPECT_EQ(at, next);
        EXPECT_GE(count, 1);
        EXPECT_LE(count, MadeSource::kBlock);
        next = at + count;
      }
      EXPECT_EQ(next, n) << edge << " + " << past;
      // Unit steps of height 1 from x = 0 to x = n - from - 1.
      EXPECT_EQ(t.total, static_cast<double>(n - from - 1));
    }
  }
}

// The decimation's input indices for series longer than 2^31 - 1 points: within one of the
// exact i * n / out_n, never decreasing, the last below n; the strided core reads exactly
// those points and writes them where they belong.
TEST(WideCounts, DecimationIndicesPastTwoToThe31) {
  for (const std::int64_t n : {k31 - 1, k31 + 5, k32 - 1, k32 + 7, 3 * k31 + 1}) {
    for (const std::int32_t out_n : {2, 3, 7, 1000, INT32_MAX}) {
      const decimate::Index idx = decimate::index_for(n, out_n);
      std::vector<std::int64_t> at = {0, 1, out_n / 2, std::int64_t{out_n} - 3, out_n - 2};
      std::sort(at.begin(), at.end());
      std::int64_t before = -1;
      for (const std::int64_t i : at) {
        if (i < 0 || i > out_n - 2) continue;
        const std::int64_t j = idx(i);
        const auto exact = static_cast<std::int64_t>(static_cast<__int128>(i) * n / out_n);
        EXPECT_LE(j > exact ? j - exact : exact - j, 1) << n << " " << out_n << " " << i;
        EXPECT_GE(j, before);
        EXPECT_LT(j, n);
        before = j;
      }
    }
  }
  // Pixel x is data x / 2^17 exactly: the indices come back out of the mapped points.
  const Mapping map{{0, 0x1p33, 0, 1, 0, 100, 0x1p16, 100}, 0, 0};
  const std::int64_t n = k32 + 7;
  const std::int32_t out_n = 5;
  MadeSource s;
  std::vector<double> out(2 * out_n, -1.0);
  ASSERT_EQ(decimate::strided(s, n, out_n, map, out.data()), Stop::kNone);
  ASSERT_TRUE(decimate::last(s, n, out_n, map, out.data()));
  const decimate::Index idx = decimate::index_for(n, out_n);
  for (std::int32_t i = 0; i < out_n; ++i) {
    const std::int64_t want = i + 1 < out_n ? idx(i) : n - 1;
    EXPECT_EQ(out[2 * i] * 0x1p17, static_cast<double>(want)) << i;
  }
  EXPECT_GT(out[2 * (out_n - 2)] * 0x1p17, static_cast<double>(INT32_MAX));
}

// Too many points for the curve's result and scratch, or for the width of its integers: a
// failed allocation before any byte count could overflow. Below that the counts are exact.
TEST(WideCounts, CurveScratchAtTheLimits) {
  curve::Scratch<std::int64_t> sc;
  EXPECT_FALSE(sc.allocate(curve::kMaxPoints + 1));
  EXPECT_FALSE(sc.allocate(INT64_MAX));
  EXPECT_FALSE(sc.allocate(k32 << 30));  // 2^62 points
  curve::Scratch<std::int32_t> narrow;
  EXPECT_FALSE(narrow.allocate(k31));  // its integers can't index the last point
  EXPECT_EQ(simplify_scratch_ints(k31 + 1), 3 * static_cast<std::uint64_t>(k31 + 1));
  EXPECT_EQ(simplify_scratch_ints(INT32_MAX), 3 * static_cast<std::uint64_t>(INT32_MAX));
  EXPECT_EQ(simplify_scratch_ints(std::int64_t{2}), 0u);
}

// The simplification counted in 64 bits keeps what the 32-bit one keeps, bit for bit.
TEST(WideCounts, SimplificationSameInBothWidths) {
  std::mt19937_64 rng(24);
  std::normal_distribution<double> step(0.0, 1.0);
  for (int round = 0; round < 200; ++round) {
    const auto n = static_cast<std::int32_t>(rng() % 300);
    std::vector<double> px(n), py(n);
    double x = 0, y = 0;
    for (std::int32_t k = 0; k < n; ++k) {
      x += std::abs(step(rng));
      y += step(rng) * (round % 4 == 0 ? 0.01 : 1.0);
      px[k] = x;
      py[k] = y;
    }
    std::vector<std::int32_t> s32(simplify_scratch_ints(n));
    std::vector<std::int64_t> s64(simplify_scratch_ints(n));
    std::vector<double> ax(n), ay(n), bx(n), by(n);
    const std::int32_t m32 =
        simplify_polyline(px.data(), py.data(), n, 0.25, ax.data(), ay.data(), s32.data());
    const std::int64_t m64 = simplify_polyline(px.data(), py.data(), std::int64_t{n}, 0.25,
                                               bx.data(), by.data(), s64.data());
    ASSERT_EQ(m64, m32);
    for (std::int32_t k = 0; k < m32; ++k) {
      EXPECT_EQ(ax[k], bx[k]);
      EXPECT_EQ(ay[k], by[k]);
    }
  }
}

// A sorted series of n points made on demand, counted in C: point i is (i, i % 3). Counts the
// points it reads and records a read outside [0, n).
template <class C>
struct SortedMade {
  using Count = C;
  static constexpr std::int32_t kBlock = 1024;

  C n;
  std::int64_t reads = 0;
  bool out_of_range = false;
  std::vector<double> scratch = {};

  static double x_of(std::int64_t i) { return static_cast<double>(i); }
  static double y_of(std::int64_t i) { return static_cast<double>(i % 3); }

  bool allocate(C, int extra) {
    scratch.assign(static_cast<std::size_t>(2 + extra) * kBlock, 0.0);
    return true;
  }
  double* work(int k) { return scratch.data() + static_cast<std::size_t>(2 + k) * kBlock; }
  bool fill(C from, std::int32_t count, double* out, double (*f)(std::int64_t)) {
    reads += count;
    if (from < 0 || count < 1 || count > kBlock || from > n - count) out_of_range = true;
    if (out_of_range) return false;
    for (std::int32_t k = 0; k < count; ++k) out[k] = f(std::int64_t{from} + k);
    return true;
  }
  bool block(C from, std::int32_t count, const double*& x, const double*& y) {
    x = scratch.data();
    y = scratch.data() + kBlock;
    return fill(from, count, scratch.data(), x_of) &&
           fill(from, count, scratch.data() + kBlock, y_of);
  }
  bool y_block(C from, std::int32_t count, const double*& y) {
    y = scratch.data() + kBlock;
    return fill(from, count, scratch.data() + kBlock, y_of);
  }
  bool x_at(C i, double& x) { return fill(i, 1, &x, x_of); }
  bool in_place(C, C, const double*&, const double*&) { return false; }
  const double* y_in_place(C, C) { return nullptr; }
  bool poll() { return true; }
};

// The sorted scan of n points with about 40 visible around c reads a few hundred of them and
// keeps what the plain rule keeps of the short series of the sides' two end points and the
// points near c.
template <class C>
void expect_sorted_scan_of_short_form(C n, std::int64_t c, bool snap) {
  SCOPED_TRACE(testing::Message() << "n " << n << " c " << c << " snap " << snap);
  const Mapping v{{static_cast<double>(c) - 20, 40, -1, 4, 0, 100, 400, 100}, 0, 0};
  SortedMade<C> src{n};
  fuzz::VectorSink sink;
  ASSERT_EQ(m4_to_screen(src, n, v, true, sink, snap), Stop::kNone);
  EXPECT_FALSE(src.out_of_range);
  EXPECT_LT(src.reads, 1000);
  std::vector<double> xs, ys;
  const std::int64_t last = n;
  for (std::int64_t i : {std::int64_t{0}, std::int64_t{1}}) xs.push_back(SortedMade<C>::x_of(i));
  for (std::int64_t i = std::max<std::int64_t>(2, c - 30); i < std::min(last - 2, c + 30); ++i) {
    xs.push_back(SortedMade<C>::x_of(i));
  }
  for (std::int64_t i : {last - 2, last - 1}) xs.push_back(SortedMade<C>::x_of(i));
  for (double x : xs) ys.push_back(SortedMade<C>::y_of(static_cast<std::int64_t>(x)));
  EXPECT_EQ(sink.out, snap ? fuzz::plain::m4_snapped(xs, ys, v) : fuzz::plain::m4(xs, ys, v));
}

TEST(WideCounts, SortedExtremesPastTwoToThe32) {
  for (const bool snap : {false, true}) {
    for (const std::int64_t c : {k31 - 1, k31, k32 - 8, k32 + 1}) {
      expect_sorted_scan_of_short_form<std::int64_t>(k32 + 5, c, snap);
    }
    // Lists count in 32 bits: up to the largest count, searched from "before 0".
    for (const std::int64_t c : {std::int64_t{1} << 30, std::int64_t{INT32_MAX} - 3}) {
      expect_sorted_scan_of_short_form<std::int32_t>(INT32_MAX, c, snap);
    }
  }
}

}  // namespace
}  // namespace skyloom
