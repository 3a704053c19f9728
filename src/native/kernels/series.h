// The two series of a kernel call: both exact lists (or None), read through the list reader
// with the interpreter lock held, or both one-dimensional numeric buffers, read in place and
// kept exported until the call ends.
#pragma once

#include <climits>
#include <cstdint>

#include "python/pyref.h"
#include "source/strided.h"

namespace skyloom::kernels {

// An exported buffer, released when it goes out of scope.
class BufferView {
 public:
  BufferView() noexcept = default;
  BufferView(const BufferView&) = delete;
  BufferView& operator=(const BufferView&) = delete;
  ~BufferView() {
    if (held_) PyBuffer_Release(&view_);
  }

  // Exports obj's buffer as a one-dimensional series of a supported element type; false with
  // TypeError or ValueError naming the parameter otherwise.
  bool open(PyObject* obj, const char* name) noexcept;
  Strided series() const noexcept;
  Py_ssize_t length() const noexcept { return length_; }

 private:
  Py_buffer view_{};
  ElementType type_ = ElementType::F64;
  Py_ssize_t length_ = 0, stride_ = 0;
  bool held_ = false;
};

class SeriesArgs {
 public:
  // Tells lists from buffers and opens the buffers (of any length: the cores count them in 64
  // bits); false with the exception set when the two are of different kinds, a buffer is not a
  // one-dimensional numeric one, or ys is shorter.
  bool open(const char* function, PyObject* xs, PyObject* ys, const char* xname,
            const char* yname) noexcept;

  bool lists() const noexcept { return lists_; }
  // For buffers: the series and the length of xs.
  Strided x() const noexcept { return xb_.series(); }
  Strided y() const noexcept { return yb_.series(); }
  std::int64_t n() const noexcept { return n_; }

 private:
  BufferView xb_, yb_;
  bool lists_ = false;
  std::int64_t n_ = 0;
};

}  // namespace skyloom::kernels
