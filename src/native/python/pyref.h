// Owning references to Python objects: the one place where the modules release what they hold.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace skyloom {

// Holds one strong reference and drops it when it goes out of scope.
class Ref {
 public:
  Ref() noexcept = default;
  explicit Ref(PyObject* owned) noexcept : p_(owned) {}  // takes over a new reference
  static Ref borrow(PyObject* p) noexcept {
    Py_XINCREF(p);
    return Ref(p);
  }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& o) noexcept : p_(o.release()) {}
  Ref& operator=(Ref&& o) noexcept {
    reset(o.release());
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }

  PyObject* get() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  // Hands the reference to the caller.
  PyObject* release() noexcept { return std::exchange(p_, nullptr); }
  void reset(PyObject* owned = nullptr) noexcept {
    PyObject* old = std::exchange(p_, owned);
    Py_XDECREF(old);
  }

 private:
  PyObject* p_ = nullptr;
};

// Strong references to a run of borrowed objects, e.g. the bound arguments of one call, so that
// they outlive any Python code that a conversion runs.
class HeldArgs {
 public:
  HeldArgs(PyObject* const* objs, Py_ssize_t n) noexcept : objs_(objs), n_(n) {
    for (Py_ssize_t i = 0; i < n_; ++i) Py_INCREF(objs_[i]);
  }
  HeldArgs(const HeldArgs&) = delete;
  HeldArgs& operator=(const HeldArgs&) = delete;
  ~HeldArgs() {
    for (Py_ssize_t i = 0; i < n_; ++i) Py_DECREF(objs_[i]);
  }

 private:
  PyObject* const* objs_;
  Py_ssize_t n_;
};

// Keeps the current exception aside while the frame builds objects on an error path.
class SavedError {
 public:
  SavedError() noexcept { PyErr_Fetch(&type_, &value_, &tb_); }
  SavedError(const SavedError&) = delete;
  SavedError& operator=(const SavedError&) = delete;
  ~SavedError() { PyErr_Restore(type_, value_, tb_); }

 private:
  PyObject* type_;
  PyObject* value_;
  PyObject* tb_;
};

}  // namespace skyloom
