// The polynomial fit's numeric core: coefficient count, accumulation and Gauss-Jordan solve.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "analysis/polyfit_core.h"

namespace pf = skyloom::polyfit;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

bool same_bits(double a, double b) {
  if (std::isnan(a) && std::isnan(b)) return true;
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

TEST(PolyfitCount, CapsBeforeAddingOne) {
  EXPECT_EQ(pf::coefficient_count(0), 1);
  EXPECT_EQ(pf::coefficient_count(8), 9);
  EXPECT_EQ(pf::coefficient_count(9), 10);
  EXPECT_EQ(pf::coefficient_count(10), 10);
  EXPECT_EQ(pf::coefficient_count(INT32_MAX), 10);
  EXPECT_EQ(pf::coefficient_count(-1), 0);
  EXPECT_EQ(pf::coefficient_count(INT32_MIN), INT32_MIN + 1);
}

TEST(PolyfitAccumulate, OnePointAddsItsPowersToBothTrianglesWithStrideD) {
  // Sentinels past d * d and d must stay untouched: the stride is d, not the capacity.
  std::vector<double> vtv(100, -7.0), vty(10, -7.0);
  for (int k = 0; k < 9; ++k) vtv[k] = 1.0;
  for (int r = 0; r < 3; ++r) vty[r] = 0.5;
  const double x = 2.0, y = 5.0;
  pf::accumulate(3, &x, &y, 1, vtv.data(), vty.data());
  const double expect_vtv[9] = {17, 9, 5, 9, 5, 3, 5, 3, 2};
  for (int k = 0; k < 9; ++k) EXPECT_EQ(vtv[k], expect_vtv[k]) << k;
  EXPECT_EQ(vty[0], 20.5);
  EXPECT_EQ(vty[1], 10.5);
  EXPECT_EQ(vty[2], 5.5);
  EXPECT_EQ(vtv[9], -7.0);
  EXPECT_EQ(vty[3], -7.0);
}

TEST(PolyfitAccumulate, ConstantTermOnlyNeverSeesX) {
  double vtv[1] = {0.0}, vty[1] = {0.0};
  const double x[3] = {kNaN, INFINITY, 1e308}, y[3] = {1.0, 2.0, 3.0};
  pf::accumulate(1, x, y, 3, vtv, vty);
  EXPECT_EQ(vtv[0], 3.0);
  EXPECT_EQ(vty[0], 6.0);
}

TEST(PolyfitAccumulate, ARunEqualsItsPointsOneByOne) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> u(-3.0, 3.0);
  for (int d = 1; d <= pf::kMaxD; ++d) {
    const int n = 301;
    std::vector<double> x(n), y(n);
    for (int i = 0; i < n; ++i) {
      x[i] = u(rng);
      y[i] = u(rng);
    }
    double run_vtv[100] = {}, run_vty[10] = {}, one_vtv[100] = {}, one_vty[10] = {};
    pf::accumulate(d, x.data(), y.data(), n, run_vtv, run_vty);
    for (int i = 0; i < n; ++i) pf::accumulate(d, &x[i], &y[i], 1, one_vtv, one_vty);
    for (int k = 0; k < d * d; ++k) EXPECT_TRUE(same_bits(run_vtv[k], one_vtv[k])) << d << ":" << k;
    for (int r = 0; r < d; ++r) EXPECT_TRUE(same_bits(run_vty[r], one_vty[r])) << d << ":" << r;
    // Rounding differs between x^a * x^b and x^b * x^a only if the powers were built differently.
    for (int r = 0; r < d; ++r) {
      for (int c = 0; c < d; ++c) EXPECT_TRUE(same_bits(run_vtv[r * d + c], run_vtv[c * d + r]));
    }
  }
}

// The sums one point and one entry at a time, in the order accumulate() promises.
void scalar_accumulate(int d, const std::vector<double>& x, const std::vector<double>& y,
                       double* vtv, double* vty) {
  for (std::size_t i = 0; i < x.size(); ++i) {
    double row[pf::kMaxD];
    row[d - 1] = 1.0;
    for (int c = d - 2; c >= 0; --c) row[c] = x[i] * row[c + 1];
    for (int r = 0; r < d; ++r) {
      for (int c = r; c < d; ++c) vtv[r * d + c] = row[r] * row[c] + vtv[r * d + c];
      vty[r] = y[i] * row[r] + vty[r];
    }
  }
  for (int r = 1; r < d; ++r) {
    for (int c = 0; c < r; ++c) vtv[r * d + c] = vtv[c * d + r];
  }
}

