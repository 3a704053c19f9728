// polyfit_cy: the least-squares polynomial of a series, highest power first, degree capped at 9.
#include <algorithm>
#include <cmath>
#include <iterator>

#include "analysis/polyfit_core.h"
#include "frame/binding.h"
#include "frame/convert.h"
#include "frame/function.h"
#include "frame/scratch.h"
#include "frame/state.h"
#include "frame/traceback.h"

namespace skyloom {

namespace {

enum Arg { kXn, kYn, kDeg };

// Points are converted a run at a time and then accumulated without Python in the loop.
constexpr int kRun = 256;

PyObject* coefficient_list(const double* c, int d) noexcept {
  Ref list(PyList_New(d));
  if (!list) return nullptr;
  for (int k = 0; k < d; ++k) {
    // A coefficient of +0.0 (every one, for no points) shares the module's cached 0.0.
    PyObject* f = c[k] == 0.0 && !std::signbit(c[k]) ? Ref::borrow(g_module.float_zero).release()
                                                     : PyFloat_FromDouble(c[k]);
    if (!f) return nullptr;
    PyList_SET_ITEM(list.get(), k, f);
  }
  return list.release();
}

PyObject* fit(const Value* a) noexcept {
  const FunctionDef& def = kPolyfit;
  const std::int32_t deg = a[kDeg].i;
  const int d = polyfit::coefficient_count(deg);
  std::int32_t n;
  if (!number_list_length(a[kXn].o, n)) return fail(def, 282);
  if (d <= 0 && n > 0) {  // no coefficient to fit the points with
    PyErr_Format(PyExc_ValueError, "polyfit_cy() needs deg >= 0 for a non-empty xn, got deg %d",
                 static_cast<int>(deg));
    return fail(def, 283);
  }

  const int dc = std::max(d, 0);  // a negative degree on no points gives no coefficients
  double vty[polyfit::kMaxD] = {};
  // With no points every pivot is exactly zero, so the solve leaves vty as it is: all zeros.
  if (n > 0) {
    double vtv[polyfit::kMaxD * polyfit::kMaxD];
    std::fill(vtv, vtv + dc * dc, 0.0);
    const Series s(a[kXn].o, a[kYn].o, "xn", "yn", n);
    // The run buffers live on the heap: a point's conversion may re-enter the module, and each
    // level of that should keep little of the C stack. 292: a point fails to convert, a signal
    // handler raised while the points were read, or the buffers can't be had.
    const std::int32_t run = std::min<std::int32_t>(kRun, n);
    ScratchDoubles buf;
    if (!buf.allocate(2 * static_cast<std::size_t>(run))) return fail(def, 292);
    double* const x = buf.get();
    double* const y = x + run;
    for (std::int32_t i0 = 0, m; i0 < n; i0 += m) {
      m = std::min<std::int32_t>(run, n - i0);
      if (!s.gather(i0, m, x, y)) return fail(def, 292);
      polyfit::accumulate(d, x, y, m, vtv, vty);
    }
    polyfit::solve(dc, vtv, vty);
  }
  PyObject* result = coefficient_list(vty, dc);
  return result ? result : fail(def, 301);
}

constexpr Param kParams[] = {{"xn", Kind::List, 0}, {"yn", Kind::List, 0}, {"deg", Kind::Int, 280}};
constexpr const char* kLocals[] = {"d", "n", "i", "r", "c", "j", "vtv", "vty", "row", "xi", "yi"};

}  // namespace

FunctionDef kPolyfit = {"polyfit_cy",        280,     kParams,
                        std::size(kParams),  kLocals, std::size(kLocals),
                        entry<kParams, fit>, {},      {}};

}  // namespace skyloom
