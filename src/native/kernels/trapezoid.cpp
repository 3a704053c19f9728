// skyloom.kernels.trapezoid_integral: the trapezoid integral of a series over an x window, from
// lists or buffers, through analysis/trapezoid_core.h. Binds and reports only.
#include <cfloat>

#include "analysis/trapezoid_core.h"
#include "kernels/call.h"
#include "kernels/functions.h"
#include "python/convert.h"

namespace skyloom::kernels {

namespace {

SIGNATURE(kTrapezoid, "trapezoid_integral", "xs", "ys", "x_lo", "x_hi");

constexpr char kTrapezoidDoc[] =
    "The trapezoid integral of the series over the x window [x_lo, x_hi].";

// The call on its bound arguments.
SKYLOOM_BOUND_BODY PyObject* call(PyObject*, PyObject* const* a) noexcept {
  CallSeries series;
  if (!series.open(kTrapezoid.name, a[0], a[1])) return nullptr;
  if (series.n() < 2) return PyFloat_FromDouble(0.0);
  double lo, hi;
  if (!to_bound(a[2], -DBL_MAX, lo) || !to_bound(a[3], DBL_MAX, hi)) return nullptr;

  Trapezoid t{lo, hi};
  const Stop stop = series.run(
      series.n(), 0, [&](auto& src, auto count, Unlocked&) { return integrate(src, count, t); });
  if (stop != Stop::kNone) return nullptr;
  return PyFloat_FromDouble(t.total);
}

}  // namespace

extern const Entry trapezoid_integral = bound<kTrapezoid, call>;
extern const char* const trapezoid_integral_doc =
    doc::Doc<kTrapezoid, doc::kModule, kTrapezoidDoc>::text.data();

}  // namespace skyloom::kernels
