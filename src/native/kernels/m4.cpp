// skyloom.kernels.m4_to_screen: the per-column extremes of a series on screen, from lists or from
// buffers, through the pure core of screen/m4.h. This file only binds the arguments, gives the
// core the kernels' block source (lists converted item by item with the lock held; buffers read in
// place with the lock released) and turns the kept points into the (array('d'), count) result.
#include "screen/m4.h"

#include <cstring>

#include "kernels/args.h"
#include "kernels/functions.h"
#include "kernels/series.h"
#include "kernels/unlocked.h"
#include "python/darray.h"
#include "python/list_reader.h"
#include "source/blocks.h"

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

}  // namespace

extern const char* const m4_to_screen_doc = doc::Doc<kM4, doc::kModule, kM4Doc>::text.data();

PyObject* m4_to_screen(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) noexcept {
  PyObject* a[kMaxArgs];
  if (!bind(kM4, args, nargs, kwnames, a)) return nullptr;
  Mapping map;
  int sorted = 0, snapped = 0;
  if (!view_mapping(a + 2, a[10], a[11], map)) return nullptr;
  if (a[12] != nullptr && !to_flag(a[12], sorted)) return nullptr;
  if (a[13] != nullptr && !to_flag(a[13], snapped)) return nullptr;
  const bool x_sorted = sorted != 0, snap = snapped != 0;
  SeriesArgs series;
  if (!series.open(kM4.name, a[0], a[1], "xs", "ys")) return nullptr;

  PointBuffer points;
  Stop stop;
  if (series.lists()) {
    std::int32_t n;
    if (!number_list_length(a[0], n)) return nullptr;
    Series s(a[0], a[1], "xs", "ys", n);
    BlockListSource<m4::kBlock> src(s);
    stop = skyloom::m4_to_screen(src, n, map, x_sorted, points, snap);
  } else {
    // The sorted scan reads only the visible columns: it releases the lock once it has run for
    // a while, not from the start.
    Unlocked unlocked(true);
    if (!x_sorted) unlocked.release_for(series.n());
    auto poll = [&unlocked](std::int64_t read) { return unlocked.poll(read); };
    BufferSource<decltype(poll), std::int64_t> src(series.x(), series.y(), poll);
    stop = skyloom::m4_to_screen(src, series.n(), map, x_sorted, points, snap);
  }
  // A failed item's or a signal handler's exception is set already.
  if (stop == Stop::kMemory) return PyErr_NoMemory();
  if (stop != Stop::kNone) return nullptr;

  const Py_ssize_t count = points.count();
  Ref buf(clone_double_array(double_template(module), 2 * count));
  if (!buf) return nullptr;
  if (count > 0) {
    std::memcpy(reinterpret_cast<ArrayObject*>(buf.get())->ob_item, points.data(),
                static_cast<std::size_t>(count) * 2 * sizeof(double));
  }
  return polyline_result(buf, count);
}

}  // namespace skyloom::kernels
