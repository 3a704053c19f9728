// Replays the inputs that fuzzing found worth keeping (fuzz/corpus/<target>/) through the same
// checks that the fuzz targets run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/checks.h"

namespace skyloom::fuzz {
namespace {

using Check = std::string (*)(const std::uint8_t*, std::size_t);

void replay(const char* target, Check check) {
  const std::filesystem::path dir = std::filesystem::path(SKYLOOM_FUZZ_CORPUS) / target;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream f(entry.path(), std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(f)),
                                  std::istreambuf_iterator<char>());
    EXPECT_EQ(check(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()), "")
        << entry.path();
    ++files;
  }
  EXPECT_GT(files, 0) << "no corpus in " << dir;
}

TEST(FuzzCorpus, DataToScreen) {
  replay("data_to_screen", check_data_to_screen);
}
TEST(FuzzCorpus, Simplify) {
  replay("simplify", check_simplify);
}
TEST(FuzzCorpus, Polyfit) {
  replay("polyfit", check_polyfit);
}

}  // namespace
}  // namespace skyloom::fuzz
