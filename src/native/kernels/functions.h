// What the files of skyloom.kernels give each other: the function defined outside module.cpp,
// the module's double-array template, and the series index type it adds to its namespace.
#pragma once

#include "frame/pyref.h"

namespace skyloom::kernels {

// m4.cpp.
PyObject* m4_to_screen(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) noexcept;
extern const char* const m4_to_screen_doc;

// module.cpp: the module's array('d') that results are cloned from.
PyObject* double_template(PyObject* module) noexcept;

// series_index.cpp: makes the SeriesIndex type and adds it to the module; false with the
// exception set.
bool add_series_index(PyObject* module) noexcept;

}  // namespace skyloom::kernels
