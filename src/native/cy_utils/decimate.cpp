// decimated_to_screen_cy: a long series in lists strided down to a screen polyline
// (screen/decimate_core.h). Only the chosen items are read, so the work follows the number of
// points drawn, not the length of the series.
#include <iterator>

#include "cy_utils/binding.h"
#include "cy_utils/lines.h"
#include "cy_utils/results.h"
#include "python/darray.h"
#include "python/list_reader.h"
#include "screen/decimate_core.h"

namespace skyloom {

namespace {

namespace L = lines::decimated_to_screen;

enum Arg { kXs, kYs, kMaxPts, kX0, kDx, kY0, kDy, kPl, kPb, kPw, kPh, kLx, kLy };

PyObject* decimated_to_screen(const Value* a) noexcept {
  const FunctionDef& def = kDecimatedToScreen;
  std::int32_t n;
  if (!number_list_length(a[kXs].o, n)) return fail(def, L::kLength);
  const std::int32_t max_pts = a[kMaxPts].i;
  const std::int32_t out_n = max_pts < n ? max_pts : n;

  // A negative max_pts asks for a negative length here, which the array refuses.
  Ref buf(make_double_array(2 * static_cast<Py_ssize_t>(out_n)));
  if (!buf) return fail(def, L::kArray);

  // Nothing to emit (max_pts 0 or an empty series): no item is read, not even the last, and
  // nothing is written, so no view is needed.
  if (out_n > 0) {
    DoubleView v;
    if (!v.acquire(buf.get())) return fail(def, L::kView);
    const Mapping map{window_of(a + kX0), a[kLx].i, a[kLy].i};
    Series s(a[kXs].o, a[kYs].o, "xs", "ys", n);
    ListSource src(s);
    if (!src.allocate(out_n, 0)) return PyErr_NoMemory(), fail(def, L::kStrided);
    if (decimate::strided(src, n, out_n, map, v.data()) != Stop::kNone) {
      return fail(def, L::kStrided);
    }
    if (!decimate::last(src, n, out_n, map, v.data())) return fail(def, L::kLast);
  }
  PyObject* result = polyline_result(buf, out_n);
  return result ? result : fail(def, L::kResult);
}

constexpr Param kParams[] = {{"xs", Kind::List, 0},
                             {"ys", Kind::List, 0},
                             {"max_pts", Kind::Int, L::kMaxPts},
                             SKYLOOM_VIEW_PARAMS(L::kWindow, L::kRect),
                             {"lx", Kind::Flag, L::kFlags},
                             {"ly", Kind::Flag, L::kFlags}};

}  // namespace

FunctionDef kDecimatedToScreen = function_def<kParams, decimated_to_screen>(
    "decimated_to_screen_cy", "skyloom._cy_utils.decimated_to_screen_cy", L::kDef, L::kLocals);

}  // namespace skyloom
