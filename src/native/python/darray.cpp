// Making double arrays by cloning the template, and acquiring their double view.
#include "python/darray.h"

#include <cassert>
#include <cstring>

#include "python/compat.h"

namespace skyloom {

bool check_array_type(PyObject* type) noexcept {
  if (!PyType_Check(type)) {
    PyErr_Format(PyExc_TypeError, "%.200s.%.200s is not a type object", "array", "array");
    return false;
  }
  const Py_ssize_t size = reinterpret_cast<PyTypeObject*>(type)->tp_basicsize;
  if (size < kArrayObjectSize) {
    PyErr_Format(PyExc_ValueError,
                 "array.array size changed, may indicate binary incompatibility. Expected %zd "
                 "bytes from C header, got %zd from PyObject",
                 kArrayObjectSize, size);
    return false;
  }
  return size == kArrayObjectSize ||
         PyErr_WarnFormat(PyExc_RuntimeWarning, 0,
                          "array.array size changed, may indicate binary incompatibility. "
                          "Expected %zd bytes from C header, got %zd from PyObject",
                          kArrayObjectSize, size) == 0;
}

PyObject* clone_double_array(PyObject* tmpl_obj, Py_ssize_t n) noexcept {
  if (n < 0) {
    // The bad-internal-call error, raised directly: the interpreter's helper asserts on a
    // debug build, and its macro form would put this file's build path in the message.
    PyErr_SetString(PyExc_SystemError, "bad argument to internal function");
    return nullptr;
  }
  auto* tmpl = reinterpret_cast<ArrayObject*>(tmpl_obj);
  constexpr size_t item_size = sizeof(double);  // the template's descriptor is typecode "d"
  const size_t nbytes = static_cast<size_t>(n) * item_size;
  if (nbytes / item_size != static_cast<size_t>(n)) {
    PyErr_NoMemory();
    return nullptr;
  }
  PyTypeObject* type = Py_TYPE(tmpl_obj);
  Ref obj;
  if (type->tp_alloc == PyType_GenericAlloc && type->tp_basicsize == sizeof(ArrayObject) &&
      type->tp_itemsize == 0 && !PyType_IS_GC(type) && !(type->tp_flags & Py_TPFLAGS_HEAPTYPE)) {
    // What the generic allocator does for such a type, without its call and its memset: every
    // field is set below or here.
    auto* raw = static_cast<ArrayObject*>(PyObject_Malloc(sizeof(ArrayObject)));
    if (raw == nullptr) {
      PyErr_NoMemory();
      return nullptr;
    }
    raw->ob_exports = 0;
    obj = Ref(PyObject_INIT(raw, type));
  } else {
    obj = Ref(type->tp_alloc(type, 0));
    if (!obj) return nullptr;
  }
  auto* a = reinterpret_cast<ArrayObject*>(obj.get());
  a->ob_descr = tmpl->ob_descr;
  a->allocated = n;
  a->weakreflist = nullptr;
  Py_SET_SIZE(a, n);
  a->ob_item = nullptr;
  if (n == 0) return obj.release();
  if (nbytes > static_cast<size_t>(PY_SSIZE_T_MAX) ||
      (a->ob_item = static_cast<char*>(PyMem_Malloc(nbytes))) == nullptr) {
    Py_SET_SIZE(a, 0);  // so that releasing the half-made array frees nothing it does not own
    a->allocated = 0;
    obj.reset();
    PyErr_NoMemory();
    return nullptr;
  }
  return obj.release();
}

PyObject* polyline_result(Ref& buf, Py_ssize_t count) noexcept {
  Ref n(PyLong_FromSsize_t(count));
  if (!n) return nullptr;
  PyObject* t = PyTuple_New(2);
  if (t == nullptr) return nullptr;
  PyTuple_SET_ITEM(t, 0, buf.release());
  PyTuple_SET_ITEM(t, 1, n.release());
  return t;
}

PyObject* polyline_copy(PyObject* tmpl, const double* pairs, Py_ssize_t count) noexcept {
  Ref buf(clone_double_array(tmpl, 2 * count));
  if (!buf) return nullptr;
  if (count > 0) {
    std::memcpy(reinterpret_cast<ArrayObject*>(buf.get())->ob_item, pairs,
                static_cast<std::size_t>(count) * 2 * sizeof(double));
  }
  return polyline_result(buf, count);
}

bool DoubleView::acquire(PyObject* array) noexcept {
  if (PyObject_GetBuffer(array, &buf_, PyBUF_WRITABLE | PyBUF_STRIDES | PyBUF_FORMAT) < 0) {
    return false;
  }
  held_ = true;
  if (buf_.ndim != 1 || buf_.itemsize != sizeof(double) || buf_.format == nullptr ||
      std::strcmp(buf_.format, "d") != 0) {
    PyErr_SetString(PyExc_ValueError, "Buffer dtype mismatch, expected 'double'");
    return false;
  }
  assert(buf_.strides[0] == sizeof(double));  // an array's items are contiguous
  return true;
}

}  // namespace skyloom
