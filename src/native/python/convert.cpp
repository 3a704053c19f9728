// The out-of-line halves of the conversions: calls into Python objects and every error.
#include "python/convert.h"

#include <climits>

#include "python/recursion.h"

namespace skyloom {

namespace {

// Whether converting o may run Python code: only a class defined in Python (a heap type) brings
// its own conversion methods. Those conversions count towards the recursion limit.
inline bool may_run_python(PyObject* o) noexcept {
  return PyType_HasFeature(Py_TYPE(o), Py_TPFLAGS_HEAPTYPE) != 0;
}

// Runs convert(); when o's conversion may run Python code, counted towards the recursion limit.
template <class Convert>
inline bool guarded(PyObject* o, Convert convert) noexcept {
  if (!may_run_python(o)) return convert();
  RecursionGuard guard;
  return guard.ok() && convert();
}

bool float_value(PyObject* o, double& out) noexcept {
  double v = PyFloat_AsDouble(o);
  if (v == -1.0 && PyErr_Occurred()) return false;
  out = v;
  return true;
}

// An int's value, required to fit the signed 32-bit range.
bool int_in_range(PyObject* o, std::int32_t& out) noexcept {
  int overflow = 0;
  long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
  if (v == -1 && PyErr_Occurred()) return false;
  if (overflow != 0 || v < INT32_MIN || v > INT32_MAX) {
    PyErr_SetString(PyExc_OverflowError, "Python int too large to convert to C long");
    return false;
  }
  out = static_cast<std::int32_t>(v);
  return true;
}

}  // namespace

bool to_double_slow(PyObject* o, double& out) noexcept {
  if (PyFloat_Check(o)) return float_value(o, out);  // a float subclass: no call
  return guarded(o, [&] { return float_value(o, out); });
}

bool to_int32_slow(PyObject* o, std::int32_t& out) noexcept {
  if (PyLong_Check(o)) return int_in_range(o, out);
  PyNumberMethods* nb = Py_TYPE(o)->tp_as_number;
  if (nb == nullptr || nb->nb_int == nullptr) {
    PyErr_SetString(PyExc_TypeError, "an integer is required");
    return false;
  }
  return guarded(o, [&] {
    Ref r(nb->nb_int(o));
    if (!r) return false;
    if (!PyLong_CheckExact(r.get())) {
      if (!PyLong_Check(r.get())) {
        PyErr_Format(PyExc_TypeError, "__int__ returned non-int (type %.200s)",
                     Py_TYPE(r.get())->tp_name);
        return false;
      }
      if (PyErr_WarnFormat(PyExc_DeprecationWarning, 1,
                           "__int__ returned non-int (type %.200s).  The ability to return an "
                           "instance of a strict subclass of int is deprecated, and may be removed "
                           "in a future version of Python.",
                           Py_TYPE(r.get())->tp_name) < 0) {
        return false;
      }
    }
    return int_in_range(r.get(), out);
  });
}

bool to_flag_slow(PyObject* o, int& out) noexcept {
  return guarded(o, [&] {
    const int r = PyObject_IsTrue(o);
    if (r < 0) return false;
    out = r;
    return true;
  });
}

bool list_type_error(const char* param, PyObject* o) noexcept {
  PyErr_Format(PyExc_TypeError,
               "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", param, "list",
               Py_TYPE(o)->tp_name);
  return false;
}

bool number_list_length_slow(PyObject* list, std::int32_t& n) noexcept {
  if (list == Py_None) {
    PyErr_SetString(PyExc_TypeError, "object of type 'NoneType' has no len()");
    return false;
  }
  Py_ssize_t len = PyList_GET_SIZE(list);
  if (len > INT32_MAX) {
    PyErr_Format(PyExc_OverflowError, "a number list may hold at most %d items, not %zd", INT32_MAX,
                 len);
    return false;
  }
  n = static_cast<std::int32_t>(len);
  return true;
}

}  // namespace skyloom
