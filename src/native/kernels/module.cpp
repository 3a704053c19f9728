// skyloom.kernels: the kernels of skyloom._cy_utils on lists or on numeric buffers read in place,
// with the interpreter lock released while buffers are read. Per-module state only, so the module
// can be loaded into any number of interpreters.
#include <cfloat>
#include <cstdlib>
#include <iterator>
#include <memory>

#include "analysis/trapezoid_core.h"
#include "frame/compat.h"
#include "frame/convert.h"
#include "frame/darray.h"
#include "frame/list_source.h"
#include "kernels/args.h"
#include "kernels/series.h"
#include "kernels/unlocked.h"
#include "source/blocks.h"

namespace skyloom::kernels {

namespace {

struct State {
  PyObject* double_template;  // array.array('d'), cloned for every result
};

State* state(PyObject* module) noexcept {
  return static_cast<State*>(PyModule_GetState(module));
}

// Scratch doubles from the native heap for one call.
struct Scratch {
  struct Free {
    void operator()(double* p) const noexcept { std::free(p); }
  };
  std::unique_ptr<double, Free> p;
  // False with MemoryError set when count doubles can't be had.
  bool allocate(std::size_t count) noexcept {
    p.reset(static_cast<double*>(std::malloc(count * sizeof(double))));
    if (!p) PyErr_NoMemory();
    return p != nullptr;
  }
};

// Reads both series of a call, lists or buffers, and runs f(source, n) with a block source over
// them; buffers of kReleaseFrom points or more are read with the lock released. Returns what f
// returns, or Stop::kSource with the exception set when the series can't be read.
template <class F>
Stop with_source(const SeriesArgs& args, PyObject* xs, PyObject* ys, const char* xname,
                 const char* yname, std::int32_t n, F&& f) noexcept {
  Scratch scratch;
  if (args.lists()) {
    if (!scratch.allocate(2 * ListSource::kBlock)) return Stop::kSource;
    const Series s(xs, ys, xname, yname, n);
    ListSource src(s, scratch.p.get());
    return f(src, n);
  }
  if (!scratch.allocate(2 * kBufferBlock)) return Stop::kSource;
  Unlocked unlocked(n >= kReleaseFrom);
  auto poll = [&unlocked](std::int64_t points) { return unlocked.poll(points); };
  BufferSource<decltype(poll)> src(args.x(), args.y(), scratch.p.get(), poll);
  return f(src, n);
}

// The length of xs: a list's (None raising the len() TypeError), or a buffer's.
bool series_length(const SeriesArgs& args, PyObject* xs, std::int32_t& n) noexcept {
  if (args.lists()) return number_list_length(xs, n);
  n = args.n();
  return true;
}

// A window bound: None leaves that end open at the largest finite double.
bool bound_value(PyObject* o, double open, double& out) noexcept {
  if (o == Py_None) {
    out = open;
    return true;
  }
  return to_double(o, out);
}

constexpr const char* kTrapezoidParams[] = {"xs", "ys", "x_lo", "x_hi"};
constexpr Signature kTrapezoid = {"trapezoid_integral", kTrapezoidParams,
                                  static_cast<int>(std::size(kTrapezoidParams)), 0};

PyObject* trapezoid_integral(PyObject*, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) noexcept {
  PyObject* a[kMaxArgs];
  if (!bind(kTrapezoid, args, nargs, kwnames, a)) return nullptr;
  SeriesArgs series;
  if (!series.open(kTrapezoid.name, a[0], a[1], "xs", "ys")) return nullptr;
  std::int32_t n;
  if (!series_length(series, a[0], n)) return nullptr;
  if (n < 2) return PyFloat_FromDouble(0.0);
  double lo, hi;
  if (!bound_value(a[2], -DBL_MAX, lo) || !bound_value(a[3], DBL_MAX, hi)) return nullptr;

  Trapezoid t{lo, hi};
  const Stop stop = with_source(series, a[0], a[1], "xs", "ys", n, [&t](auto& src, std::int32_t n) {
    return for_each_block(src, 0, n, [&t](const double* x, const double* y, std::int32_t m, auto) {
      Trapezoid local = t;  // its running sums in registers
      for (std::int32_t k = 0; k < m; ++k) local(x[k], y[k]);
      t = local;
    });
  });
  if (stop != Stop::kNone) return nullptr;
  return PyFloat_FromDouble(t.total);
}

PyMethodDef kernel_methods[] = {
    {"trapezoid_integral", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(
                               trapezoid_integral)),
     METH_FASTCALL | METH_KEYWORDS,
     "trapezoid_integral($module, /, xs, ys, x_lo, x_hi)\n--\n\n"
     "The trapezoid integral of the series over the x window [x_lo, x_hi] (None leaves an end "
     "open); only segments with both ends inside the window count."},
    {nullptr, nullptr, 0, nullptr},
};

int kernels_exec(PyObject* module) noexcept {
  Ref am(PyImport_ImportModule("array"));
  if (!am) return -1;
  Ref type(PyObject_GetAttrString(am.get(), "array"));
  if (!type) return -1;
  if (!PyType_Check(type.get()) ||
      reinterpret_cast<PyTypeObject*>(type.get())->tp_basicsize != kArrayObjectSize) {
    PyErr_SetString(PyExc_ImportError,
                    "array.array does not have the object layout that skyloom.kernels was "
                    "built for");
    return -1;
  }
  PyObject* tmpl = PyObject_CallFunction(type.get(), "s", "d");
  if (tmpl == nullptr) return -1;
  state(module)->double_template = tmpl;
  return 0;
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

}  // namespace skyloom::kernels

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_kernels(void) {
  return PyModuleDef_Init(&skyloom::kernels::kernels_def);
}
