// skyloom.kernels.m4_to_screen: the per-column extremes of a series on screen, from lists or from
// buffers, through the pure core of screen/m4.h. This file only binds the arguments, gives the
// core the kernels' block source (lists converted item by item with the lock held; buffers read in
// place with the lock released) and turns the kept points into the (array('d'), count) result.
#include "screen/m4.h"

#include "kernels/call.h"
#include "kernels/functions.h"

namespace skyloom::kernels {

namespace {

constexpr const char* kParams[] = {"xs", "ys", "x0", "dx", "y0", "dy",       "pl",
                                   "pb", "pw", "ph", "lx", "ly", "x_sorted", "snap"};
constexpr Signature kM4 = {"m4_to_screen", kParams, 12, 2};

constexpr char kM4Doc[] =
    "Of every run of points in one pixel column the first, lowest, highest and last, as "
    "(array('d') of pixel pairs, count): drawn as one polyline they light the pixels that all "
    "the points light. With x_sorted=True (xs ascending) only the visible part is read. With "
    "snap=True every point stands for its pixel (floor(px), floor(py)) and is returned at its "
    "centre: of each run the steps between pixels that antialiased and centre-sampling "
    "renderers need are kept (at most 6 per column), consecutive ones in one pixel as one.";

// The call on its bound arguments.
SKYLOOM_BOUND_BODY PyObject* call(PyObject* module, PyObject* const* a) noexcept {
  Mapping map;
  int sorted = 0, snapped = 0;
  if (!view_mapping(a + 2, a[10], a[11], map)) return nullptr;
  if (a[12] != nullptr && !to_flag(a[12], sorted)) return nullptr;
  if (a[13] != nullptr && !to_flag(a[13], snapped)) return nullptr;
  const bool x_sorted = sorted != 0, snap = snapped != 0;
  CallSeries series;
  if (!series.open(kM4.name, a[0], a[1])) return nullptr;

  // The core takes its own scratch. The general scan releases the lock from the start on long
  // buffers; the sorted scan reads only the visible columns, so it releases it once it has run
  // for a while.
  PointBuffer points;
  const Stop stop = series.run<m4::kBlock>(0, 0, [&](auto& src, auto count, Unlocked& unlocked) {
    if (!x_sorted) unlocked.release_for(count);
    return skyloom::m4_to_screen(src, count, map, x_sorted, points, snap);
  });
  // A failed item's or a signal handler's exception is set already.
  if (stop == Stop::kMemory) return PyErr_NoMemory();
  if (stop != Stop::kNone) return nullptr;

  return polyline_copy(double_template(module), points.data(), points.count());
}

}  // namespace

extern const Entry m4_to_screen = bound<kM4, call>;
extern const char* const m4_to_screen_doc = doc::Doc<kM4, doc::kModule, kM4Doc>::text.data();

}  // namespace skyloom::kernels
