// skyloom.kernels.polyfit: the least-squares polynomial of a series, highest power first, from
// lists or buffers, through analysis/polyfit_core.h. Binds and reports only.
#include "analysis/polyfit_core.h"
#include "kernels/call.h"
#include "kernels/functions.h"
#include "python/convert.h"

namespace skyloom::kernels {

namespace {

SIGNATURE(kPolyfit, "polyfit", "xn", "yn", "deg");

constexpr char kPolyfitDoc[] =
    "The least-squares polynomial of degree deg (at most 9), highest power first.";

// The call on its bound arguments.
SKYLOOM_BOUND_BODY PyObject* call(PyObject*, PyObject* const* a) noexcept {
  std::int32_t deg;
  if (!to_int32(a[2], deg)) return nullptr;
  CallSeries series;
  if (!series.open(kPolyfit.name, a[0], a[1], "xn", "yn")) return nullptr;
  if (!polyfit::defined(deg, series.n())) {
    PyErr_Format(PyExc_ValueError, "polyfit() needs deg >= 0 for a non-empty xn, got deg %d",
                 static_cast<int>(deg));
    return nullptr;
  }
  double c[polyfit::kMaxD];
  int count = 0;
  const Stop stop = series.run(series.n(), 0, [&](auto& src, auto points, Unlocked&) {
    return polyfit::fit(src, points, deg, c, count);
  });
  if (stop != Stop::kNone) return nullptr;
  Ref list(PyList_New(count));
  if (!list) return nullptr;
  for (int k = 0; k < count; ++k) {
    PyObject* f = PyFloat_FromDouble(c[k]);
    if (f == nullptr) return nullptr;
    PyList_SET_ITEM(list.get(), k, f);
  }
  return list.release();
}

}  // namespace

extern const Entry polyfit = bound<kPolyfit, call>;
extern const char* const polyfit_doc = doc::Doc<kPolyfit, doc::kModule, kPolyfitDoc>::text.data();

}  // namespace skyloom::kernels
