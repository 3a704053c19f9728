// The import's version guard: parsing of version strings and the warning text.
#include <gtest/gtest.h>

#include <string>

#include "cy_utils/version.h"

using skyloom::compare_versions;

TEST(VersionGuard, SameMajorMinorIsSilentWhateverTheMicro) {
  for (const char* v : {"3.8.0 (default)", "3.8.18 (main, May 9 2026)", "3.8.99+", "3.8"}) {
    EXPECT_FALSE(compare_versions(v, "skyloom._cy_utils", 3, 8).mismatch) << v;
  }
}

TEST(VersionGuard, MismatchNamesBothVersions) {
  auto c = compare_versions("3.11.7 (main, Jan 1 2026) [GCC 12.2.0]", "skyloom._cy_utils", 3, 8);
  ASSERT_TRUE(c.mismatch);
  EXPECT_STREQ(c.message,
               "compile time Python version 3.8 of module 'skyloom._cy_utils' does not match "
               "runtime version 3.11");
  EXPECT_TRUE(compare_versions("4.8.1", "m", 3, 8).mismatch);
  EXPECT_TRUE(compare_versions("3.80.1", "m", 3, 8).mismatch);
}

TEST(VersionGuard, MessageIsCutTo199Characters) {
  std::string long_name(300, 'x');
  auto c = compare_versions("3.9.1", long_name.c_str(), 3, 8);
  ASSERT_TRUE(c.mismatch);
  // The name itself is cut to 100 characters first.
  EXPECT_NE(std::string(c.message).find(std::string(100, 'x') + "' does not match"),
            std::string::npos);
  EXPECT_LE(std::string(c.message).size(), 199u);
}
