// trapezoid_integral_cy: the trapezoid integral of a series over an x window. Only segments whose
// two end points both lie in the window count; nothing is interpolated at its edges.
#include <cfloat>
#include <iterator>

#include "analysis/trapezoid_core.h"
#include "frame/binding.h"
#include "frame/convert.h"
#include "frame/function.h"
#include "frame/state.h"
#include "frame/traceback.h"

namespace skyloom {

namespace {

enum Arg { kXs, kYs, kXLo, kXHi };

// A window bound: None leaves that end open at the largest finite double.
bool bound_value(PyObject* o, double open, double& out) noexcept {
  if (o == Py_None) {
    out = open;
    return true;
  }
  return to_double(o, out);
}

PyObject* trapezoid_integral(const Value* a) noexcept {
  const FunctionDef& def = kTrapezoidIntegral;
  std::int32_t n;
  if (!number_list_length(a[kXs].o, n)) return fail(def, 158);
  if (n < 2) return Ref::borrow(g_module.float_zero).release();

  double lo, hi;
  if (!bound_value(a[kXLo].o, -DBL_MAX, lo)) return fail(def, 161);
  if (!bound_value(a[kXHi].o, DBL_MAX, hi)) return fail(def, 162);

  const Series s(a[kXs].o, a[kYs].o, "xs", "ys", n);
  Trapezoid step{lo, hi};
  // 165: a point fails to convert, or a signal handler raised while the points were read.
  if (!s.for_each_pair(0, step)) return fail(def, 165);
  const double total = step.total;
  PyObject* result = PyFloat_FromDouble(total);
  return result ? result : fail(def, 172);
}

constexpr Param kParams[] = {{"xs", Kind::List, 0},
                             {"ys", Kind::List, 0},
                             {"x_lo", Kind::Object, 0},
                             {"x_hi", Kind::Object, 0}};
constexpr const char* kLocals[] = {"n", "i", "lo", "hi", "total", "px", "py", "cx", "cy", "hp"};

}  // namespace

FunctionDef kTrapezoidIntegral = {"trapezoid_integral_cy",
                                  154,
                                  kParams,
                                  std::size(kParams),
                                  kLocals,
                                  std::size(kLocals),
                                  entry<kParams, trapezoid_integral>,
                                  {},
                                  {}};

}  // namespace skyloom
