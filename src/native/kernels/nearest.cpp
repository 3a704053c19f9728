// skyloom.kernels.nearest_on_segments: the point of the drawn series nearest to a pixel, from
// lists or buffers, through analysis/nearest_core.h. Binds and reports only.
#include "analysis/nearest_core.h"
#include "kernels/call.h"
#include "kernels/functions.h"
#include "python/convert.h"

namespace skyloom::kernels {

namespace {

SIGNATURE(kNearest, "nearest_on_segments", "mx", "my", "xs", "ys", "x0", "dx", "y0", "dy", "pl",
          "pb", "pw", "ph", "lx", "ly");

constexpr char kNearestDoc[] = "The point of the drawn series nearest to the pixel (mx, my).";

// (x, y, d) as a new tuple of three floats.
PyObject* triple(double x, double y, double d) noexcept {
  return Py_BuildValue("(ddd)", x, y, d);
}

// The call on its bound arguments.
SKYLOOM_BOUND_BODY PyObject* call(PyObject*, PyObject* const* a) noexcept {
  double m[2];
  Mapping map;
  if (!doubles(a, 2, m) || !view_mapping(a + 4, a[12], a[13], map)) return nullptr;
  CallSeries series;
  if (!series.open(kNearest.name, a[2], a[3])) return nullptr;
  if (series.n() == 0) Py_RETURN_NONE;

  nearest::Hit hit;
  const Stop stop = series.run(series.n(), 2, [&](auto& src, auto count, Unlocked&) {
    bool first_failed;
    return nearest::find(src, count, map, m[0], m[1], hit, first_failed);
  });
  if (stop != Stop::kNone) return nullptr;
  return triple(hit.x, hit.y, hit.d);
}

}  // namespace

extern const Entry nearest_on_segments = bound<kNearest, call>;
extern const char* const nearest_on_segments_doc =
    doc::Doc<kNearest, doc::kModule, kNearestDoc>::text.data();

}  // namespace skyloom::kernels
