// nearest_on_segments_cy: the point of a drawn series nearest to a screen position.
#include <iterator>

#include "frame/function.h"

namespace skyloom {

namespace {

PyObject* kernel(const Value*) noexcept {
  PyErr_SetString(PyExc_NotImplementedError, "nearest_on_segments_cy is not built yet");
  return nullptr;
}

constexpr Param kParams[] = {{"mx", Kind::Double, 96}, {"my", Kind::Double, 96}, {"xs", Kind::List, 0}, {"ys", Kind::List, 0}, {"x0", Kind::Double, 98}, {"dx", Kind::Double, 98}, {"y0", Kind::Double, 98}, {"dy", Kind::Double, 98}, {"pl", Kind::Double, 99}, {"pb", Kind::Double, 99}, {"pw", Kind::Double, 99}, {"ph", Kind::Double, 99}, {"lx", Kind::Flag, 100}, {"ly", Kind::Flag, 100}};
constexpr const char* kLocals[] = {"n", "i", "bd", "bxi", "byi", "p0x", "p0y", "p1x", "p1y", "sx", "sy", "sl2", "t", "d", "xi0", "yi0", "xi1", "yi1"};

}  // namespace

FunctionDef kNearestOnSegments = {"nearest_on_segments_cy", 95, kParams, std::size(kParams), kLocals, std::size(kLocals), kernel, {}, {}};

}  // namespace skyloom
