// fn_to_screen_cy: a sampled curve with gaps to a simplified screen polyline. None in ys cuts
// the curve into segments; each is mapped to pixels on linear axes, thinned to half a pixel and
// packed into one array, with the pair (1e308, 1e308) between consecutive segments.
#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <memory>

#include "frame/binding.h"
#include "frame/convert.h"
#include "frame/darray.h"
#include "frame/function.h"
#include "frame/signals.h"
#include "frame/traceback.h"
#include "screen/simplify.h"

namespace skyloom {

namespace {

enum Arg { kXs, kYs, kX0, kDx, kY0, kDy, kPl, kPb, kPw, kPh };

constexpr double kSeparator = 1e308;  // mapped points never exceed 1e6 in magnitude
constexpr double kTol2 = 0.25;        // half a pixel, squared

inline double clamp(double p) noexcept {
  if (p > 1e6) return 1e6;
  if (p < -1e6) return -1e6;
  return p;  // NaN passes
}

// Per-call scratch from the native heap, in one block: the mapped samples, which each segment's
// simplification compacts in place, and the simplification's own integers.
struct Scratch {
  struct Free {
    void operator()(void* p) const noexcept { std::free(p); }
  };
  std::unique_ptr<void, Free> block;
  double* raw_px;
  double* raw_py;
  std::int32_t* ints;

  bool allocate(std::int32_t n) noexcept {
    // 2·n doubles and 3·n integers at most: 28·n bytes, counted in 64 bits.
    const std::uint64_t bytes = static_cast<std::uint64_t>(n) * (2 * sizeof(double)) +
                                simplify_scratch_ints(n) * sizeof(std::int32_t);
    if (bytes > SIZE_MAX) return false;
    block.reset(std::malloc(static_cast<std::size_t>(bytes)));
    if (!block) return false;
    raw_px = static_cast<double*>(block.get());
    raw_py = raw_px + n;
    ints = reinterpret_cast<std::int32_t*>(raw_py + n);
    return true;
  }
};

// Writes pairs into the result array and keeps count of them.
class Output {
 public:
  explicit Output(DoubleView& v) noexcept : v_(v) {}
  void pair(double x, double y) noexcept {
    const Py_ssize_t k = 2 * static_cast<Py_ssize_t>(out_n_);
    v_.set(k, x);
    v_.set(k + 1, y);
    ++out_n_;
  }
  // A segment starts: set it off from the one before, if any.
  void begin_segment() noexcept {
    if (out_n_ > 0) pair(kSeparator, kSeparator);
  }
  std::int32_t out_n() const noexcept { return out_n_; }

