// The kernels' version dispatch: the CPU check, and entries calling the version that the test run
// asked for (which is what makes each run of the suite test that version).
#include <gtest/gtest.h>

#include "simd.h"
#include "tests/cpp/versions.h"

namespace skyloom::simd {
namespace {

// An entry whose two versions tell themselves apart.
extern const Entry<int(int base)> which;
SKYLOOM_VERSIONS(which)
int which_baseline(int base) noexcept {
  return base + static_cast<int>(Version::kBaseline);
}
int which_avx2(int base) noexcept {
  return base + static_cast<int>(Version::kAvx2);
}

// Restores the version of the run when a test has switched it.
class Versions : public ::testing::Test {
 protected:
  void TearDown() override { ASSERT_TRUE(use_version(saved_)); }
  Version saved_ = active_version();
};

TEST_F(Versions, TheRunAskedForIsTheOneCalled) {
  if (skyloom::testing::g_requested) {
    EXPECT_EQ(active_version(), *skyloom::testing::g_requested);
  }
  EXPECT_EQ(which(10), 10 + static_cast<int>(active_version()))
      << skyloom::testing::version_name(active_version());
}

TEST_F(Versions, AvailableWhereBuiltAndTheCpuRunsIt) {
  const bool avx2 = SKYLOOM_HAS_AVX2 && cpu_runs_avx2();
  ASSERT_TRUE(use_version(Version::kBaseline));
  EXPECT_EQ(which(0), 0);
  EXPECT_EQ(use_version(Version::kAvx2), avx2);
  EXPECT_EQ(active_version(), avx2 ? Version::kAvx2 : Version::kBaseline);
  EXPECT_EQ(which(0), avx2 ? 1 : 0);
}

#if SKYLOOM_HAS_AVX2 && defined(__GNUC__) && !defined(__clang__)
// GCC's runtime makes the same check (AVX2 and the OS's YMM state) for __builtin_cpu_supports.
TEST(CpuCheck, AgreesWithTheCompilerRuntime) {
  __builtin_cpu_init();
  EXPECT_EQ(cpu_runs_avx2(), __builtin_cpu_supports("avx2") != 0);
}
#endif

}  // namespace
}  // namespace skyloom::simd
