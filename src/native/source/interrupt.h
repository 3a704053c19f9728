// The interruption hook of long computations. Pure C++, so that the numeric cores take it without
// knowing what asks them to stop: pending signals under the interpreter lock (python/signals.h),
// or the same check with the lock taken back briefly, for a core that runs without it.
#pragma once

namespace skyloom {

// Asked now and then by a long computation whether to stop; a hook without a poll function never
// asks to stop. When poll says stop, the computation ends at once and reports that it stopped.
struct Interrupt {
  bool (*poll)(void* context) noexcept = nullptr;
  void* context = nullptr;

  bool stop() const noexcept { return poll != nullptr && poll(context); }
};

}  // namespace skyloom
