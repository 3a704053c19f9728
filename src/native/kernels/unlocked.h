// Running a kernel on buffers with the interpreter lock released, taking it back briefly at
// coarse intervals so that Ctrl-C and other signal handlers still run during long calls.
#pragma once

#include <cstdint>

#include "frame/pyref.h"
#include "source/interrupt.h"

namespace skyloom::kernels {

// Below this many points a call keeps the lock: releasing it would cost more than it frees.
constexpr std::int64_t kReleaseFrom = 1 << 14;
// Points read between two looks for pending signals (about a millisecond of work).
constexpr std::int64_t kPollEvery = 1 << 18;

// Holds the lock until release(); from then on until it goes out of scope the lock is free,
// except while poll() looks for signals.
class Unlocked {
 public:
  Unlocked() noexcept = default;
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;
  ~Unlocked() {
    if (ts_ != nullptr) PyEval_RestoreThread(ts_);
  }

  void release() noexcept { ts_ = PyEval_SaveThread(); }

  // Counts points read; every kPollEvery of them runs pending signal handlers with the lock
  // held. False when a handler raised (its exception is set).
  bool poll(std::int64_t points) noexcept {
    since_ += points;
    if (since_ < kPollEvery) return true;
    since_ = 0;
    return check_signals();
  }

  // Runs pending signal handlers now; false when one raised.
  [[gnu::cold]] bool check_signals() noexcept {
    if (ts_ != nullptr) PyEval_RestoreThread(ts_);
    const bool ok = PyErr_CheckSignals() == 0;
    if (ts_ != nullptr) ts_ = PyEval_SaveThread();
    return ok;
  }

  // The interruption hook of a core that runs while this holds the lock free.
  Interrupt hook() noexcept {
    return Interrupt{
        [](void* self) noexcept { return !static_cast<Unlocked*>(self)->check_signals(); }, this};
  }

 private:
  PyThreadState* ts_ = nullptr;
  std::int64_t since_ = 0;
};

}  // namespace skyloom::kernels
