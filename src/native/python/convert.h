// Argument conversions (double, 32-bit integer, truth value) and the number-list rules.
// Each inline function is the common case; anything that may run Python code is out of line.
#pragma once

#include <climits>
#include <cstdint>

#include "python/compat.h"
#include "python/pyref.h"

namespace skyloom {

// Number-to-double conversion. On failure the exception is set and false returned. Every
// conversion that may run Python code counts towards the recursion limit (python/recursion.h),
// here and in the integer and truth-value conversions.
bool to_double_slow(PyObject* o, double& out) noexcept;
inline bool to_double(PyObject* o, double& out) noexcept {
  if (PyFloat_CheckExact(o)) {
    out = PyFloat_AS_DOUBLE(o);
    return true;
  }
  return to_double_slow(o, out);
}

// Signed 32-bit integer conversion.
bool to_int32_slow(PyObject* o, std::int32_t& out) noexcept;
inline bool to_int32(PyObject* o, std::int32_t& out) noexcept {
  long v;
  if (PyLong_CheckExact(o) && compat::small_int_value(o, v)) {
    out = static_cast<std::int32_t>(v);  // one digit is 30 bits: always in range
    return true;
  }
  return to_int32_slow(o, out);
}

// Truth-value conversion to 0 or 1.
bool to_flag_slow(PyObject* o, int& out) noexcept;
inline bool to_flag(PyObject* o, int& out) noexcept {
  if (o == Py_True) {
    out = 1;
  } else if (o == Py_False || o == Py_None) {
    out = 0;
  } else {
    return to_flag_slow(o, out);
  }
  return true;
}

// A window bound: None leaves that end open at `open` (the largest finite double, signed);
// anything else is converted to a double.
inline bool to_bound(PyObject* o, double open, double& out) noexcept {
  if (o == Py_None) {
    out = open;
    return true;
  }
  return to_double(o, out);
}

// The list type test: exactly a list, or None. Raises the argument-type TypeError otherwise.
bool list_type_error(const char* param, PyObject* o) noexcept;
inline bool is_number_list(const char* param, PyObject* o) noexcept {
  return o == Py_None || PyList_CheckExact(o) || list_type_error(param, o);
}

// Length of a number list, held as a signed 32-bit count; None raises the len() TypeError.
bool number_list_length_slow(PyObject* list, std::int32_t& n) noexcept;
inline bool number_list_length(PyObject* list, std::int32_t& n) noexcept {
  if (list != Py_None && PyList_GET_SIZE(list) <= INT32_MAX) {
    n = static_cast<std::int32_t>(PyList_GET_SIZE(list));
    return true;
  }
  return number_list_length_slow(list, n);
}

}  // namespace skyloom
