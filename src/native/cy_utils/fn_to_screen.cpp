// fn_to_screen_cy: a sampled curve in lists, None in ys marking gaps, to a simplified screen
// polyline (screen/curve_core.h).
#include <iterator>

#include "cy_utils/binding.h"
#include "cy_utils/lines.h"
#include "cy_utils/results.h"
#include "python/darray.h"
#include "python/list_reader.h"
#include "screen/curve_core.h"

namespace skyloom {

namespace {

namespace L = lines::fn_to_screen;

enum Arg { kXs, kYs, kX0, kDx, kY0, kDy, kPl, kPb, kPw, kPh };

PyObject* empty_result(const FunctionDef& def) noexcept {
  Ref empty(make_double_array(0));
  if (!empty) return fail(def, L::kEmptyArray);
  PyObject* t = PyTuple_New(2);
  if (t == nullptr) return fail(def, L::kEmptyTuple);
  PyTuple_SET_ITEM(t, 0, empty.release());
  PyTuple_SET_ITEM(t, 1, PyLong_FromLong(0));  // a cached small int: cannot fail
  return t;
}

// The line of a failed read of the samples.
int read_line(Series::Failed f) noexcept {
  switch (f) {
    case Series::Failed::kX:
      return L::kXItem;
    case Series::Failed::kY:
      return L::kYItem;
    default:
      return L::kYList;
  }
}

PyObject* fn_to_screen(const Value* a) noexcept {
  const FunctionDef& def = kFnToScreen;
  std::int32_t n;
  if (!number_list_length(a[kXs].o, n)) return fail(def, L::kLength);
  if (n == 0) return empty_result(def);

  Series s(a[kXs].o, a[kYs].o, "xs", "ys", n);
  ListSource src(s);
  curve::Scratch<std::int32_t> sc;
  if (!sc.allocate(n) || !src.allocate(n, 0)) return PyErr_NoMemory(), fail(def, L::kScratch);
  const Py_ssize_t len = 2 * static_cast<Py_ssize_t>(n);
  Ref out_buf(make_double_array(len));
  if (!out_buf) return fail(def, L::kArray);
  std::int32_t out_n;
  {
    DoubleView v;
    if (!v.acquire(out_buf.get())) return fail(def, L::kView);
    const Mapping map{window_of(a + kX0), 0, 0};
    switch (curve::trace(src, n, map, sc, signal_hook(), v.data(), out_n)) {
      case Stop::kNone:
        break;
      case Stop::kSource:
        return fail(def, read_line(s.failed()));
      case Stop::kInterrupted:
        return fail(def, L::kYList);
      case Stop::kMemory:  // the trace allocates nothing itself
        return PyErr_NoMemory(), fail(def, L::kScratch);
    }
  }
  PyObject* result = polyline_result(out_buf, out_n);
  return result ? result : fail(def, L::kResult);
}

constexpr Param kParams[] = {
    {"xs", Kind::List, 0}, {"ys", Kind::List, 0}, SKYLOOM_VIEW_PARAMS(L::kWindow, L::kRect)};

}  // namespace

FunctionDef kFnToScreen = function_def<kParams, fn_to_screen>(
    "fn_to_screen_cy", "skyloom._cy_utils.fn_to_screen_cy", L::kDef, L::kLocals);

}  // namespace skyloom
