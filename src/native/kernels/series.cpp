// Telling list arguments from buffer arguments, and checking buffers before anything is read.
#include "kernels/series.h"

#include <climits>

namespace skyloom::kernels {

namespace {

bool is_number_list(PyObject* o) noexcept {
  return o == Py_None || PyList_CheckExact(o);
}

[[gnu::cold]] bool not_a_buffer(PyObject* obj, const char* name) noexcept {
  PyErr_Format(PyExc_TypeError,
               "%s must be a list or an object exporting a one-dimensional numeric buffer, not "
               "%.200s",
               name, Py_TYPE(obj)->tp_name);
  return false;
}

[[gnu::cold]] bool bad_shape(const Py_buffer& v, const char* name) noexcept {
  Ref shape(PyTuple_New(v.ndim));
  if (!shape) return false;
  for (int k = 0; k < v.ndim; ++k) {
    PyObject* d = PyLong_FromSsize_t(v.shape != nullptr ? v.shape[k] : 0);
    if (d == nullptr) return false;
    PyTuple_SET_ITEM(shape.get(), k, d);
  }
  PyErr_Format(PyExc_ValueError, "%s must be one-dimensional, got a buffer of shape %R", name,
               shape.get());
  return false;
}

[[gnu::cold]] bool bad_format(const Py_buffer& v, const char* name) noexcept {
  PyErr_Format(PyExc_TypeError,
               "%s has items of format '%s' (item size %zd); expected one of d f e b h i l q n "
               "B H I L Q N in native byte order",
               name, v.format != nullptr ? v.format : "B", v.itemsize);
  return false;
}

}  // namespace

bool BufferView::open(PyObject* obj, const char* name) noexcept {
  if (!PyObject_CheckBuffer(obj)) return not_a_buffer(obj, name);
  if (PyObject_GetBuffer(obj, &view_, PyBUF_STRIDES | PyBUF_FORMAT) < 0) return false;
  held_ = true;
  if (view_.ndim != 1) return bad_shape(view_, name);
  // A buffer that gives no format holds unsigned bytes.
  if (!parse_element_type(view_.format != nullptr ? view_.format : "B",
                          static_cast<std::size_t>(view_.itemsize), type_)) {
    return bad_format(view_, name);
  }
  return true;
}

Strided BufferView::series() const noexcept {
  return Strided{static_cast<const char*>(view_.buf), view_.strides[0], type_};
}

bool SeriesArgs::open(const char* function, PyObject* xs, PyObject* ys, const char* xname,
                      const char* yname) noexcept {
  const bool xl = is_number_list(xs), yl = is_number_list(ys);
  if (xl && yl) {
    lists_ = true;
    return true;
  }
  if (xl || yl) {
    PyErr_Format(PyExc_TypeError,
                 "%s() takes %s and %s both as lists or both as buffers, not %.200s and %.200s",
                 function, xname, yname, Py_TYPE(xs)->tp_name, Py_TYPE(ys)->tp_name);
    return false;
  }
  if (!xb_.open(xs, xname) || !yb_.open(ys, yname)) return false;
  if (xb_.length() > INT32_MAX) {
    PyErr_Format(PyExc_OverflowError, "%s may hold at most %d items, not %zd", xname, INT32_MAX,
                 xb_.length());
    return false;
  }
  if (yb_.length() < xb_.length()) {
    PyErr_Format(PyExc_ValueError, "%s has %zd items, fewer than the %zd of %s", yname,
                 yb_.length(), xb_.length(), xname);
    return false;
  }
  n_ = static_cast<std::int32_t>(xb_.length());
  return true;
}

}  // namespace skyloom::kernels
