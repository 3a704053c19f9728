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
PyObject* trace_call(PyObject* module, const CallSeries& series, const Mapping& map) noexcept {
  const std::int64_t n = series.n();
  curve::Scratch<J> sc;
  if (n > 0 && !sc.allocate(n)) return PyErr_NoMemory();
  Ref buf(clone_double_array(double_template(module), 2 * Py_ssize_t{n}));
  if (!buf) return nullptr;
  std::int64_t out_n = 0;
  if (n > 0) {
    double* out = items(buf.get());
    const Stop stop = series.run(n, 0, [&](auto& src, auto count, Unlocked& unlocked) {
      decltype(count) kept = 0;
      const Stop s = curve::trace(src, count, map, sc, unlocked.hook(), out, kept);
      out_n = kept;
      return s;
    });
    if (stop != Stop::kNone) return nullptr;
  }
  return polyline_result(buf, out_n);
}

// The call on its bound arguments.
SKYLOOM_BOUND_BODY PyObject* call(PyObject* module, PyObject* const* a) noexcept {
  Mapping map;
  if (!view_mapping(a + 2, nullptr, nullptr, map)) return nullptr;
  CallSeries series;
  if (!series.open(kCurve.name, a[0], a[1])) return nullptr;
  const std::int64_t n = series.n();
  // The result's 2n doubles and the scratch can't be had for more points, whatever memory holds:
  // refused before anything is read or allocated.
  if (n > curve::kMaxPoints) return PyErr_NoMemory();
  // 32-bit scratch integers where they index every point (the narrower block).
  return n <= INT32_MAX ? trace_call<std::int32_t>(module, series, map)
                        : trace_call<std::int64_t>(module, series, map);
}

}  // namespace

extern const Entry fn_to_screen = bound<kCurve, call>;
extern const char* const fn_to_screen_doc = doc::Doc<kCurve, doc::kModule, kCurveDoc>::text.data();

}  // namespace skyloom::kernels
