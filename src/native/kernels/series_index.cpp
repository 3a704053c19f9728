// skyloom.kernels.SeriesIndex: a series in two buffers with a pyramid of per-block bounds
// (index/pyramid.h), so that redraws and hit tests read only the blocks they need. The buffers stay
// exported for the index's life. Queries share the index, extend and refresh take it alone;
// whoever waits for the other waits with the interpreter lock released.
#include <mutex>
#include <new>
#include <shared_mutex>

#include "index/m4_index.h"
#include "index/nearest_index.h"
#include "kernels/args.h"
#include "kernels/functions.h"
#include "kernels/series.h"
#include "kernels/unlocked.h"
#include "python/convert.h"
#include "python/darray.h"

namespace skyloom::kernels {

namespace {

// The type's attribute holding its module's array('d'), which redraws are cloned from (each
// interpreter's module makes its own type).
constexpr char kTemplate[] = "_array_template";

struct Index {
  Ref double_template;
  BufferView xb, yb;
  Py_ssize_t capacity = 0;  // the points both buffers hold
  index::Pyramid pyramid;
  std::shared_mutex lock;
};

struct IndexObject {
  PyObject_HEAD Index* index;
};

Index& of(PyObject* self) noexcept {
  return *reinterpret_cast<IndexObject*>(self)->index;
}

// The lock of the index for a query (shared) or an update (exclusive), taken without the
// interpreter lock when it has to be waited for.
template <bool kShared>
class Hold {
 public:
  explicit Hold(std::shared_mutex& m) noexcept : m_(m) {
    if (kShared ? m.try_lock_shared() : m.try_lock()) return;
    Py_BEGIN_ALLOW_THREADS;
    if constexpr (kShared) {
      m.lock_shared();
    } else {
      m.lock();
    }
    Py_END_ALLOW_THREADS;
  }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
  ~Hold() {
    if constexpr (kShared) {
      m_.unlock_shared();
    } else {
      m_.unlock();
    }
  }

 private:
  std::shared_mutex& m_;
};

// Runs the index's work f(unlocked) from a call, with the interpreter lock held at first: let go
// of up front when the work reads `points` points (kReleaseFrom or more), else once it has run
// for a while. Its outcome as the call's, with the lock held again: false with the exception set
// (a signal handler's is set already).
template <class F>
bool run(std::int64_t points, F&& f) noexcept {
  Stop s;
  {
    Unlocked unlocked(true);
    unlocked.release_for(points);
    s = f(unlocked);
  }
  if (s == Stop::kMemory) PyErr_NoMemory();
  return s == Stop::kNone;
}

// A count argument as an integer. Converted before the index's lock is taken: its __index__
// may run any code, this index's methods too.
bool count_arg(PyObject* o, Py_ssize_t& out) noexcept {
  out = PyNumber_AsSsize_t(o, PyExc_OverflowError);
  return !(out == -1 && PyErr_Occurred());
}

// Whether v lies in [lo, hi]; else ValueError naming it.
bool in_range(Py_ssize_t v, const char* name, Py_ssize_t lo, Py_ssize_t hi) noexcept {
  if (v >= lo && v <= hi) return true;
  PyErr_Format(PyExc_ValueError, "%s must be in [%zd, %zd], got %zd", name, lo, hi, v);
  return false;
}

PyObject* index_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  static const char* names[] = {"xs", "ys", "n", nullptr};
  PyObject *xs, *ys, *n_arg = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "OO|$O:SeriesIndex", const_cast<char**>(names),
                                   &xs, &ys, &n_arg)) {
    return nullptr;
  }
  if (PyList_Check(xs) || PyList_Check(ys)) {
    PyErr_SetString(PyExc_TypeError,
                    "SeriesIndex() indexes buffers read in place, not lists: pass arrays (numpy "
                    "arrays, array.array, memoryview), e.g. numpy.asarray(xs)");
    return nullptr;
  }
  Ref self(type->tp_alloc(type, 0));
  if (!self) return nullptr;
  Index* ix = new (std::nothrow) Index;
  if (ix == nullptr) return PyErr_NoMemory();
  reinterpret_cast<IndexObject*>(self.get())->index = ix;
  ix->double_template = Ref(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), kTemplate));
  if (!ix->double_template) return nullptr;
  if (!ix->xb.open(xs, "xs") || !ix->yb.open(ys, "ys")) return nullptr;
  const Py_ssize_t nx = ix->xb.length(), ny = ix->yb.length();
  Py_ssize_t n = nx;
  if (n_arg != Py_None && !(count_arg(n_arg, n) && in_range(n, "n", 0, nx))) return nullptr;
  if (ny < n) {
    PyErr_Format(PyExc_ValueError, "ys has %zd items, fewer than the %zd the index covers", ny, n);
    return nullptr;
  }
  ix->capacity = nx < ny ? nx : ny;
  const bool built = run(n, [&](Unlocked& unlocked) {
    return ix->pyramid.build(ix->xb.series(), ix->yb.series(), n, ix->capacity, unlocked.hook());
  });
  if (!built) return nullptr;
  return self.release();
}

