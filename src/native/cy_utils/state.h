// Process-wide state of the module: set up by the import steps, read only afterwards.
#pragma once

#include <cstdint>

#include "python/pyref.h"

namespace skyloom {

struct ModuleState {
  std::int64_t owner_interpreter = -1;  // id of the interpreter that first created the module
  PyObject* module = nullptr;           // the module whose exec step started and did not fail
  PyObject* dict = nullptr;             // its namespace: globals of every traceback entry
  PyObject* builtins = nullptr;
  PyTypeObject* array_type = nullptr;   // array.array, checked at import
  PyObject* double_template = nullptr;  // array.array('d'), never modified
  PyObject* float_zero = nullptr;       // the constant 0.0
};

extern ModuleState g_module;

}  // namespace skyloom
