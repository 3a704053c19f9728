// Binds a call's positional and keyword arguments to a function's parameters, then hands them to
// the function's entry (cy_utils/binding.h), which converts them and runs the kernel.
#include "cy_utils/function.h"
#include "python/convert.h"

namespace skyloom {

namespace {

[[gnu::cold]] PyObject* count_error(const FunctionDef& def, Py_ssize_t given) noexcept {
  PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
               def.name, "exactly", static_cast<Py_ssize_t>(def.nparams), "s", given);
  return fail(def, def.first_line);
}

// 1 when key names parameter k (compared by value), 0 when not, -1 with an exception set.
int same_name(const FunctionDef& def, int k, PyObject* key) noexcept {
  PyObject* name = def.names[k];
  if (PyUnicode_CheckExact(key)) {
    // Hash first: a str caches it, so most mismatches cost one comparison.
    Py_hash_t h = PyObject_Hash(key);
    if (h == -1) return -1;
    return h == def.hashes[k] && PyUnicode_GET_LENGTH(key) == PyUnicode_GET_LENGTH(name) &&
           PyUnicode_KIND(key) == PyUnicode_KIND(name) &&
           memcmp(PyUnicode_DATA(key), PyUnicode_DATA(name),
                  static_cast<size_t>(PyUnicode_GET_LENGTH(key)) * PyUnicode_KIND(key)) == 0;
  }
  return PyObject_RichCompareBool(key, name, Py_EQ);
}

// Index of the parameter in [from, to) that key names by value; -1 for none, -2 on error.
int find_by_value(const FunctionDef& def, int from, int to, PyObject* key) noexcept {
  for (int k = from; k < to; ++k) {
    int r = same_name(def, k, key);
    if (r < 0) return -2;
    if (r > 0) return k;
  }
  return -1;
}

// The out-of-line path for calls that pass keywords. Fills bound[] with borrowed references.
[[gnu::cold]] bool bind_keywords(const FunctionDef& def, PyObject* const* args, Py_ssize_t nargs,
                                 PyObject* kwnames, PyObject** bound) noexcept {
  const int N = def.nparams;
  if (nargs > N) return count_error(def, nargs), false;
  for (int k = 0; k < N; ++k) bound[k] = k < nargs ? args[k] : nullptr;
  const int n = static_cast<int>(nargs);
  PyObject* const* values = args + nargs;
  const Py_ssize_t K = PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t q = 0; q < K; ++q) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, q);
    int k = n;
    while (k < N && def.names[k] != key) ++k;  // a keyword written in source is the interned name
    if (k == N) {
      if (!PyUnicode_Check(key)) {
        PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", def.name);
        return fail(def, def.first_line), false;
      }
      k = find_by_value(def, n, N, key);
      if (k == -2) return fail(def, def.first_line), false;
      if (k == -1) {
        int dup = find_by_value(def, 0, n, key);
        if (dup == -2) return fail(def, def.first_line), false;
        if (dup >= 0) {
          PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'",
                       def.name, key);
        } else {
          PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", def.name,
                       key);
        }
        return fail(def, def.first_line), false;
      }
    }
    bound[k] = values[q];
  }
  for (int k = 0; k < N; ++k) {
    if (bound[k] == nullptr) return count_error(def, k), false;
  }
  return true;
}

// A call with keywords. The bound arguments live in this frame, out of the positional path, so
// that a call by position keeps no room for them on the stack while its kernel runs.
[[gnu::cold, gnu::noinline]] PyObject* call_with_keywords(const FunctionDef& def,
                                                          PyObject* const* args, Py_ssize_t nargs,
                                                          PyObject* kwnames) noexcept {
  PyObject* bound[kMaxParams];
  if (!bind_keywords(def, args, nargs, kwnames, bound)) return nullptr;
  return def.entry(def, bound);
}

}  // namespace

PyObject* call_function(const FunctionDef& def, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) noexcept {
  if (kwnames != nullptr && PyTuple_GET_SIZE(kwnames) != 0) {
    return call_with_keywords(def, args, nargs, kwnames);
  }
  if (nargs != def.nparams) return count_error(def, nargs);
  return def.entry(def, args);
}

}  // namespace skyloom