void index_dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  delete reinterpret_cast<IndexObject*>(self)->index;
  type->tp_free(self);
  Py_DECREF(type);
}

constexpr const char* kNearestParams[] = {"mx", "my", "x0", "dx", "y0", "dy",
                                          "pl", "pb", "pw", "ph", "lx", "ly"};
constexpr Signature kNearest = {"nearest_on_segments", kNearestParams, 12, 0};

SKYLOOM_BOUND_BODY PyObject* nearest_on_segments_bound(PyObject* self,
                                                       PyObject* const* a) noexcept {
  double m[2];
  Mapping map;
  if (!doubles(a, 2, m) || !view_mapping(a + 2, a[10], a[11], map)) return nullptr;
  Index& ix = of(self);
  Hold<true> hold(ix.lock);
  if (ix.pyramid.count() == 0) Py_RETURN_NONE;
  nearest::Hit hit;
  // A query near the curve takes microseconds: it keeps the lock unless it runs long.
  const bool found = run(0, [&](Unlocked& unlocked) {
    index::NearestQuery q(ix.pyramid, map, m[0], m[1], unlocked.hook());
    return q.run(hit);
  });
  if (!found) return nullptr;
  return Py_BuildValue("(ddd)", hit.x, hit.y, hit.d);
}

constexpr const char* kM4Params[] = {"x0", "dx", "y0", "dy", "pl",  "pb",
                                     "pw", "ph", "lx", "ly", "snap"};
constexpr Signature kM4 = {"m4_to_screen", kM4Params, 10, 1};

SKYLOOM_BOUND_BODY PyObject* m4_to_screen_bound(PyObject* self, PyObject* const* a) noexcept {
  Mapping map;
  int snap = 0;
  if (!view_mapping(a, a[8], a[9], map)) return nullptr;
  if (a[10] != nullptr && !to_flag(a[10], snap)) return nullptr;
  Index& ix = of(self);
  Hold<true> hold(ix.lock);
  const std::int64_t n = ix.pyramid.count();
  PointBuffer points;
  // Through the index a redraw takes some columns' worth of searches: it keeps the lock unless
  // it runs long. The general scan of unsorted x reads every point.
  const bool drawn = run(ix.pyramid.x_ascends() ? 0 : n, [&](Unlocked& unlocked) {
    // Its work is in the pyramid, not in points read: each poll (some thousand probes or
    // points) is worth a look at the clock.
    auto poll = [&unlocked](std::int64_t read) { return unlocked.poll(read + kClockEvery); };
    return index::m4_to_screen(ix.pyramid, map, snap != 0, points, poll);
  });
  if (!drawn) return nullptr;
  return polyline_copy(ix.double_template.get(), points.data(), points.count());
}

constexpr const char* kExtendParams[] = {"n"};
constexpr Signature kExtend = {"extend", kExtendParams, 1, 0};

SKYLOOM_BOUND_BODY PyObject* extend_bound(PyObject* self, PyObject* const* a) noexcept {
  Py_ssize_t n;
  if (!count_arg(a[0], n)) return nullptr;
  Index& ix = of(self);
  Hold<false> hold(ix.lock);
  if (!in_range(n, "n", ix.pyramid.count(), ix.capacity)) return nullptr;
  const bool added = run(n - ix.pyramid.count(),
                         [&](Unlocked& unlocked) { return ix.pyramid.extend(n, unlocked.hook()); });
  if (!added) return nullptr;
  Py_RETURN_NONE;
}

constexpr const char* kRefreshParams[] = {"start", "stop"};
constexpr Signature kRefresh = {"refresh", kRefreshParams, 2, 0};

