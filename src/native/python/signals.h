// Pending signals, checked by the kernels' long loops so that Ctrl-C ends a long call: the
// Python side of the interruption hook (source/interrupt.h).
#pragma once

#include "python/pyref.h"
#include "source/interrupt.h"

namespace skyloom {

// Items that a list loop reads between two checks: a check costs a few nanoseconds.
constexpr Py_ssize_t kSignalStride = 4096;

// Runs the handlers of pending signals; false with the exception set when one raised. A handler
// may run any Python code, which may change the lists: a loop reads again what it cached from a
// list (item array, length) after a check.
inline bool signals_ok() noexcept {
  return PyErr_CheckSignals() == 0;
}

// The hook for a core that runs under the interpreter lock: stops when a signal handler raised,
// with its exception set.
inline Interrupt signal_hook() noexcept {
  return Interrupt{[](void*) noexcept { return PyErr_CheckSignals() != 0; }, nullptr};
}

}  // namespace skyloom
