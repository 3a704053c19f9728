// The general path of the list reader: items that are not exact floats, missing items and None
// lists, each with its own error.
#include "python/list_reader.h"

namespace skyloom {

bool Series::check_index(PyObject* list, const char* name, Py_ssize_t i) const noexcept {
  if (list == Py_None) {
    PyErr_SetString(PyExc_TypeError, "'NoneType' object is not subscriptable");
    return false;
  }
  Py_ssize_t len = PyList_GET_SIZE(list);
  if (i >= len) {
    PyErr_Format(PyExc_IndexError, "%s index %zd out of range: %s has %zd items but len(%s) was %d",
                 name, i, name, len, xname_, static_cast<int>(n_));
    return false;
  }
  return true;
}

bool Series::read_one(PyObject* list, const char* name, Py_ssize_t i, double& out) const noexcept {
  if (!check_index(list, name, i)) return false;
  // The item's own __float__ may remove it from the list: keep it alive while it runs.
  Ref item = Ref::borrow(PyList_GET_ITEM(list, i));
  return to_double(item.get(), out);
}

bool Series::read_item(Py_ssize_t j, double& x, double& y) noexcept {
  if (!read_one(xs_, xname_, j, x)) return fail(Failed::kX);
  if (!read_one(ys_, yname_, j, y)) return fail(Failed::kY);
  return true;
}

bool Series::read_curve_item(Py_ssize_t j, double& x, double& y, unsigned char& gap) noexcept {
  if (!check_index(ys_, yname_, j)) return fail(Failed::kYList);
  // Converting the x item may run Python code that drops the list's reference to the y item:
  // hold one of our own until both are converted.
  Ref yi_obj = Ref::borrow(PyList_GET_ITEM(ys_, j));
  gap = yi_obj.get() == Py_None;
  if (gap) {
    x = y = 0.0;
    return true;
  }
  if (!read_one(xs_, xname_, j, x)) return fail(Failed::kX);
  if (!to_double(yi_obj.get(), y)) return fail(Failed::kY);
  return true;
}

}  // namespace skyloom
