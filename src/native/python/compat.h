// The few places where CPython's API differs between the supported versions.
#pragma once

#include "python/pyref.h"

#if PY_VERSION_HEX < 0x030B0000
#include <longintrepr.h>
#endif

#include <cstdint>

#ifndef Py_SET_SIZE
#define Py_SET_SIZE(o, size) (Py_SIZE(o) = (size))
#endif

// The modules' init entries: CPython 3.8's PyMODINIT_FUNC does not mark them exported, and the
// build hides every other symbol.
#if defined(_WIN32)
#define SKYLOOM_EXPORT __declspec(dllexport)
#elif defined(__GNUC__)
#define SKYLOOM_EXPORT __attribute__((visibility("default")))
#else
#define SKYLOOM_EXPORT
#endif

// The interpreter's test of the thread that handles signals: exported by every version, declared
// in the public headers up to 3.12 only.
#if PY_VERSION_HEX >= 0x030D0000
extern "C" int _PyOS_IsMainThread(void);
#endif

namespace skyloom::compat {

#if PY_VERSION_HEX >= 0x03090000
constexpr unsigned long kHaveVectorcall = Py_TPFLAGS_HAVE_VECTORCALL;
inline PyInterpreterState* current_interpreter() noexcept {
  return PyInterpreterState_Get();
}
#else
constexpr unsigned long kHaveVectorcall = _Py_TPFLAGS_HAVE_VECTORCALL;
inline PyInterpreterState* current_interpreter() noexcept {
  return PyThreadState_Get()->interp;
}
#endif

// Whether the calling thread is the main thread of the main interpreter: the one that runs
// signal handlers (the interpreter's own test of the thread, declared above).
inline bool runs_signal_handlers() noexcept {
  return _PyOS_IsMainThread() && current_interpreter() == PyInterpreterState_Main();
}

// The value of an int whose magnitude fits in one internal digit, read without a call.
inline bool small_int_value(PyObject* o, long& out) noexcept {
#if PY_VERSION_HEX >= 0x030C0000
  auto* v = reinterpret_cast<PyLongObject*>(o);
  if (!PyUnstable_Long_IsCompact(v)) return false;
  out = static_cast<long>(PyUnstable_Long_CompactValue(v));
  return true;
#else
  auto* v = reinterpret_cast<PyLongObject*>(o);
  switch (Py_SIZE(o)) {
    case 0:
      out = 0;
      return true;
    case 1:
      out = static_cast<long>(v->ob_digit[0]);
      return true;
    case -1:
      out = -static_cast<long>(v->ob_digit[0]);
      return true;
    default:
      return false;
  }
#endif
}

// Older interpreters add CO_NOFREE to every code object they make; the module's code objects
// carry exactly the flags they were given.
inline void set_code_flags(PyObject* code, int flags) noexcept {
#if PY_VERSION_HEX < 0x030B0000
  reinterpret_cast<PyCodeObject*>(code)->co_flags = flags;
#else
  (void)code;
  (void)flags;
#endif
}

}  // namespace skyloom::compat
