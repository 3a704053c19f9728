// skyloom.kernels: the kernels of skyloom._cy_utils on lists or on numeric buffers read in place,
// with the interpreter lock released while buffers are read. Per-module state only, so the module
// can be loaded into any number of interpreters.
#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <memory>

#include "analysis/nearest_core.h"
#include "analysis/polyfit_core.h"
#include "analysis/trapezoid_core.h"
#include "frame/compat.h"
#include "frame/convert.h"
#include "frame/darray.h"
#include "frame/list_reader.h"
#include "kernels/args.h"
#include "kernels/functions.h"
#include "kernels/series.h"
#include "kernels/unlocked.h"
#include "screen/curve_core.h"
#include "screen/decimate_core.h"
#include "screen/mapping.h"
#include "source/blocks.h"

namespace skyloom::kernels {

namespace {

struct State {
  PyObject* double_template;  // array.array('d'), cloned for every result
};

State* state(PyObject* module) noexcept {
  return static_cast<State*>(PyModule_GetState(module));
}

// Runs f(source, n, unlocked) with a block source over the two series of a call (xs holding n
// items, passed on as the source's Count: lists count in 32 bits, buffers in 64), with scratch
// for blocks of up to `points` points and `extra` arrays for the kernel (none for no points:
// nothing is read). On buffers f runs with the interpreter lock released when it reads
// kReleaseFrom points or more, or once it has run for a while (see Unlocked), and must not touch
// Python objects. Returns what f returns, or Stop::kSource with MemoryError set when scratch
// can't be had.
template <class F>
Stop with_source(const SeriesArgs& args, PyObject* xs, PyObject* ys, const char* xname,
                 const char* yname, std::int64_t n, std::int64_t points, int extra,
                 F&& f) noexcept {
  Unlocked unlocked(!args.lists());
  if (args.lists()) {
    const auto count = static_cast<ListSource::Count>(n);  // a list's length fits
    Series s(xs, ys, xname, yname, count);
    ListSource src(s);
    if (points > 0 && !src.allocate(static_cast<ListSource::Count>(points), extra)) {
      return PyErr_NoMemory(), Stop::kSource;
    }
    return f(src, count, unlocked);
  }
  auto poll = [&unlocked](std::int64_t read) { return unlocked.poll(read); };
  BufferSource<decltype(poll), std::int64_t> src(args.x(), args.y(), poll);
  if (points > 0 && !src.allocate(points, extra)) return PyErr_NoMemory(), Stop::kSource;
  unlocked.release_for(points);
  return f(src, n, unlocked);
}

// The length of xs: a list's (None raising the len() TypeError), or a buffer's.
bool series_length(const SeriesArgs& args, PyObject* xs, std::int64_t& n) noexcept {
  if (args.lists()) {
    std::int32_t len;
    if (!number_list_length(xs, len)) return false;
    n = len;
    return true;
  }
  n = args.n();
  return true;
}

#define SIGNATURE(var, fname, ...)                      \
  constexpr const char* var##_params[] = {__VA_ARGS__}; \
  constexpr Signature var = {fname, var##_params, static_cast<int>(std::size(var##_params)), 0}

SIGNATURE(kTrapezoid, "trapezoid_integral", "xs", "ys", "x_lo", "x_hi");
SIGNATURE(kNearest, "nearest_on_segments", "mx", "my", "xs", "ys", "x0", "dx", "y0", "dy", "pl",
          "pb", "pw", "ph", "lx", "ly");
SIGNATURE(kDecimated, "decimated_to_screen", "xs", "ys", "max_pts", "x0", "dx", "y0", "dy", "pl",
          "pb", "pw", "ph", "lx", "ly");
SIGNATURE(kPolyfit, "polyfit", "xn", "yn", "deg");
SIGNATURE(kCurve, "fn_to_screen", "xs", "ys", "x0", "dx", "y0", "dy", "pl", "pb", "pw", "ph");

// The items of a double array made by clone_double_array.
double* items(PyObject* array) noexcept {
  return reinterpret_cast<double*>(reinterpret_cast<ArrayObject*>(array)->ob_item);
}

PyObject* trapezoid_integral(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) noexcept {
  PyObject* a[kMaxArgs];
  if (!bind(kTrapezoid, args, nargs, kwnames, a)) return nullptr;
  SeriesArgs series;
  if (!series.open(kTrapezoid.name, a[0], a[1], "xs", "ys")) return nullptr;
  std::int64_t n;
  if (!series_length(series, a[0], n)) return nullptr;
  if (n < 2) return PyFloat_FromDouble(0.0);
  double lo, hi;
  if (!to_bound(a[2], -DBL_MAX, lo) || !to_bound(a[3], DBL_MAX, hi)) return nullptr;

  Trapezoid t{lo, hi};
  const Stop stop =
      with_source(series, a[0], a[1], "xs", "ys", n, n, 0,
                  [&](auto& src, auto count, Unlocked&) { return integrate(src, count, t); });
  if (stop != Stop::kNone) return nullptr;
  return PyFloat_FromDouble(t.total);
}

// (x, y, d) as a new tuple of three floats.
PyObject* triple(double x, double y, double d) noexcept {
  return Py_BuildValue("(ddd)", x, y, d);
}

PyObject* nearest_on_segments(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) noexcept {
  PyObject* a[kMaxArgs];
  if (!bind(kNearest, args, nargs, kwnames, a)) return nullptr;
  double m[2];
  Mapping map;
  if (!doubles(a, 2, m) || !view_mapping(a + 4, a[12], a[13], map)) return nullptr;
  SeriesArgs series;
  if (!series.open(kNearest.name, a[2], a[3], "xs", "ys")) return nullptr;
  std::int64_t n;
  if (!series_length(series, a[2], n)) return nullptr;
  if (n == 0) Py_RETURN_NONE;

  nearest::Hit hit;
  const Stop stop =
      with_source(series, a[2], a[3], "xs", "ys", n, n, 2, [&](auto& src, auto count, Unlocked&) {
        bool first_failed;
        return nearest::find(src, count, map, m[0], m[1], hit, first_failed);
      });
  if (stop != Stop::kNone) return nullptr;
  return triple(hit.x, hit.y, hit.d);
}

PyObject* decimated_to_screen(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) noexcept {
  PyObject* a[kMaxArgs];
  if (!bind(kDecimated, args, nargs, kwnames, a)) return nullptr;
  std::int32_t max_pts;
  Mapping map;
  if (!to_int32(a[2], max_pts) || !view_mapping(a + 3, a[11], a[12], map)) return nullptr;
  if (max_pts < 0) {
    PyErr_Format(PyExc_ValueError, "max_pts must not be negative, got %d", max_pts);
    return nullptr;
  }
  SeriesArgs series;
  if (!series.open(kDecimated.name, a[0], a[1], "xs", "ys")) return nullptr;
  std::int64_t n;
  if (!series_length(series, a[0], n)) return nullptr;
  const auto out_n = static_cast<std::int32_t>(max_pts < n ? max_pts : n);
  Ref buf(clone_double_array(state(module)->double_template, 2 * Py_ssize_t{out_n}));
  if (!buf) return nullptr;
  if (out_n > 0) {
    double* out = items(buf.get());
    const Stop stop = with_source(
        series, a[0], a[1], "xs", "ys", n, out_n, 0, [&](auto& src, auto count, Unlocked&) {
          const Stop s = decimate::strided(src, count, out_n, map, out);
          if (s != Stop::kNone) return s;
          return decimate::last(src, count, out_n, map, out) ? Stop::kNone : Stop::kSource;
        });
    if (stop != Stop::kNone) return nullptr;
  }
  return polyline_result(buf, out_n);
}

// curve::trace with the simplification's integers of type J (which index the n points), its
// scratch had with the lock perhaps released: Stop::kMemory, with no exception set, when it
// can't be.
template <class J, class Source>
Stop trace_curve(Source& src, typename Source::Count n, const Mapping& map, Unlocked& unlocked,
                 double* out, typename Source::Count& out_n) noexcept {
  curve::Scratch<J> sc;
  if (!sc.allocate(n)) return Stop::kMemory;
  return curve::trace(src, n, map, sc, unlocked.hook(), out, out_n);
}

PyObject* fn_to_screen(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) noexcept {
  PyObject* a[kMaxArgs];
  if (!bind(kCurve, args, nargs, kwnames, a)) return nullptr;
  Mapping map;
  if (!view_mapping(a + 2, nullptr, nullptr, map)) return nullptr;
  SeriesArgs series;
  if (!series.open(kCurve.name, a[0], a[1], "xs", "ys")) return nullptr;
  std::int64_t n;
  if (!series_length(series, a[0], n)) return nullptr;
  // The result's 2n doubles and the scratch can't be had for more points, whatever memory holds:
  // refused before anything is read or allocated.
  if (n > curve::kMaxPoints) return PyErr_NoMemory();
  Ref buf(clone_double_array(state(module)->double_template, 2 * Py_ssize_t{n}));
  if (!buf) return nullptr;
  std::int64_t out_n = 0;
  if (n > 0) {
    double* out = items(buf.get());
    const Stop stop = with_source(
        series, a[0], a[1], "xs", "ys", n, n, 0, [&](auto& src, auto count, Unlocked& unlocked) {
          decltype(count) kept = 0;
          // 32-bit scratch integers where they index every point (the narrower block).
          const Stop s = count <= INT32_MAX
                             ? trace_curve<std::int32_t>(src, count, map, unlocked, out, kept)
                             : trace_curve<std::int64_t>(src, count, map, unlocked, out, kept);
          out_n = kept;
          return s;
        });
    if (stop == Stop::kMemory) return PyErr_NoMemory();
    if (stop != Stop::kNone) return nullptr;
  }
  return polyline_result(buf, out_n);
}

PyObject* polyfit(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
  PyObject* a[kMaxArgs];
  if (!bind(kPolyfit, args, nargs, kwnames, a)) return nullptr;
  std::int32_t deg;
  if (!to_int32(a[2], deg)) return nullptr;
  SeriesArgs series;
  if (!series.open(kPolyfit.name, a[0], a[1], "xn", "yn")) return nullptr;
  std::int64_t n;
  if (!series_length(series, a[0], n)) return nullptr;
  if (!polyfit::defined(deg, n)) {
    PyErr_Format(PyExc_ValueError, "polyfit() needs deg >= 0 for a non-empty xn, got deg %d",
                 static_cast<int>(deg));
    return nullptr;
  }
  double c[polyfit::kMaxD];
  int count = 0;
  const Stop stop = with_source(
      series, a[0], a[1], "xn", "yn", n, n, 0,
      [&](auto& src, auto points, Unlocked&) { return polyfit::fit(src, points, deg, c, count); });
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

constexpr char kDecimatedDoc[] = "A long series strided to at most max_pts screen points.";
constexpr char kCurveDoc[] =
    "A sampled curve with gaps to a simplified, gap-separated screen polyline.";
constexpr char kNearestDoc[] = "The point of the drawn series nearest to the pixel (mx, my).";
constexpr char kTrapezoidDoc[] =
    "The trapezoid integral of the series over the x window [x_lo, x_hi].";
constexpr char kPolyfitDoc[] =
    "The least-squares polynomial of degree deg (at most 9), highest power first.";

template <const Signature& S, const char* Summary>
constexpr const char* doc_of = doc::Doc<S, doc::kModule, Summary>::text.data();

PyMethodDef kernel_methods[] = {
    SKYLOOM_METHOD(decimated_to_screen, (doc_of<kDecimated, kDecimatedDoc>)),
    SKYLOOM_METHOD(fn_to_screen, (doc_of<kCurve, kCurveDoc>)),
    SKYLOOM_METHOD(nearest_on_segments, (doc_of<kNearest, kNearestDoc>)),
    SKYLOOM_METHOD(trapezoid_integral, (doc_of<kTrapezoid, kTrapezoidDoc>)),
    SKYLOOM_METHOD(polyfit, (doc_of<kPolyfit, kPolyfitDoc>)),
    SKYLOOM_METHOD(m4_to_screen, m4_to_screen_doc),
    {nullptr, nullptr, 0, nullptr},
};

int kernels_exec(PyObject* module) noexcept {
  Ref am(PyImport_ImportModule("array"));
  if (!am) return -1;
  Ref type(PyObject_GetAttrString(am.get(), "array"));
  if (!type || !check_array_type(type.get())) return -1;
  PyObject* tmpl = PyObject_CallFunction(type.get(), "s", "d");
  if (tmpl == nullptr) return -1;
  state(module)->double_template = tmpl;
  return add_series_index(module) ? 0 : -1;
}

int kernels_traverse(PyObject* module, visitproc visit, void* arg) noexcept {
  State* s = state(module);
  if (s != nullptr) Py_VISIT(s->double_template);
  return 0;
}

int kernels_clear(PyObject* module) noexcept {
  State* s = state(module);
  if (s != nullptr) Py_CLEAR(s->double_template);
  return 0;
}

void kernels_free(void* module) noexcept {
  kernels_clear(static_cast<PyObject*>(module));
}

PyModuleDef_Slot kernel_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(kernels_exec)},
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
    {0, nullptr},
};

PyModuleDef kernels_def = {
    PyModuleDef_HEAD_INIT,
    "skyloom.kernels",
    "The kernels of skyloom on lists or on numeric buffers (numpy arrays, array.array, "
    "memoryview, ...), read in place.",
    sizeof(State),
    kernel_methods,
    kernel_slots,
    kernels_traverse,
    kernels_clear,
    kernels_free,
};

}  // namespace

PyObject* double_template(PyObject* module) noexcept {
  return state(module)->double_template;
}

}  // namespace skyloom::kernels

extern "C" SKYLOOM_EXPORT PyObject* PyInit_kernels(void) {
  return PyModuleDef_Init(&skyloom::kernels::kernels_def);
}
