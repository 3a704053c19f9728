// Running a kernel on buffers with the interpreter lock released. Taking the lock back costs up to
// a switch interval (5 ms by default) whenever another thread is running Python code, so a call
// takes it back as seldom as it can: once at its end, and, in the one thread where signal
// handlers run, once per kSignalEvery of work so that Ctrl-C still ends a long call.
#pragma once

#include <chrono>
#include <cstdint>

#include "python/compat.h"
#include "python/pyref.h"
#include "source/interrupt.h"

namespace skyloom::kernels {

// A call that will read this many points or more releases the lock from the start. Reading
// 2^19 pairs of doubles takes about half a millisecond from memory (less from cache): a shorter
// call keeps the lock, since the wait to take it back beside a busy thread would cost more than
// the other threads gain. A call that turns out longer than expected (a quadratic
// simplification, a sorted scan of few columns) releases it after kHoldAtMost.
constexpr std::int64_t kReleaseFrom = std::int64_t{1} << 19;
constexpr std::chrono::microseconds kHoldAtMost{1000};
// Looks for pending signals at most this often: each look may wait a switch interval.
constexpr std::chrono::milliseconds kSignalEvery{100};
// Points read between two looks at the clock (some tens of microseconds of work).
constexpr std::int64_t kClockEvery = std::int64_t{1} << 16;

// The lock of one call on buffers (may_release) or on lists (the lock is then never released,
// since the kernel reads Python objects). Holds the lock until release() or until the call has
// run for kHoldAtMost; given back when it goes out of scope.
class Unlocked {
 public:
  explicit Unlocked(bool may_release) noexcept : may_release_(may_release) {}
  Unlocked(const Unlocked&) = delete;
  Unlocked& operator=(const Unlocked&) = delete;
  ~Unlocked() {
    if (ts_ != nullptr) PyEval_RestoreThread(ts_);
  }

  // Releases the lock when the call will read `points` points or more.
  void release_for(std::int64_t points) noexcept {
    if (points >= kReleaseFrom) release();
  }

  // Counts points read; now and then looks at the clock. False when a signal handler raised
  // (its exception is set).
  bool poll(std::int64_t points) noexcept {
    since_ += points;
    if (since_ < kClockEvery) return true;
    since_ = 0;
    return look();
  }

  // The interruption hook of a core that runs under this: asked about once a millisecond.
  Interrupt hook() noexcept {
    return Interrupt{[](void* self) noexcept { return !static_cast<Unlocked*>(self)->look(); },
                     this};
  }

 private:
  using Clock = std::chrono::steady_clock;

  void release() noexcept {
    if (ts_ != nullptr || !may_release_) return;
    // Only the main thread of the main interpreter runs signal handlers: elsewhere a call has
    // nothing to look for and keeps away from the lock until it ends.
    signals_ = compat::runs_signal_handlers();
    ts_ = PyEval_SaveThread();
    next_look_ = Clock::now() + kSignalEvery;
  }

  // Under the lock: runs pending handlers (cheap), and releases the lock once the call has held
  // it for kHoldAtMost. Without it: takes it back to run handlers once per kSignalEvery.
  [[gnu::cold]] bool look() noexcept {
    const Clock::time_point now = Clock::now();
    if (ts_ == nullptr) {
      if (PyErr_CheckSignals() != 0) return false;
      if (!may_release_) return true;
      if (held_since_ == Clock::time_point{}) {
        held_since_ = now;  // the first look: the call has run about kClockEvery points so far
      } else if (now - held_since_ >= kHoldAtMost) {
        release();
      }
      return true;
    }
    if (!signals_ || now < next_look_) return true;
    PyEval_RestoreThread(ts_);
    const bool ok = PyErr_CheckSignals() == 0;
    ts_ = PyEval_SaveThread();
    next_look_ = Clock::now() + kSignalEvery;
    return ok;
  }

  const bool may_release_;
  bool signals_ = false;
  PyThreadState* ts_ = nullptr;
  std::int64_t since_ = 0;
  Clock::time_point held_since_{}, next_look_{};
};

}  // namespace skyloom::kernels
