// skyloom.kernels.m4_to_screen: the per-column extremes of a series on screen, from lists or from
// buffers, through the pure core of screen/m4.h. This file only supplies the core's reader (lists
// converted item by item with the lock held; buffers read in place with the lock released) and
// turns the kept points into the (array('d'), count) result.
#include "screen/m4.h"

#include <cstring>

#include "frame/darray.h"
#include "frame/list_reader.h"
#include "kernels/args.h"
#include "kernels/series.h"
#include "kernels/unlocked.h"

namespace skyloom::kernels {

// In module.cpp: the module's array('d') that results are cloned from.
PyObject* double_template(PyObject* module) noexcept;

namespace {

// Two exact lists, items converted as _cy_utils converts them; a failed item stops the scan
// with its exception set (IndexError when a conversion shrank a list).
class ListReader {
 public:
  explicit ListReader(Series& s) noexcept : s_(s) {}

  bool gather(std::int64_t from, std::int32_t count, double* x, double* y) noexcept {
    return s_.gather(from, count, x, y);
  }
  bool gather_y(std::int64_t from, std::int32_t count, double* y) noexcept {
    for (std::int32_t k = 0; k < count; ++k) {
      if (!s_.y(from + k, y[k])) return false;
    }
    return true;
  }
  bool x_at(std::int64_t i, double& x) noexcept { return s_.x(i, x); }
  bool poll() noexcept { return PyErr_CheckSignals() == 0; }

 private:
  Series& s_;
};

// Two strided buffers: reads never fail, and contiguous doubles are read in place. The scan may run
// with the lock released; poll then takes it back now and then to run pending signal handlers.
class BufferReader {
 public:
  BufferReader(const Strided& x, const Strided& y, Unlocked& unlocked) noexcept
      : x_(x), y_(y), unlocked_(unlocked) {}

  bool gather(std::int64_t from, std::int32_t count, double* x, double* y) noexcept {
    x_.gather(from, count, x);
    y_.gather(from, count, y);
    return true;
  }
  bool gather_y(std::int64_t from, std::int32_t count, double* y) noexcept {
    y_.gather(from, count, y);
    return true;
  }
  bool x_at(std::int64_t i, double& x) noexcept {
    x = x_.at(i);
    return true;
  }
  const double* x_in_place(std::int64_t from) const noexcept { return x_.doubles_at(from); }
  const double* y_in_place(std::int64_t from) const noexcept { return y_.doubles_at(from); }
  // The core polls every m4::kPollEvery points or probes.
  bool poll() noexcept { return unlocked_.poll(m4::kPollEvery); }

 private:
  Strided x_, y_;
  Unlocked& unlocked_;
};

constexpr const char* kParams[] = {"xs", "ys", "x0", "dx", "y0", "dy",      "pl",
                                   "pb", "pw", "ph", "lx", "ly", "x_sorted"};
constexpr Signature kM4 = {"m4_to_screen", kParams, 12, 1};

// The view from a[2 ... 11] and the sorted-x promise from a[12] (absent: false).
bool view_args(PyObject* const* a, M4View& v, bool& x_sorted) noexcept {
  double* const d[] = {&v.x0, &v.dx, &v.y0, &v.dy, &v.pl, &v.pb, &v.pw, &v.ph};
  for (int k = 0; k < 8; ++k) {
    if (!to_double(a[2 + k], *d[k])) return false;
  }
  int sorted = 0;
  if (!to_flag(a[10], v.lx) || !to_flag(a[11], v.ly)) return false;
  if (a[12] != nullptr && !to_flag(a[12], sorted)) return false;
  x_sorted = sorted != 0;
  return true;
}

// The core's status as the call's outcome: true when the points are all there, else false with
// the exception set (a failed item's or a signal handler's is set already).
bool outcome(M4Status s) noexcept {
  if (s == M4Status::no_memory) PyErr_NoMemory();
  return s == M4Status::ok;
}

}  // namespace

extern const char m4_to_screen_doc[] =
    "m4_to_screen($module, /, xs, ys, x0, dx, y0, dy, pl, pb, pw, ph, lx, ly, *, "
    "x_sorted=False)\n--\n\n"
    "Of every run of points in one pixel column the first, lowest, highest and last, as "
    "(array('d') of pixel pairs, count): drawn as one polyline they light the pixels that all "
    "the points light. With x_sorted=True (xs ascending) only the visible part is read.";

PyObject* m4_to_screen(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames) noexcept {
  PyObject* a[kMaxArgs];
  if (!bind(kM4, args, nargs, kwnames, a)) return nullptr;
  M4View view{};
  bool x_sorted;
  if (!view_args(a, view, x_sorted)) return nullptr;
  SeriesArgs series;
  if (!series.open(kM4.name, a[0], a[1], "xs", "ys")) return nullptr;

  PointBuffer points;
  if (series.lists()) {
    std::int32_t n;
    if (!number_list_length(a[0], n)) return nullptr;
    Series s(a[0], a[1], "xs", "ys", n);
    ListReader reader(s);
    if (!outcome(skyloom::m4_to_screen(reader, n, view, x_sorted, points))) return nullptr;
  } else {
    M4Status status;
    {
      // The sorted scan reads only the visible columns: it releases the lock once it has run
      // for a while, not from the start.
      Unlocked unlocked(true);
      if (!x_sorted) unlocked.release_for(series.n());
      BufferReader reader(series.x(), series.y(), unlocked);
      status = skyloom::m4_to_screen(reader, series.n(), view, x_sorted, points);
    }
    if (!outcome(status)) return nullptr;
  }

  const Py_ssize_t count = points.count();
  Ref buf(clone_double_array(double_template(module), 2 * count));
  if (!buf) return nullptr;
  if (count > 0) {
    std::memcpy(reinterpret_cast<ArrayObject*>(buf.get())->ob_item, points.data(),
                static_cast<std::size_t>(count) * 2 * sizeof(double));
  }
  return polyline_result(buf, count);
}

}  // namespace skyloom::kernels
