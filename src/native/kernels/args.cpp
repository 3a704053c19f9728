// Binding a vectorcall's positional and keyword arguments to a kernel function's parameters.
#include "kernels/args.h"

#include "python/convert.h"

namespace skyloom::kernels {

namespace {

[[gnu::cold]] bool too_many(const Signature& sig, Py_ssize_t given) noexcept {
  PyErr_Format(PyExc_TypeError, "%s() takes at most %d positional arguments (%zd given)", sig.name,
               sig.npositional, given);
  return false;
}

// The parameter that key names, or -1.
int find(const Signature& sig, PyObject* key) noexcept {
  for (int k = 0; k < sig.count(); ++k) {
    if (PyUnicode_CompareWithASCIIString(key, sig.params[k]) == 0) return k;
  }
  return -1;
}

[[gnu::cold]] bool bind_keywords(const Signature& sig, PyObject* const* values, PyObject* kwnames,
                                 PyObject** out) noexcept {
  const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
  for (Py_ssize_t q = 0; q < nkw; ++q) {
    PyObject* key = PyTuple_GET_ITEM(kwnames, q);
    if (!PyUnicode_Check(key)) {
      PyErr_SetString(PyExc_TypeError, "keywords must be strings");
      return false;
    }
    const int k = find(sig, key);
    if (k < 0) {
      PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'", sig.name, key);
      return false;
    }
    if (out[k] != nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() got multiple values for argument '%s'", sig.name,
                   sig.params[k]);
      return false;
    }
    out[k] = values[q];
  }
  return true;
}

}  // namespace

bool bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** out) noexcept {
  if (nargs > sig.npositional) return too_many(sig, nargs);
  for (int k = 0; k < sig.count(); ++k) out[k] = k < nargs ? args[k] : nullptr;
  if (kwnames != nullptr && !bind_keywords(sig, args + nargs, kwnames, out)) return false;
  for (int k = 0; k < sig.npositional; ++k) {
    if (out[k] == nullptr) {
      PyErr_Format(PyExc_TypeError, "%s() missing required argument '%s' (pos %d)", sig.name,
                   sig.params[k], k + 1);
      return false;
    }
  }
  return true;
}

bool doubles(PyObject* const* a, int count, double* out) noexcept {
  for (int k = 0; k < count; ++k) {
    if (!to_double(a[k], out[k])) return false;
  }
  return true;
}

bool view_mapping(PyObject* const* a, PyObject* lx, PyObject* ly, Mapping& m) noexcept {
  double v[8];
  if (!doubles(a, 8, v)) return false;
  m.w = LinearView{v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7]};
  m.lx = m.ly = 0;
  return (lx == nullptr || to_flag(lx, m.lx)) && (ly == nullptr || to_flag(ly, m.ly));
}

}  // namespace skyloom::kernels
