// Traceback entries that failures inside the module add, named as if the module were source.
#pragma once

#include "frame/function.h"

namespace skyloom {

// The file name that code objects and traceback entries carry.
extern const char kSourcePath[];

// Adds the entry "skyloom._cy_utils.<function>" at line to the current exception.
void add_traceback(const FunctionDef& def, int line) noexcept;
// Adds an entry with an explicit code name, e.g. for the import step.
void add_traceback(const char* code_name, int line) noexcept;

// Adds the entry for def at line and returns nullptr, for `return fail(def, line);`.
inline PyObject* fail(const FunctionDef& def, int line) noexcept {
  add_traceback(def, line);
  return nullptr;
}

}  // namespace skyloom
