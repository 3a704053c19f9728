// polyfit_cy: the least-squares polynomial of a series read from lists, highest power first,
// degree capped at 9 (analysis/polyfit_core.h).
#include <cmath>
#include <iterator>

#include "analysis/polyfit_core.h"
#include "cy_utils/binding.h"
#include "cy_utils/lines.h"
#include "cy_utils/results.h"
#include "python/list_reader.h"

namespace skyloom {

namespace {

namespace L = lines::polyfit;

enum Arg { kXn, kYn, kDeg };

PyObject* coefficient_list(const double* c, int d) noexcept {
  Ref list(PyList_New(d));
  if (!list) return nullptr;
  // A coefficient of +0.0 (every one, for no points) shares the module's cached 0.0.
  const Ref zero(zero_float());
  for (int k = 0; k < d; ++k) {
    PyObject* f = c[k] == 0.0 && !std::signbit(c[k]) ? Ref::borrow(zero.get()).release()
                                                     : PyFloat_FromDouble(c[k]);
    if (!f) return nullptr;
    PyList_SET_ITEM(list.get(), k, f);
  }
  return list.release();
}

PyObject* fit(const Value* a) noexcept {
  const FunctionDef& def = kPolyfit;
  const std::int32_t deg = a[kDeg].i;
  std::int32_t n;
  if (!number_list_length(a[kXn].o, n)) return fail(def, L::kLength);
  if (!polyfit::defined(deg, n)) {
    PyErr_Format(PyExc_ValueError, "polyfit_cy() needs deg >= 0 for a non-empty xn, got deg %d",
                 static_cast<int>(deg));
    return fail(def, L::kNegativeDegree);
  }
  double c[polyfit::kMaxD];
  int count;
  Series s(a[kXn].o, a[kYn].o, "xn", "yn", n);
  ListSource src(s);
  if (n > 0 && !src.allocate(n, 0)) return PyErr_NoMemory(), fail(def, L::kPoints);
  if (polyfit::fit(src, n, deg, c, count) != Stop::kNone) return fail(def, L::kPoints);
  PyObject* result = coefficient_list(c, count);
  return result ? result : fail(def, L::kResult);
}

constexpr Param kParams[] = {
    {"xn", Kind::List, 0}, {"yn", Kind::List, 0}, {"deg", Kind::Int, L::kDef}};

}  // namespace

FunctionDef kPolyfit =
    function_def<kParams, fit>("polyfit_cy", "skyloom._cy_utils.polyfit_cy", L::kDef, L::kLocals);

}  // namespace skyloom