TEST(PolyfitAccumulate, EveryDAndLengthGivesTheScalarSums) {
  // Lengths around the four-point groups, the 64-point blocks and the read-ahead; values whose
  // powers overflow or underflow in some columns only, and in odd lengths infinities and NaNs
  // (even lengths keep most sums finite, so that the bits compared are not all NaN).
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> u(-3.0, 3.0);
  const double odd[] = {1e30, -1e30, 4.9e-324, -1e-300, 0.0, -0.0, kNaN, INFINITY, -INFINITY};
  for (int d = 1; d <= pf::kMaxD; ++d) {
    for (int n : {1, 2, 3, 4, 5, 7, 63, 64, 65, 68, 191, 192, 193, 197, 300}) {
      const int kinds = n % 2 == 1 ? 9 : 6;
      std::vector<double> x(n), y(n);
      for (int i = 0; i < n; ++i) {
        x[i] = rng() % 16 == 0 ? odd[rng() % kinds] : u(rng);
        y[i] = rng() % 16 == 0 ? odd[rng() % kinds] : u(rng);
      }
      double got_vtv[100] = {}, got_vty[10] = {}, want_vtv[100] = {}, want_vty[10] = {};
      pf::accumulate(d, x.data(), y.data(), n, got_vtv, got_vty);
      scalar_accumulate(d, x, y, want_vtv, want_vty);
      for (int k = 0; k < d * d; ++k) {
        EXPECT_TRUE(same_bits(got_vtv[k], want_vtv[k])) << d << " " << n << ": vtv " << k;
      }
      for (int r = 0; r < d; ++r) {
        EXPECT_TRUE(same_bits(got_vty[r], want_vty[r])) << d << " " << n << ": vty " << r;
      }
    }
  }
}

struct PivotCase {
  const char* name;
  std::vector<double> column;  // column j = 0 of a d x d matrix, d = column.size()
  int expected;
};

class PolyfitPivot : public testing::TestWithParam<PivotCase> {};

TEST_P(PolyfitPivot, PicksTheFirstStrictlyLargest) {
  const PivotCase& p = GetParam();
  const int d = static_cast<int>(p.column.size());
  std::vector<double> vtv(d * d, 0.0);
  for (int k = 0; k < d; ++k) vtv[k * d] = p.column[k];
  EXPECT_EQ(pf::pivot_row(d, vtv.data(), 0), p.expected) << p.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PolyfitPivot,
    testing::Values(PivotCase{"LargestBelow", {1.0, -3.0, 2.0}, 1},
                    PivotCase{"TieKeepsTheUpperRow", {1.0, -3.0, 3.0}, 1},
                    PivotCase{"TieWithTheDiagonal", {-2.0, 2.0}, 0},
                    PivotCase{"SignedZerosTie", {-0.0, 0.0}, 0},
                    PivotCase{"NaNBelowNeverWins", {1.0, kNaN, 0.5}, 0},
                    PivotCase{"NaNIsSkippedOver", {1.0, kNaN, 2.0}, 2},
                    PivotCase{"NaNHeldIsNeverBeaten", {kNaN, 5.0, INFINITY}, 0},
                    PivotCase{"InfinityWins", {1e308, -INFINITY}, 1}),
    [](const testing::TestParamInfo<PivotCase>& info) { return std::string(info.param.name); });

TEST(PolyfitSolve, EliminatesAboveAsWellAsBelow) {
  double vtv[4] = {2, 1, 0, 4}, vty[2] = {4, 8};
  pf::solve(2, vtv, vty);
  EXPECT_EQ(vty[0], 1.0);
  EXPECT_EQ(vty[1], 2.0);
}

TEST(PolyfitSolve, SwapsRowsAndTheirRightHandSides) {
  double vtv[4] = {0, 1, 2, 0}, vty[2] = {3, 8};  // 0a + b = 3, 2a = 8
  pf::solve(2, vtv, vty);
  EXPECT_EQ(vty[0], 4.0);
  EXPECT_EQ(vty[1], 3.0);
}

TEST(PolyfitSolve, ZeroPivotSkipsItsColumnButLaterColumnsStillUpdateItsRow) {
  double vtv[4] = {0, 1, -0.0, 2}, vty[2] = {1, 4};
  pf::solve(2, vtv, vty);
  EXPECT_EQ(vty[0], -1.0);  // never divided, then 1 - 1 * 2 by column 1
  EXPECT_EQ(vty[1], 2.0);
}

TEST(PolyfitSolve, TinyPivotIsUsed) {
  double vtv[1] = {4.9e-324}, vty[1] = {9.9e-324};
  pf::solve(1, vtv, vty);
  EXPECT_EQ(vty[0], 2.0);
}

TEST(PolyfitSolve, NaNPivotIsUsedAndSpreads) {
  double vtv[4] = {kNaN, 1, 5, 2}, vty[2] = {1, 2};
  pf::solve(2, vtv, vty);
  EXPECT_TRUE(std::isnan(vty[0]));
  EXPECT_TRUE(std::isnan(vty[1]));
}

TEST(PolyfitSolve, NaNBelowAZeroDiagonalIsNotChosenAsPivot) {
  // Column 0 is {0, NaN}: the zero stays the pivot and the column is skipped. Choosing the NaN
  // would have made every coefficient NaN; instead column 1 solves the system.
  double vtv[4] = {0, 1, kNaN, 2}, vty[2] = {5, 4};
  pf::solve(2, vtv, vty);
  EXPECT_EQ(vty[0], 3.0);
  EXPECT_EQ(vty[1], 2.0);
}
