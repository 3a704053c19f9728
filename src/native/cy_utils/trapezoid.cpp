// trapezoid_integral_cy: the trapezoid integral of a series over an x window, read from lists
// (analysis/trapezoid_core.h).
#include <cfloat>
#include <iterator>

#include "analysis/trapezoid_core.h"
#include "cy_utils/binding.h"
#include "cy_utils/lines.h"
#include "cy_utils/results.h"
#include "python/list_reader.h"

namespace skyloom {

namespace {

namespace L = lines::trapezoid_integral;

enum Arg { kXs, kYs, kXLo, kXHi };

PyObject* trapezoid_integral(const Value* a) noexcept {
  const FunctionDef& def = kTrapezoidIntegral;
  std::int32_t n;
  if (!number_list_length(a[kXs].o, n)) return fail(def, L::kLength);
  if (n < 2) return zero_float();

  double lo, hi;
  if (!to_bound(a[kXLo].o, -DBL_MAX, lo)) return fail(def, L::kLow);
  if (!to_bound(a[kXHi].o, DBL_MAX, hi)) return fail(def, L::kHigh);

  Series s(a[kXs].o, a[kYs].o, "xs", "ys", n);
  ListSource src(s);  // visited point by point: no scratch
  Trapezoid t{lo, hi};
  if (integrate(src, n, t) != Stop::kNone) return fail(def, L::kPoints);
  PyObject* result = PyFloat_FromDouble(t.total);
  return result ? result : fail(def, L::kResult);
}

constexpr Param kParams[] = {{"xs", Kind::List, 0},
                             {"ys", Kind::List, 0},
                             {"x_lo", Kind::Object, 0},
                             {"x_hi", Kind::Object, 0}};

}  // namespace

FunctionDef kTrapezoidIntegral = function_def<kParams, trapezoid_integral>(
    "trapezoid_integral_cy", "skyloom._cy_utils.trapezoid_integral_cy", L::kDef, L::kLocals);

}  // namespace skyloom
