// The interpreter's recursion check around a step that may run Python code, and so re-enter the
// module: item and argument conversions. A chain of re-entries then ends in RecursionError, like a
// chain of the interpreter's own calls, before it can exhaust the C stack.
#pragma once

#include "python/pyref.h"

namespace skyloom {

// Whether the calling thread's C stack has room left for more levels of re-entry and for
// unwinding them; true wherever the stack's bounds can't be had.
bool native_stack_has_room() noexcept;

// Counts one level of the interpreter's recursion depth for as long as it lives, as the
// interpreter's own call of a Python object from C does. Each level through the module keeps more
// of the C stack live than one through float() (the bound arguments, the kernel's running state,
// the readers' frames), and from 3.12 on the interpreter counts C levels apart from Python ones:
// so the guard also refuses when the thread's stack runs low, and the chain ends in RecursionError
// at any recursion limit and stack size.
class RecursionGuard {
 public:
  RecursionGuard() noexcept : entered_(Py_EnterRecursiveCall(kWhere) == 0) {
    if (entered_ && !native_stack_has_room()) {
      Py_LeaveRecursiveCall();
      entered_ = false;
      stack_exhausted();
    }
  }
  RecursionGuard(const RecursionGuard&) = delete;
  RecursionGuard& operator=(const RecursionGuard&) = delete;
  ~RecursionGuard() {
    if (entered_) Py_LeaveRecursiveCall();
  }

  // False with RecursionError set when the limit or the end of the stack is reached.
  bool ok() const noexcept { return entered_; }

 private:
  static constexpr const char* kWhere = " while calling a Python object";
  [[gnu::cold]] static void stack_exhausted() noexcept;

  bool entered_;
};

}  // namespace skyloom
