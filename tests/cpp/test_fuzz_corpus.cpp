// Replays the inputs that fuzzing found worth keeping (fuzz/corpus/<target>/) through the same
// checks that the fuzz targets run.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/check_index.h"
#include "fuzz/checks.h"

namespace skyloom::fuzz {
namespace {

using Check = std::string (*)(const std::uint8_t*, std::size_t);

using Bytes = std::vector<std::uint8_t>;

// The kept inputs of a target, each with its file name.
std::vector<std::pair<std::string, Bytes>> corpus(const char* target) {
  const std::filesystem::path dir = std::filesystem::path(SKYLOOM_FUZZ_CORPUS) / target;
  std::vector<std::pair<std::string, Bytes>> inputs;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream f(entry.path(), std::ios::binary);
    inputs.emplace_back(entry.path().string(),
                        Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()));
  }
  EXPECT_GT(inputs.size(), 0u) << "no corpus in " << dir;
  return inputs;
}

void replay(const char* target, Check check) {
  for (const auto& [path, bytes] : corpus(target)) {
    EXPECT_EQ(check(bytes.data(), bytes.size()), "") << path;
  }
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
TEST(FuzzCorpus, Nearest) {
  replay("nearest", check_nearest);
}
TEST(FuzzCorpus, M4) {
  replay("m4", check_m4);
}
TEST(FuzzCorpus, Index) {
  replay("index", check_index);
}

// The nearest-point corpus keeps an input for each case where a wrong filter would show.
TEST(FuzzCorpus, NearestReachesTheFiltersHardCases) {
  NearestReach reach;
  for (const auto& [path, bytes] : corpus("nearest")) {
    check_nearest(bytes.data(), bytes.size(), &reach);
  }
  EXPECT_EQ(reach.missing(), "");
}

}  // namespace
}  // namespace skyloom::fuzz
