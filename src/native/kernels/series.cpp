// Telling list arguments from buffer arguments, and checking buffers before anything is read.
#include "kernels/series.h"

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

[[gnu::cold]] bool bad_format(const Py_buffer& v, const char* name, const Format& f) noexcept {
  const char* format = v.format != nullptr ? v.format : "B";
  if (f.verdict == Format::kWrongSize) {
    PyErr_Format(PyExc_TypeError,
                 "%s has items of format '%s', which are %zu bytes, but its buffer gives an item "
                 "size of %zd",
                 name, format, f.size, v.itemsize);
  } else {
    PyErr_Format(PyExc_TypeError,
                 "%s has items of format '%s' (item size %zd); expected one of d f e b h i l q n "
                 "B H I L Q N in the machine's byte order",
                 name, format, v.itemsize);
  }
  return false;
}

// numpy's dates and durations have no buffer format: its exporter refuses them. Looked up only
// on that error path, so it runs Python code only there.
bool is_numpy_time(PyObject* obj) noexcept {
  SavedError keep;
  Ref dtype(PyObject_GetAttrString(obj, "dtype"));
  if (!dtype) return PyErr_Clear(), false;
  Ref kind(PyObject_GetAttrString(dtype.get(), "kind"));
  if (!kind || !PyUnicode_Check(kind.get())) return PyErr_Clear(), false;
  return PyUnicode_CompareWithASCIIString(kind.get(), "M") == 0 ||
         PyUnicode_CompareWithASCIIString(kind.get(), "m") == 0;
}

// The exporter of obj refused its buffer: a TypeError (a BufferError for a BufferError) that names
// the parameter, with the exporter's exception as its cause. Other failures (MemoryError, a
// KeyboardInterrupt, ...) pass unchanged.
[[gnu::cold]] bool export_failed(PyObject* obj, const char* name) noexcept {
  if (!PyErr_ExceptionMatches(PyExc_ValueError) && !PyErr_ExceptionMatches(PyExc_TypeError) &&
      !PyErr_ExceptionMatches(PyExc_BufferError)) {
    return false;
  }
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  PyErr_NormalizeException(&type, &value, &tb);
  Ref cause(value);
  Py_XDECREF(type);
  if (tb != nullptr) PyException_SetTraceback(value, tb);
  Py_XDECREF(tb);
  PyObject* kind = PyErr_GivenExceptionMatches(cause.get(), PyExc_BufferError) ? PyExc_BufferError
                                                                               : PyExc_TypeError;
  if (is_numpy_time(obj)) {
    PyErr_Format(
        kind,
        "%s holds numpy dates or durations, which have no buffer format; pass %s.view('i8') "
        "to read their integer counts (NaT is then -9223372036854775808, read as "
        "-9.2e18, and counts beyond 2**53, such as nanosecond stamps, are rounded to "
        "float64)",
        name, name);
  } else {
    PyErr_Format(kind, "%s could not be exported as a buffer: %S", name, cause.get());
  }
  PyObject *t2, *v2, *tb2;
  PyErr_Fetch(&t2, &v2, &tb2);
  PyErr_NormalizeException(&t2, &v2, &tb2);
  PyException_SetCause(v2, cause.release());  // steals the reference
  PyErr_Restore(t2, v2, tb2);
  return false;
}

[[gnu::cold]] bool indirect(const char* name) noexcept {
  PyErr_Format(PyExc_BufferError,
               "%s: its exporter gave an indirect buffer (suboffsets), which was not asked for",
               name);
  return false;
}

}  // namespace

bool BufferView::open(PyObject* obj, const char* name) noexcept {
  if (!PyObject_CheckBuffer(obj)) return not_a_buffer(obj, name);
  if (PyObject_GetBuffer(obj, &view_, PyBUF_STRIDES | PyBUF_FORMAT) < 0) {
    return export_failed(obj, name);
  }
  held_ = true;
  if (view_.ndim != 1) return bad_shape(view_, name);
  if (view_.suboffsets != nullptr) return indirect(name);
  // A buffer that gives no format holds unsigned bytes.
  const Format f = parse_format(view_.format != nullptr ? view_.format : "B",
                                static_cast<std::size_t>(view_.itemsize > 0 ? view_.itemsize : 0));
  if (f.verdict != Format::kOk) return bad_format(view_, name, f);
  type_ = f.type;
  // A shape or strides asked for but not given mean contiguous items filling the buffer.
  length_ = view_.shape != nullptr ? view_.shape[0] : view_.len / view_.itemsize;
  stride_ = view_.strides != nullptr ? view_.strides[0] : view_.itemsize;
  if (length_ < 0) return bad_shape(view_, name);
  return true;
}

Strided BufferView::series() const noexcept {
  return Strided{static_cast<const char*>(view_.buf), stride_, type_};
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
  if (yb_.length() < xb_.length()) {
    PyErr_Format(PyExc_ValueError, "%s has %zd items, fewer than the %zd of %s", yname,
                 yb_.length(), xb_.length(), xname);
    return false;
  }
  n_ = xb_.length();
  return true;
}

}  // namespace skyloom::kernels
