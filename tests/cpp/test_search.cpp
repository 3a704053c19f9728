// The searches of screen/search.h against the first position found by walking: random rising
// conditions over small signed ranges and over the whole unsigned 64-bit range, indices past 2^31
// and 2^32 and the whole 32-bit range, guesses anywhere, the probes' count and range, failing
// probes, and conditions that do not rise.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "screen/search.h"

namespace skyloom::search {
namespace {

// The number of bits of d: ceil(log2(d + 1)).
int bits(std::uint64_t d) {
  int b = 0;
  for (; d != 0; d >>= 1) ++b;
  return b;
}

// A condition that holds from `first` on, counting its probes and recording one outside (no, yes).
template <class T>
struct From {
  T no, yes, first;
  int probes = 0;
  bool outside = false;
  bool operator()(T u, bool& holds) {
    ++probes;
    outside = outside || !(no < u && u < yes);
    holds = u >= first;
    return true;
  }
};

template <class T>
void check(T no, T yes, T first, T guess) {
  SCOPED_TRACE(testing::Message() << "no " << no << " yes " << yes << " first " << first
                                  << " guess " << guess);
  From<T> b{no, yes, first};
  T lo = no, hi = yes;
  ASSERT_TRUE(bisect(lo, hi, b));
  EXPECT_EQ(hi, first);
  EXPECT_EQ(lo + 1, hi);
  EXPECT_FALSE(b.outside);
  EXPECT_LE(b.probes, bits(distance(no, yes)));

  From<T> g{no, yes, first};
  lo = no, hi = yes;
  ASSERT_TRUE(gallop_bisect(lo, hi, guess, g));
  EXPECT_EQ(hi, first);
  EXPECT_EQ(lo + 1, hi);
  EXPECT_FALSE(g.outside);
  // Galloping out to distance d and bisecting what is left: about 2 log2(d) probes.
  const std::uint64_t d = first > guess ? distance(guess, first) : distance(first, guess);
  EXPECT_LE(g.probes, 2 * bits(d) + 2);
}

TEST(Search, FindsTheFirstPositionThatHoldsOverIndices) {
  std::mt19937_64 rng(1);
  for (int k = 0; k < 20000; ++k) {
    const std::int64_t no = static_cast<std::int64_t>(rng() % 50) - 1;  // -1 as "before 0"
    const std::int64_t yes = no + 1 + static_cast<std::int64_t>(rng() % (k % 2 ? 5 : 3000));
    const std::int64_t span = yes - no;
    const std::int64_t first = no + 1 + static_cast<std::int64_t>(rng() % span);
    const std::int64_t guess = no + 1 + static_cast<std::int64_t>(rng() % span);
    check(no, yes, first, guess);
    check(no, yes, first, yes);  // a guess of yes itself is never probed
    check(no, yes, first, first);
  }
}

TEST(Search, CoversTheWholeUnsignedRangeWithoutOverflow) {
  // Doubles numbered in their total order span nearly 2^64: steps double until they saturate.
  std::mt19937_64 rng(2);
  constexpr std::uint64_t kMax = UINT64_MAX;
  for (int k = 0; k < 5000; ++k) {
    const std::uint64_t r = rng(), s = rng();
    const std::uint64_t first =
        k % 4 == 0 ? kMax - r % 4 : (k % 4 == 1 ? 1 + r % 4 : 1 + r % (kMax - 1));
    const std::uint64_t guess =
        k % 3 == 0 ? 1 + s % 4 : (k % 3 == 1 ? kMax - 1 - s % 4 : 1 + s % (kMax - 1));
    check<std::uint64_t>(0, kMax, first, guess);
  }
}

// The indices of a series of 2^32 + 5 points from "before 0" to its end, with the boundary at
// 2^31 - 1, 2^31 and 2^32 + 1; and 32-bit positions whose range is wider than INT32_MAX.
TEST(Search, IndexArithmeticPastTwoToThe31And32) {
  constexpr std::int64_t k31 = std::int64_t{1} << 31, k32 = std::int64_t{1} << 32, n = k32 + 5;
  for (const std::int64_t first : {k31 - 1, k31, k32 + 1}) {
    for (const std::int64_t guess : {std::int64_t{0}, first - 1, first, first + 1, k31 + 2, n}) {
      check<std::int64_t>(-1, n, first, guess);
    }
  }
  constexpr std::int32_t lo = INT32_MIN, hi = INT32_MAX;
  for (const std::int32_t first : {hi, hi - 1, 0, lo + 1}) {
    for (const std::int32_t guess : {lo + 1, -1, 0, hi - 1, hi}) {
      check<std::int32_t>(lo, hi, first, guess);
      if (first >= 0 && guess >= 0) check<std::int32_t>(-1, hi, first, guess);
    }
  }
}

TEST(Search, AFailedProbeEndsTheSearch) {
  for (bool gallop : {false, true}) {
    // fail = -1 counts the probes of a search that does not fail.
    int needed = 0;
    for (int fail = -1; fail < needed + 2; ++fail) {
      int probes = 0;
      auto probe = [&](std::int64_t u, bool& holds) {
        holds = u >= 700;
        return probes++ != fail;
      };
      std::int64_t no = 0, yes = 1000;
      const bool found =
          gallop ? gallop_bisect(no, yes, std::int64_t{3}, probe) : bisect(no, yes, probe);
      if (fail < 0) needed = probes;
      if (fail >= 0 && fail < needed) {
        EXPECT_FALSE(found);
        EXPECT_EQ(probes, fail + 1);
      } else {
        ASSERT_TRUE(found);
        EXPECT_EQ(yes, 700);
        EXPECT_EQ(probes, needed);
      }
    }
    EXPECT_GT(needed, 5);
  }
}

TEST(Search, ConditionsThatDoNotRiseStayInRangeAndEnd) {
  // Data that break the sorted promise: any answer inside, never a probe outside.
  std::mt19937_64 rng(3);
  for (int k = 0; k < 5000; ++k) {
    const std::int64_t no = -1, yes = 1 + static_cast<std::int64_t>(rng() % 2000);
    bool outside = false;
    int probes = 0;
    auto noise = [&](std::int64_t u, bool& holds) {
      outside = outside || !(no < u && u < yes);
      ++probes;
      holds = rng() % 2 == 0;
      return true;
    };
    std::int64_t lo = no, hi = yes;
    const std::int64_t guess = static_cast<std::int64_t>(rng() % static_cast<std::uint64_t>(yes));
    ASSERT_TRUE(gallop_bisect(lo, hi, guess, noise));
    EXPECT_FALSE(outside);
    EXPECT_EQ(lo + 1, hi);
    EXPECT_LE(probes, 2 * bits(static_cast<std::uint64_t>(yes - no)) + 2);
  }
}

}  // namespace
}  // namespace skyloom::search
