// Results of _cy_utils's functions that come from the module's own state: double arrays cloned
// from its template, and its cached 0.0.
#pragma once

#include "python/pyref.h"

namespace skyloom {

// A double array of n uninitialised items from the module's template (python/darray.h); a failure
// also adds the creation step's own traceback entry, after which the caller adds its entry.
PyObject* make_double_array(Py_ssize_t n) noexcept;

// The module's float 0.0, a new reference.
PyObject* zero_float() noexcept;

}  // namespace skyloom
