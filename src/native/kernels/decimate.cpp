// skyloom.kernels.decimated_to_screen: a long series strided to at most max_pts screen points,
// from lists or buffers, through screen/decimate_core.h. Binds and reports only.
#include "kernels/call.h"
#include "kernels/functions.h"
#include "python/convert.h"
#include "screen/decimate_core.h"

namespace skyloom::kernels {

namespace {

SIGNATURE(kDecimated, "decimated_to_screen", "xs", "ys", "max_pts", "x0", "dx", "y0", "dy", "pl",
          "pb", "pw", "ph", "lx", "ly");

constexpr char kDecimatedDoc[] = "A long series strided to at most max_pts screen points.";

}  // namespace

extern const char* const decimated_to_screen_doc =
    doc::Doc<kDecimated, doc::kModule, kDecimatedDoc>::text.data();

PyObject* decimated_to_screen(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) noexcept {
  PyObject* a[kMaxArgs];
  if (!bind(kDecimated, args, nargs, kwnames, a)) return nullptr;
  std::int32_t max_pts;
  Mapping map;
  if (!to_int32(a[2], max_pts) || !view_mapping(a + 3, a[11], a[12], map)) return nullptr;
  if (max_pts < 0) {
    PyErr_Format(PyExc_ValueError, "max_pts must not be negative, got %d", max_pts);
    return nullptr;
  }
  SeriesArgs series;
  std::int64_t n;
  if (!open_series(series, kDecimated.name, a[0], a[1], "xs", "ys", n)) return nullptr;
  const auto out_n = static_cast<std::int32_t>(max_pts < n ? max_pts : n);
  Ref buf(clone_double_array(double_template(module), 2 * Py_ssize_t{out_n}));
  if (!buf) return nullptr;
  if (out_n > 0) {
    double* out = items(buf.get());
    const Stop stop = with_source(
        series, a[0], a[1], "xs", "ys", n, out_n, 0, [&](auto& src, auto count, Unlocked&) {
          const Stop s = decimate::strided(src, count, out_n, map, out);
          if (s != Stop::kNone) return s;
          return decimate::last(src, count, out_n, map, out) ? Stop::kNone : Stop::kSource;
        });
    if (stop != Stop::kNone) return nullptr;
  }
  return polyline_result(buf, out_n);
}

}  // namespace skyloom::kernels
