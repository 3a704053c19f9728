// polyfit_cy: the least-squares polynomial of a series.
#include <iterator>

#include "frame/function.h"

namespace skyloom {

namespace {

PyObject* kernel(const Value*) noexcept {
  PyErr_SetString(PyExc_NotImplementedError, "polyfit_cy is not built yet");
  return nullptr;
}

constexpr Param kParams[] = {{"xn", Kind::List, 0}, {"yn", Kind::List, 0}, {"deg", Kind::Int, 280}};
constexpr const char* kLocals[] = {"d", "n", "i", "r", "c", "j", "vtv", "vty", "row", "xi", "yi"};

}  // namespace

FunctionDef kPolyfit = {"polyfit_cy", 280, kParams, std::size(kParams), kLocals, std::size(kLocals), kernel, {}, {}};

}  // namespace skyloom
