// Double arrays: array.array('d') results cloned from the module's template, and the writable
// view through which kernels fill them.
#pragma once

#include "python/pyref.h"

namespace skyloom {

// The array module's object record for the interpreter version compiled for: double arrays are
// made by filling it in, and both modules' imports refuse an array type whose instances are
// smaller (and warn when they are larger: the record's fields are then still where they are
// filled in). Every fact about that layout lives here.
struct ArrayObject {
  PyObject_VAR_HEAD char* ob_item;
  Py_ssize_t allocated;
  const void* ob_descr;
  PyObject* weakreflist;
#if PY_VERSION_HEX >= 0x03090000
  Py_ssize_t ob_exports;  // widened from int in 3.9
#else
  int ob_exports;
#endif
};
constexpr Py_ssize_t kArrayObjectSize = sizeof(ArrayObject);
static_assert(sizeof(void*) != 8 || kArrayObjectSize == 64, "the 64-bit layout is 64 bytes");

// Whether type (array.array) has the record above: TypeError when it is no type, ValueError
// when its instances are smaller, a RuntimeWarning when they are larger; false with the
// exception set (the warning's, when warnings are errors).
bool check_array_type(PyObject* type) noexcept;

// A new array.array of typecode "d" like tmpl (an array('d')), with n items of uninitialised
// storage: no constructor runs, nothing is zero-filled. On failure the exception is set and
// nullptr returned.
PyObject* clone_double_array(PyObject* tmpl, Py_ssize_t n) noexcept;

// The screen-polyline result (buf, count): takes buf over on success; on failure (no memory)
// the exception is set, buf is left to its owner and nullptr returned.
PyObject* polyline_result(Ref& buf, Py_ssize_t count) noexcept;
// The same for count pixel pairs copied from pairs into a new array cloned from tmpl.
PyObject* polyline_copy(PyObject* tmpl, const double* pairs, Py_ssize_t count) noexcept;

// A writable, one-dimensional view of 8-byte floats over a double array; released on every
// path by its destructor.
class DoubleView {
 public:
  DoubleView() noexcept = default;
  DoubleView(const DoubleView&) = delete;
  DoubleView& operator=(const DoubleView&) = delete;
  ~DoubleView() { release(); }

  // On failure the exception is set; the kernel reports it at its own line.
  bool acquire(PyObject* array) noexcept;
  // Gives the buffer back, so that the array can be resized once returned.
  void release() noexcept {
    if (held_) PyBuffer_Release(&buf_);
    held_ = false;
  }

  // The items: a double array's buffer is always contiguous.
  double* data() const noexcept { return static_cast<double*>(buf_.buf); }

 private:
  Py_buffer buf_{};
  bool held_ = false;
};

}  // namespace skyloom