 private:
  DoubleView& v_;
  std::int32_t out_n_ = 0;
};

// A signal handler's exception, from the sample loop or a segment's simplification (whose worst
// case is quadratic), is reported at the line of the loop's first step.
constexpr int kInterruptedLine = 228;

// Flushes the segment of seg_len samples from seg_start, thinned when it has two or more. False,
// with the exception set, when a signal handler raised during the simplification.
bool flush(const Scratch& sc, std::int32_t seg_start, std::int32_t seg_len, Output& out) noexcept {
  double* const px = sc.raw_px + seg_start;
  double* const py = sc.raw_py + seg_start;
  const std::int32_t simp_n =
      seg_len == 1 ? 1 : simplify_polyline(px, py, seg_len, kTol2, px, py, sc.ints, signal_hook());
  if (simp_n == kSimplifyStopped) return false;
  out.begin_segment();
  for (std::int32_t j = 0; j < simp_n; ++j) out.pair(px[j], py[j]);
  return true;
}

PyObject* empty_result(const FunctionDef& def) noexcept {
  Ref empty(make_double_array(0));
  if (!empty) return fail(def, 217);
  PyObject* t = PyTuple_New(2);
  if (t == nullptr) return fail(def, 218);
  PyTuple_SET_ITEM(t, 0, empty.release());
  PyTuple_SET_ITEM(t, 1, PyLong_FromLong(0));  // a cached small int: cannot fail
  return t;
}

// Maps, cuts and flushes all n samples into out. Returns 0, or the line of the failing step
// with the exception set.
int fill(const Value* a, std::int32_t n, const Scratch& sc, Output& out) noexcept {
  const double x0 = a[kX0].d, dx = a[kDx].d, y0 = a[kY0].d, dy = a[kDy].d;
  const double pl = a[kPl].d, pb = a[kPb].d, pw = a[kPw].d, ph = a[kPh].d;
  PyObject* const xs = a[kXs].o;
  PyObject* const ys = a[kYs].o;
  const Series s(xs, ys, "xs", "ys", n);
  std::int32_t seg_start = -1;
  for (std::int32_t i = 0; i < n; ++i) {
    // Nothing is cached from the lists across iterations, so a handler may change them.
    if (i % kSignalStride == 0 && !signals_ok()) return kInterruptedLine;
    PyObject* yo = nullptr;
    PyObject* xo = nullptr;
    double x, y;
    if (ys != Py_None && i < PyList_GET_SIZE(ys) &&
        PyFloat_CheckExact(yo = PyList_GET_ITEM(ys, i)) && i < PyList_GET_SIZE(xs) &&
        PyFloat_CheckExact(xo = PyList_GET_ITEM(xs, i))) {
      // Two exact floats: no Python code runs, so nothing needs holding.
      x = PyFloat_AS_DOUBLE(xo);
      y = PyFloat_AS_DOUBLE(yo);
    } else {
      // The x item's conversion may run Python code that drops the list's reference to the
      // y item: hold one of our own until both are converted.
      Ref yi_obj(s.y_object(i));
      if (!yi_obj) return 228;
      if (yi_obj.get() == Py_None) {
        if (seg_start >= 0) {
          if (!flush(sc, seg_start, i - seg_start, out)) return kInterruptedLine;
          seg_start = -1;
        }
        continue;
      }
      if (!s.x(i, x)) return 251;
      if (!to_double(yi_obj.get(), y)) return 252;
    }
    const double px2 = (x - x0) / dx * pw + pl;
    const double py2 = pb - (y - y0) / dy * ph;
    sc.raw_px[i] = clamp(px2);
    sc.raw_py[i] = clamp(py2);
    if (seg_start < 0) seg_start = i;
  }
  if (seg_start >= 0 && !flush(sc, seg_start, n - seg_start, out)) return kInterruptedLine;
  return 0;
}

PyObject* fn_to_screen(const Value* a) noexcept {
  const FunctionDef& def = kFnToScreen;
  std::int32_t n;
  if (!number_list_length(a[kXs].o, n)) return fail(def, 215);
  if (n == 0) return empty_result(def);

  Scratch sc;
  if (!sc.allocate(n)) {
    PyErr_NoMemory();
    return fail(def, 219);
  }
  const Py_ssize_t len = 2 * static_cast<Py_ssize_t>(n);
  Ref out_buf(make_double_array(len));
  if (!out_buf) return fail(def, 223);
  std::int32_t out_n;
  {
    DoubleView v;
    if (!v.acquire(out_buf.get())) return fail(def, 224);
    Output out(v);
    if (const int line = fill(a, n, sc, out)) return fail(def, line);
    out_n = out.out_n();
    // The items past the result would otherwise hand uninitialised memory to Python.
    if (double* p = v.contiguous()) {
      std::fill(p + 2 * static_cast<Py_ssize_t>(out_n), p + len, 0.0);
    } else {
      for (Py_ssize_t k = 2 * static_cast<Py_ssize_t>(out_n); k < len; ++k) v.set(k, 0.0);
    }
  }
  PyObject* result = polyline_result(out_buf, out_n);
  return result ? result : fail(def, 277);
}

constexpr Param kParams[] = {{"xs", Kind::List, 0},     {"ys", Kind::List, 0},
                             {"x0", Kind::Double, 203}, {"dx", Kind::Double, 203},
                             {"y0", Kind::Double, 203}, {"dy", Kind::Double, 203},
                             {"pl", Kind::Double, 204}, {"pb", Kind::Double, 204},
                             {"pw", Kind::Double, 204}, {"ph", Kind::Double, 204}};
constexpr const char* kLocals[] = {"n",       "i",     "j",       "seg_start", "seg_len", "simp_n",
                                   "out_n",   "px2",   "py2",     "raw_px",    "raw_py",  "simp_px",
                                   "simp_py", "empty", "out_buf", "v",         "yi_obj"};

}  // namespace

FunctionDef kFnToScreen = {"fn_to_screen_cy",
                           201,
                           kParams,
                           std::size(kParams),
                           kLocals,
                           std::size(kLocals),
                           entry<kParams, fn_to_screen>,
                           {},
                           {}};

}  // namespace skyloom
