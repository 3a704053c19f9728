// decimated_to_screen_cy: a long series strided down to a screen polyline.
#include <iterator>

#include "frame/function.h"

namespace skyloom {

namespace {

PyObject* kernel(const Value*) noexcept {
  PyErr_SetString(PyExc_NotImplementedError, "decimated_to_screen_cy is not built yet");
  return nullptr;
}

constexpr Param kParams[] = {{"xs", Kind::List, 0}, {"ys", Kind::List, 0}, {"max_pts", Kind::Int, 133}, {"x0", Kind::Double, 134}, {"dx", Kind::Double, 134}, {"y0", Kind::Double, 134}, {"dy", Kind::Double, 134}, {"pl", Kind::Double, 135}, {"pb", Kind::Double, 135}, {"pw", Kind::Double, 135}, {"ph", Kind::Double, 135}, {"lx", Kind::Flag, 136}, {"ly", Kind::Flag, 136}};
constexpr const char* kLocals[] = {"n", "out_n", "buf", "v", "step", "px", "py", "i", "idx"};

}  // namespace

FunctionDef kDecimatedToScreen = {"decimated_to_screen_cy", 132, kParams, std::size(kParams), kLocals, std::size(kLocals), kernel, {}, {}};

}  // namespace skyloom
