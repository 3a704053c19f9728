// The C++ tests' entry point: runs the whole suite on one version of the vector kernels, named by
// --simd=baseline or --simd=avx2 (ctest runs every test once with each), or without the option on
// the version the CPU check picks, as the modules do.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "simd.h"
#include "tests/cpp/versions.h"

namespace skyloom::testing {

std::optional<simd::Version> g_requested;

const char* version_name(simd::Version v) {
  return v == simd::Version::kAvx2 ? "avx2" : "baseline";
}

}  // namespace skyloom::testing

namespace {

using skyloom::simd::Version;

// Every test is skipped when the version asked for cannot run on this CPU.
class Unavailable : public ::testing::Environment {
 public:
  void SetUp() override { GTEST_SKIP() << "this CPU (or build) has no AVX2 version to test"; }
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--simd=baseline") == 0) {
      skyloom::testing::g_requested = Version::kBaseline;
    } else if (std::strcmp(arg, "--simd=avx2") == 0) {
      skyloom::testing::g_requested = Version::kAvx2;
    } else {
      std::fprintf(stderr, "%s: unknown argument %s (--simd=baseline or --simd=avx2)\n", argv[0],
                   arg);
      return 2;
    }
  }
  if (skyloom::testing::g_requested &&
      !skyloom::simd::use_version(*skyloom::testing::g_requested)) {
    ::testing::AddGlobalTestEnvironment(new Unavailable);
  }
  // On stderr: test discovery reads the list of tests from stdout.
  std::fprintf(stderr, "vector kernels: %s\n",
               skyloom::testing::version_name(skyloom::simd::active_version()));
  return RUN_ALL_TESTS();
}
