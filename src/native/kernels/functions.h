// What the files of skyloom.kernels give each other: the functions, the module's double-array
// template, and the series index type it adds to its namespace.
#pragma once

#include "kernels/args.h"
#include "python/pyref.h"

namespace skyloom::kernels {

// The functions, one file each (trapezoid.cpp, nearest.cpp, decimate.cpp, fn_to_screen.cpp,
// polyfit.cpp, m4.cpp): vectorcall entries and their docstrings, made from their signature tables.
#define SKYLOOM_KERNEL(name) \
  extern const Entry name;   \
  extern const char* const name##_doc
SKYLOOM_KERNEL(trapezoid_integral);
SKYLOOM_KERNEL(nearest_on_segments);
SKYLOOM_KERNEL(decimated_to_screen);
SKYLOOM_KERNEL(fn_to_screen);
SKYLOOM_KERNEL(polyfit);
SKYLOOM_KERNEL(m4_to_screen);
#undef SKYLOOM_KERNEL

// module.cpp: the module's array('d') that results are cloned from.
PyObject* double_template(PyObject* module) noexcept;

// series_index.cpp: makes the SeriesIndex type and adds it to the module; false with the
// exception set.
bool add_series_index(PyObject* module) noexcept;

}  // namespace skyloom::kernels
