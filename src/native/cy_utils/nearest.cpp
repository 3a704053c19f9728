// nearest_on_segments_cy: the point of a series in lists nearest to a screen position
// (analysis/nearest_core.h). Distances are taken in pixels after the mapping, so the hit test
// follows what is drawn; the point returned is interpolated in data units along the segment.
#include <iterator>

#include "analysis/nearest_core.h"
#include "cy_utils/binding.h"
#include "cy_utils/lines.h"
#include "python/list_reader.h"

namespace skyloom {

namespace {

namespace L = lines::nearest_on_segments;

enum Arg { kMx, kMy, kXs, kYs, kX0, kDx, kY0, kDy, kPl, kPb, kPw, kPh, kLx, kLy };

// (x, y, d) as a new tuple of three floats, or nullptr with the exception set.
PyObject* triple(double x, double y, double d) noexcept {
  Ref fx(PyFloat_FromDouble(x));
  if (!fx) return nullptr;
  Ref fy(PyFloat_FromDouble(y));
  if (!fy) return nullptr;
  Ref fd(PyFloat_FromDouble(d));
  if (!fd) return nullptr;
  PyObject* t = PyTuple_New(3);
  if (t == nullptr) return nullptr;
  PyTuple_SET_ITEM(t, 0, fx.release());
  PyTuple_SET_ITEM(t, 1, fy.release());
  PyTuple_SET_ITEM(t, 2, fd.release());
  return t;
}

PyObject* nearest_on_segments(const Value* a) noexcept {
  const FunctionDef& def = kNearestOnSegments;
  std::int32_t n;
  if (!number_list_length(a[kXs].o, n)) return fail(def, L::kLength);
  if (n == 0) Py_RETURN_NONE;

  const Mapping map{window_of(a + kX0), a[kLx].i, a[kLy].i};
  const double mx = a[kMx].d, my = a[kMy].d;

  Series s(a[kXs].o, a[kYs].o, "xs", "ys", n);
  ListSource src(s);
  if (!src.allocate(n, 2)) return PyErr_NoMemory(), fail(def, L::kLaterVertex);
  nearest::Hit hit;
  bool first_failed;
  if (nearest::find(src, n, map, mx, my, hit, first_failed) != Stop::kNone) {
    return fail(def, first_failed ? L::kFirstVertex : L::kLaterVertex);
  }
  PyObject* r = triple(hit.x, hit.y, hit.d);
  return r ? r : fail(def, n == 1 ? L::kOneVertexResult : L::kResult);
}

constexpr Param kParams[] = {{"mx", Kind::Double, L::kQuery},
                             {"my", Kind::Double, L::kQuery},
                             {"xs", Kind::List, 0},
                             {"ys", Kind::List, 0},
                             SKYLOOM_VIEW_PARAMS(L::kWindow, L::kRect),
                             {"lx", Kind::Flag, L::kFlags},
                             {"ly", Kind::Flag, L::kFlags}};

}  // namespace

FunctionDef kNearestOnSegments = function_def<kParams, nearest_on_segments>(
    "nearest_on_segments_cy", "skyloom._cy_utils.nearest_on_segments_cy", L::kDef, L::kLocals);

}  // namespace skyloom
