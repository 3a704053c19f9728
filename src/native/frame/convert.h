// Argument conversions (double, 32-bit integer, truth value) and the number-list rules.
// Each inline function is the common case; anything that may run Python code is out of line.
#pragma once

#include <climits>
#include <cstdint>

#include "frame/compat.h"
#include "frame/pyref.h"
#include "frame/signals.h"

namespace skyloom {

// Number-to-double conversion. On failure the exception is set and false returned. Every
// conversion that may run Python code counts towards the recursion limit (frame/recursion.h),
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

// A pair of number lists read index by index: only xs is measured, and ys is read at xs's
// indices. Reads never go past a list's current length, which an item's own conversion code may
// shrink during the call: that raises IndexError instead. The loops over many items check for
// pending signals (gather and gather_at as they start, for_each_pair every kSignalStride items):
// a handler's exception fails the read like a failed item.
class Series {
 public:
  Series(PyObject* xs, PyObject* ys, const char* xname, const char* yname, std::int32_t n) noexcept
      : xs_(xs), ys_(ys), xname_(xname), yname_(yname), n_(n) {}

  bool x(Py_ssize_t i, double& out) const noexcept { return read(xs_, xname_, i, out); }
  bool y(Py_ssize_t i, double& out) const noexcept { return read(ys_, yname_, i, out); }

  // Calls step(x, y) with items i of both lists as doubles, for i = from ... n-1 in order; false
  // with the exception set when an item fails. Runs of exact floats take an inner loop with no
  // calls in it, working on a local copy of step so that its running values (step is a small
  // struct of doubles) stay in registers; any other item takes the general path, which may run
  // Python code, after which the lists are looked at afresh.
  template <class Step>
  bool for_each_pair(Py_ssize_t from, Step& step) const noexcept {
    Py_ssize_t i = from;
    Py_ssize_t check_at = from;  // where pending signals are checked next
    while (i < n_) {
      if (i >= check_at) {
        if (!signals_ok()) return false;
        check_at = i + kSignalStride;
      }
      if (xs_ != Py_None && ys_ != Py_None) {
        Py_ssize_t end = n_ < check_at ? n_ : check_at;
        if (PyList_GET_SIZE(xs_) < end) end = PyList_GET_SIZE(xs_);
        if (PyList_GET_SIZE(ys_) < end) end = PyList_GET_SIZE(ys_);
        PyObject* const* xi = reinterpret_cast<PyListObject*>(xs_)->ob_item;
        PyObject* const* yi = reinterpret_cast<PyListObject*>(ys_)->ob_item;
        Step local = step;
        for (; i < end; ++i) {
          PyObject* ox = xi[i];
          PyObject* oy = yi[i];
          if (!PyFloat_CheckExact(ox) || !PyFloat_CheckExact(oy)) break;
          local(PyFloat_AS_DOUBLE(ox), PyFloat_AS_DOUBLE(oy));
        }
        step = local;
        if (i >= n_ || i == check_at) continue;  // done, or time for the next check
      }
      double x, y;
      if (!read_slow(xs_, xname_, i, x) || !read_slow(ys_, yname_, i, y)) return false;
      step(x, y);
      ++i;
    }
    return true;
  }

  // Items from ... from + count - 1 of both lists as doubles into x[0 ...] and y[0 ...]; false
  // with the exception set when an item fails. Runs of exact floats are copied by an inner loop
  // with the lists' item arrays held in registers; any other item takes the general path.
  bool gather(Py_ssize_t from, Py_ssize_t count, double* x, double* y) const noexcept {
    if (!signals_ok()) return false;
    const Py_ssize_t stop = from + count;
    Py_ssize_t i = from;
    while (i < stop) {
      if (xs_ != Py_None && ys_ != Py_None) {
        Py_ssize_t end = stop;
        if (PyList_GET_SIZE(xs_) < end) end = PyList_GET_SIZE(xs_);
        if (PyList_GET_SIZE(ys_) < end) end = PyList_GET_SIZE(ys_);
        PyObject* const* xi = reinterpret_cast<PyListObject*>(xs_)->ob_item;
        PyObject* const* yi = reinterpret_cast<PyListObject*>(ys_)->ob_item;
        for (; i < end; ++i) {
          PyObject* ox = xi[i];
          PyObject* oy = yi[i];
          if (!PyFloat_CheckExact(ox) || !PyFloat_CheckExact(oy)) break;
          x[i - from] = PyFloat_AS_DOUBLE(ox);
          y[i - from] = PyFloat_AS_DOUBLE(oy);
        }
        if (i >= stop) break;
      }
      if (!read_slow(xs_, xname_, i, x[i - from]) || !read_slow(ys_, yname_, i, y[i - from])) {
        return false;
      }
      ++i;
    }
    return true;
  }

  // Items idx(k) of both lists as doubles into x[k - from] and y[k - from], for k = from ...
  // from + count - 1 in order; false with the exception set when an item fails. A tight loop over
  // exact floats with nothing else in it, so that the processor overlaps the cache and TLB misses
  // of scattered items.
  template <class Index>
  bool gather_at(Py_ssize_t from, Py_ssize_t count, Index idx, double* x,
                 double* y) const noexcept {
    if (!signals_ok()) return false;
    const Py_ssize_t stop = from + count;
    Py_ssize_t k = from;
    while (k < stop) {
      if (xs_ != Py_None && ys_ != Py_None) {
        Py_ssize_t end = PyList_GET_SIZE(xs_);
        if (PyList_GET_SIZE(ys_) < end) end = PyList_GET_SIZE(ys_);
        PyObject* const* xi = reinterpret_cast<PyListObject*>(xs_)->ob_item;
        PyObject* const* yi = reinterpret_cast<PyListObject*>(ys_)->ob_item;
        for (; k < stop; ++k) {
          const Py_ssize_t j = idx(k);
          if (j >= end) break;
          PyObject* ox = xi[j];
          PyObject* oy = yi[j];
          if (!PyFloat_CheckExact(ox) || !PyFloat_CheckExact(oy)) break;
          x[k - from] = PyFloat_AS_DOUBLE(ox);
          y[k - from] = PyFloat_AS_DOUBLE(oy);
        }
        if (k >= stop) break;
      }
      const Py_ssize_t j = idx(k);
      if (!read_slow(xs_, xname_, j, x[k - from]) || !read_slow(ys_, yname_, j, y[k - from])) {
        return false;
      }
      ++k;
    }
    return true;
  }

  // Item i of ys itself (a new reference), or nullptr with the exception set.
  PyObject* y_object(Py_ssize_t i) const noexcept;

  std::int32_t n() const noexcept { return n_; }

 private:
  bool read(PyObject* list, const char* name, Py_ssize_t i, double& out) const noexcept {
    if (list != Py_None && i < PyList_GET_SIZE(list)) {
      PyObject* o = PyList_GET_ITEM(list, i);
      if (PyFloat_CheckExact(o)) {
        out = PyFloat_AS_DOUBLE(o);
        return true;
      }
    }
    return read_slow(list, name, i, out);
  }
  bool read_slow(PyObject* list, const char* name, Py_ssize_t i, double& out) const noexcept;
  bool check_index(PyObject* list, const char* name, Py_ssize_t i) const noexcept;

  PyObject* xs_;
  PyObject* ys_;
  const char* xname_;
  const char* yname_;
  std::int32_t n_;
};

}  // namespace skyloom
