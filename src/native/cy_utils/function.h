// The module's function type and the tables that describe each module function.
#pragma once

#include <cstdint>

#include "cy_utils/traceback.h"
#include "python/pyref.h"

namespace skyloom {

constexpr int kMaxParams = 14;

// How the front end turns one argument into what the kernel reads.
enum class Kind : std::uint8_t {
  Double,  // number-to-double conversion
  Int,     // signed 32-bit integer conversion
  Flag,    // truth value, 0 or 1
  List,    // exactly a list, or None; items converted by the kernel
  Object,  // passed through unconverted
};

struct Param {
  const char* name;
  Kind kind;
  int line;  // source line reported when this argument's conversion fails
};

// A converted argument, as the kernel reads it.
union Value {
  double d;
  std::int32_t i;
  PyObject* o;
};

struct FunctionDef;
using Kernel = PyObject* (*)(const Value* args) noexcept;
// Converts the bound arguments (in parameter order), type-tests the lists and runs the kernel;
// made for each function by entry<kParams, kernel> (cy_utils/binding.h).
using Entry = PyObject* (*)(const FunctionDef& def, PyObject* const* bound) noexcept;

// One module function: its signature, the source lines that its failures report, and its entry.
struct FunctionDef {
  const char* name;
  const char* code_name;  // "skyloom._cy_utils." and the name: its traceback entries' name
  int first_line;         // line of the definition; failures of binding report it too
  const Param* params;
  int nparams;
  const char* const* locals;  // further local variable names of its code object
  int nlocals;
  Entry entry;

  // Filled at import: interned parameter names with their hashes.
  PyObject* names[kMaxParams];
  Py_hash_t hashes[kMaxParams];
};

// The five functions, in the order in which the module creates them.
extern FunctionDef kNearestOnSegments;
extern FunctionDef kDecimatedToScreen;
extern FunctionDef kTrapezoidIntegral;
extern FunctionDef kFnToScreen;
extern FunctionDef kPolyfit;

// Readies the function type (once per process).
bool ready_function_type() noexcept;
// A new function object for def, with the module's namespace as globals.
PyObject* new_function(FunctionDef& def, PyObject* code, PyObject* globals) noexcept;
// Interns the parameter names of def and computes their hashes.
bool intern_names(FunctionDef& def) noexcept;
// The code object that introspection sees for def.
PyObject* new_code_object(const FunctionDef& def) noexcept;

// Adds the entry for def at line and returns nullptr, for `return fail(def, line);`.
inline PyObject* fail(const FunctionDef& def, int line) noexcept {
  add_traceback(def.code_name, line);
  return nullptr;
}

// Call entry shared by every module function (argument binding and conversion).
PyObject* call_function(const FunctionDef& def, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) noexcept;

}  // namespace skyloom
