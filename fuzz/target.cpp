// A libFuzzer entry for one of the checks in checks.h and check_index.h, chosen at compile time.
#include <cstdio>

#include "check_index.h"
#include "checks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string failed = skyloom::fuzz::SKYLOOM_FUZZ_CHECK(data, size);
  if (!failed.empty()) {
    std::fprintf(stderr, "%s\n", failed.c_str());
    std::abort();
  }
  return 0;
}
