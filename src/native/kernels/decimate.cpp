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

// The call on its bound arguments.
SKYLOOM_BOUND_BODY PyObject* call(PyObject* module, PyObject* const* a) noexcept {
  std::int32_t max_pts;
  Mapping map;
  if (!to_int32(a[2], max_pts) || !view_mapping(a + 3, a[11], a[12], map)) return nullptr;
  if (max_pts < 0) {
    PyErr_Format(PyExc_ValueError, "max_pts must not be negative, got %d", max_pts);
    return nullptr;
  }
  CallSeries series;
  if (!series.open(kDecimated.name, a[0], a[1])) return nullptr;
  const auto out_n = static_cast<std::int32_t>(max_pts < series.n() ? max_pts : series.n());
  Ref buf(clone_double_array(double_template(module), 2 * Py_ssize_t{out_n}));
  if (!buf) return nullptr;
  if (out_n > 0) {
    double* out = items(buf.get());
    const Stop stop = series.run(out_n, 0, [&](auto& src, auto count, Unlocked&) {
      const Stop s = decimate::strided(src, count, out_n, map, out);
      if (s != Stop::kNone) return s;
      return decimate::last(src, count, out_n, map, out) ? Stop::kNone : Stop::kSource;
    });
    if (stop != Stop::kNone) return nullptr;
  }
  return polyline_result(buf, out_n);
}

}  // namespace

extern const Entry decimated_to_screen = bound<kDecimated, call>;
extern const char* const decimated_to_screen_doc =
    doc::Doc<kDecimated, doc::kModule, kDecimatedDoc>::text.data();

}  // namespace skyloom::kernels
