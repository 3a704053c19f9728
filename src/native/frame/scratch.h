// Per-call scratch doubles from the native heap, for the kernels' block buffers: kept off the C
// stack, which an item's conversion may need for a deep chain of calls back into the module.
#pragma once

#include <cstddef>
#include <cstdlib>

#include "frame/pyref.h"

namespace skyloom {

class ScratchDoubles {
 public:
  ScratchDoubles() noexcept = default;
  ScratchDoubles(const ScratchDoubles&) = delete;
  ScratchDoubles& operator=(const ScratchDoubles&) = delete;
  ~ScratchDoubles() { std::free(p_); }

  // Room for count doubles (a few thousand at most); false with MemoryError set when it can't be
  // had.
  bool allocate(std::size_t count) noexcept {
    p_ = static_cast<double*>(std::malloc(count * sizeof(double)));
    return p_ != nullptr || no_memory();
  }
  double* get() const noexcept { return p_; }

 private:
  [[gnu::cold]] static bool no_memory() noexcept {
    PyErr_NoMemory();
    return false;
  }

  double* p_ = nullptr;
};

}  // namespace skyloom