SKYLOOM_BOUND_BODY PyObject* refresh_bound(PyObject* self, PyObject* const* a) noexcept {
  Py_ssize_t start, stop;
  if (!count_arg(a[0], start) || !count_arg(a[1], stop)) return nullptr;
  Index& ix = of(self);
  Hold<false> hold(ix.lock);
  if (!in_range(start, "start", 0, ix.pyramid.count()) ||
      !in_range(stop, "stop", start, ix.pyramid.count())) {
    return nullptr;
  }
  const bool recomputed = run(stop - start, [&](Unlocked& unlocked) {
    return ix.pyramid.refresh(start, stop, unlocked.hook());
  });
  if (!recomputed) return nullptr;
  Py_RETURN_NONE;
}

PyObject* get_n(PyObject* self, void*) noexcept {
  Index& ix = of(self);
  Hold<true> hold(ix.lock);
  return PyLong_FromSsize_t(ix.pyramid.count());
}

PyObject* get_x_sorted(PyObject* self, void*) noexcept {
  Index& ix = of(self);
  Hold<true> hold(ix.lock);
  return PyBool_FromLong(ix.pyramid.x_ascends());
}

PyObject* get_nbytes(PyObject* self, void*) noexcept {
  return PyLong_FromLongLong(of(self).pyramid.bytes());
}

constexpr char kNearestDoc[] =
    "What kernels.nearest_on_segments gives for the indexed points, bit for bit.";
constexpr char kM4Doc[] =
    "What kernels.m4_to_screen(xs[:n], ys[:n], ..., x_sorted=True, snap=snap) gives, bit for bit, "
    "when x_sorted is true: the columns are found by bisection and a long column's kept points "
    "through the bounds, reading a few leaves of it (linear y axes; on a log y axis every "
    "visible y is read). When x_sorted is false (x falls somewhere, or is NaN), the general "
    "scan's result: kernels.m4_to_screen(..., x_sorted=False), every point read.";
constexpr char kExtendDoc[] = "The buffers' first n points are indexed: they grew in place.";
constexpr char kRefreshDoc[] = "The points [start, stop) changed in place.";

constexpr Entry nearest_on_segments = bound<kNearest, nearest_on_segments_bound>;
constexpr Entry m4_to_screen = bound<kM4, m4_to_screen_bound>;
constexpr Entry extend = bound<kExtend, extend_bound>;
constexpr Entry refresh = bound<kRefresh, refresh_bound>;

PyMethodDef kMethods[] = {
    SKYLOOM_METHOD(nearest_on_segments, (doc::Doc<kNearest, doc::kSelf, kNearestDoc>::text.data())),
    SKYLOOM_METHOD(m4_to_screen, (doc::Doc<kM4, doc::kSelf, kM4Doc>::text.data())),
    SKYLOOM_METHOD(extend, (doc::Doc<kExtend, doc::kSelf, kExtendDoc>::text.data())),
    SKYLOOM_METHOD(refresh, (doc::Doc<kRefresh, doc::kSelf, kRefreshDoc>::text.data())),
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef kGetSet[] = {
    {"n", get_n, nullptr, "The number of points indexed.", nullptr},
    {"x_sorted", get_x_sorted, nullptr,
     "Whether x ascends (never falls, no NaN) over the indexed points.", nullptr},
    {"nbytes", get_nbytes, nullptr, "The bytes the bounds take.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot kSlots[] = {
    {Py_tp_new, reinterpret_cast<void*>(index_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(index_dealloc)},
    {Py_tp_methods, kMethods},
    {Py_tp_getset, kGetSet},
    {Py_tp_doc,
     const_cast<char*>("SeriesIndex(xs, ys, *, n=None)\n--\n\nThe first n points of two buffers "
                       "with per-block bounds, for redraws and hit tests that read only what "
                       "they need.")},
    {0, nullptr},
};

PyType_Spec kSpec = {"skyloom.kernels.SeriesIndex", sizeof(IndexObject), 0, Py_TPFLAGS_DEFAULT,
                     kSlots};

}  // namespace

bool add_series_index(PyObject* module) noexcept {
  Ref type(PyType_FromSpec(&kSpec));
  if (!type) return false;
  if (PyObject_SetAttrString(type.get(), kTemplate, double_template(module)) < 0) return false;
  if (PyModule_AddObject(module, "SeriesIndex", type.get()) < 0) return false;
  type.release();
  return true;
}

}  // namespace skyloom::kernels
