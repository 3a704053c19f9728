// skyloom.kernels.fn_to_screen: a sampled curve with gaps to a simplified, gap-separated screen
// polyline, from lists or buffers, through screen/curve_core.h. Binds and reports only.
#include <climits>

#include "kernels/call.h"
#include "kernels/functions.h"
#include "python/convert.h"
#include "screen/curve_core.h"

namespace skyloom::kernels {

namespace {

SIGNATURE(kCurve, "fn_to_screen", "xs", "ys", "x0", "dx", "y0", "dy", "pl", "pb", "pw", "ph");

constexpr char kCurveDoc[] =
    "A sampled curve with gaps to a simplified, gap-separated screen polyline.";

// The call past its arguments, with the simplification's integers of type J (which index the n
// points). The scratch is had before the result: in the other order the allocator gave a
// million-point call's pages back to the system and faulted them in again on every call (7-10 %
// slower).
template <class J>
PyObject* trace_call(PyObject* module, const SeriesArgs& series, PyObject* const* a, std::int64_t n,
                     const Mapping& map) noexcept {
  curve::Scratch<J> sc;
  if (n > 0 && !sc.allocate(n)) return PyErr_NoMemory();
  Ref buf(clone_double_array(double_template(module), 2 * Py_ssize_t{n}));
  if (!buf) return nullptr;
  std::int64_t out_n = 0;
  if (n > 0) {
    double* out = items(buf.get());
    const Stop stop = with_source(
        series, a[0], a[1], "xs", "ys", n, n, 0, [&](auto& src, auto count, Unlocked& unlocked) {
          decltype(count) kept = 0;
          const Stop s = curve::trace(src, count, map, sc, unlocked.hook(), out, kept);
          out_n = kept;
          return s;
        });
    if (stop != Stop::kNone) return nullptr;
  }
  return polyline_result(buf, out_n);
}

}  // namespace

extern const char* const fn_to_screen_doc = doc::Doc<kCurve, doc::kModule, kCurveDoc>::text.data();

PyObject* fn_to_screen(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) noexcept {
  PyObject* a[kMaxArgs];
  if (!bind(kCurve, args, nargs, kwnames, a)) return nullptr;
  Mapping map;
  if (!view_mapping(a + 2, nullptr, nullptr, map)) return nullptr;
  SeriesArgs series;
  std::int64_t n;
  if (!open_series(series, kCurve.name, a[0], a[1], "xs", "ys", n)) return nullptr;
  // The result's 2n doubles and the scratch can't be had for more points, whatever memory holds:
  // refused before anything is read or allocated.
  if (n > curve::kMaxPoints) return PyErr_NoMemory();
  // 32-bit scratch integers where they index every point (the narrower block).
  return n <= INT32_MAX ? trace_call<std::int32_t>(module, series, a, n, map)
                        : trace_call<std::int64_t>(module, series, a, n, map);
}

}  // namespace skyloom::kernels
