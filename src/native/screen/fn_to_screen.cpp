// fn_to_screen_cy: a sampled curve with gaps to a simplified screen polyline.
#include <iterator>

#include "frame/function.h"

namespace skyloom {

namespace {

PyObject* kernel(const Value*) noexcept {
  PyErr_SetString(PyExc_NotImplementedError, "fn_to_screen_cy is not built yet");
  return nullptr;
}

constexpr Param kParams[] = {{"xs", Kind::List, 0}, {"ys", Kind::List, 0}, {"x0", Kind::Double, 203}, {"dx", Kind::Double, 203}, {"y0", Kind::Double, 203}, {"dy", Kind::Double, 203}, {"pl", Kind::Double, 204}, {"pb", Kind::Double, 204}, {"pw", Kind::Double, 204}, {"ph", Kind::Double, 204}};
constexpr const char* kLocals[] = {"n", "i", "j", "seg_start", "seg_len", "simp_n", "out_n", "px2", "py2", "raw_px", "raw_py", "simp_px", "simp_py", "empty", "out_buf", "v", "yi_obj"};

}  // namespace

FunctionDef kFnToScreen = {"fn_to_screen_cy", 201, kParams, std::size(kParams), kLocals, std::size(kLocals), kernel, {}, {}};

}  // namespace skyloom
