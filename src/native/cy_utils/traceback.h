// Traceback entries that failures inside _cy_utils add, named as if the module were source
// (cy_utils/lines.h).
#pragma once

#include "python/pyref.h"

namespace skyloom {

// Adds the entry code_name (e.g. "skyloom._cy_utils.polyfit_cy") at line to the current
// exception. Code objects are cached by (code_name, line): code_name must outlive the process.
void add_traceback(const char* code_name, int line) noexcept;

}  // namespace skyloom
