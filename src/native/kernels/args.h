// Argument binding for the functions of skyloom.kernels: positional-or-keyword parameters, all
// required, then optional keyword-only ones, with the interpreter's own messages for builtins.
// No Python code runs while binding: keyword names are compared by their characters.
#pragma once

#include "frame/pyref.h"
#include "screen/mapping.h"

namespace skyloom::kernels {

struct Signature {
  const char* name;
  const char* const* params;  // positional-or-keyword names, then keyword-only ones
  int npositional;
  int nkeyword_only;
  int count() const noexcept { return npositional + nkeyword_only; }
};

// The most parameters any function has.
constexpr int kMaxArgs = 15;

// Binds a vectorcall's arguments to out[0 ... count - 1] (borrowed; nullptr for an optional
// keyword-only parameter not given). False with TypeError set on a wrong count or name.
bool bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** out) noexcept;

// Converts count arguments to doubles, in order; false with the conversion's error set.
bool doubles(PyObject* const* a, int count, double* out) noexcept;

// The view window and plot rectangle from a[0 ... 7], the log flags from lx and ly (nullptr:
// linear).
bool view_mapping(PyObject* const* a, PyObject* lx, PyObject* ly, Mapping& m) noexcept;

}  // namespace skyloom::kernels
