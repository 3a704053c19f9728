// decimated_to_screen_cy: a long series strided down to a screen polyline. Only the chosen items
// are read, so the work follows the number of points drawn, not the length of the series.
#include <iterator>

#include "frame/binding.h"
#include "frame/convert.h"
#include "frame/darray.h"
#include "frame/function.h"
#include "frame/scratch.h"
#include "frame/traceback.h"
#include "screen/data_to_screen.h"
#include "screen/map_linear.h"

namespace skyloom {

namespace {

enum Arg { kXs, kYs, kMaxPts, kX0, kDx, kY0, kDy, kPl, kPb, kPw, kPh, kLx, kLy };

using Window = LinearView;

// Points converted per block: all read first, in a loop whose scattered cache and TLB misses the
// processor overlaps, then all mapped.
constexpr std::int32_t kBlock = 256;

// Maps and stores points 0 .. out_n - 2, read at indices i * step a block at a time into two
// buffers of `block` doubles each from buf; with the flags fixed at compile time so that a
// linear axis costs no branch per point.
template <int LX, int LY>
bool strided_points(const Series& s, const Window& w, std::int32_t out_n, double step, double* buf,
                    std::int32_t block, DoubleView& v) noexcept {
  // Always below n: i * step stays under (out_n - 1) * n / out_n even after rounding.
  const auto idx = [step](Py_ssize_t i) {
    return static_cast<Py_ssize_t>(static_cast<std::int32_t>(static_cast<double>(i) * step));
  };
  const std::int32_t count = out_n - 1;
  double* const x = buf;
  double* const y = buf + block;
  for (std::int32_t i0 = 0; i0 < count; i0 += block) {
    const std::int32_t m = count - i0 < block ? count - i0 : block;
    if (!s.gather_at(i0, m, idx, x, y)) return false;
    if (LX == 0 && LY == 0 && v.contiguous() != nullptr) {
      map_linear_interleaved(x, y, m, w, v.contiguous() + 2 * static_cast<Py_ssize_t>(i0));
      continue;
    }
    for (std::int32_t k = 0; k < m; ++k) {
      double px, py;
      data_to_screen(x[k], y[k], w.x0, w.dx, w.y0, w.dy, w.pl, w.pb, w.pw, w.ph, LX, LY, px, py);
      const Py_ssize_t i = i0 + k;
      v.set(2 * i, px);
      v.set(2 * i + 1, py);
    }
  }
  return true;
}

PyObject* decimated_to_screen(const Value* a) noexcept {
  const FunctionDef& def = kDecimatedToScreen;
  std::int32_t n;
  if (!number_list_length(a[kXs].o, n)) return fail(def, 138);
  const std::int32_t max_pts = a[kMaxPts].i;
  const std::int32_t out_n = max_pts < n ? max_pts : n;

  // A negative max_pts asks for a negative length here, which the array refuses.
  Ref buf(make_double_array(2 * static_cast<Py_ssize_t>(out_n)));
  if (!buf) return fail(def, 140);

  // Nothing to emit (max_pts 0 or an empty series): no item is read, not even the last, and
  // nothing is written, so no view is needed.
  DoubleView v;
  if (out_n > 0) {
    if (!v.acquire(buf.get())) return fail(def, 141);
    const double step = out_n < n ? static_cast<double>(n) / static_cast<double>(out_n) : 1.0;
    const Series s(a[kXs].o, a[kYs].o, "xs", "ys", n);
    const Window w{a[kX0].d, a[kDx].d, a[kY0].d, a[kDy].d, a[kPl].d, a[kPb].d, a[kPw].d, a[kPh].d};
    const int lx = a[kLx].i, ly = a[kLy].i;
    // 147: a strided point fails to convert, a signal handler raised while they were read, or
    // the block buffers can't be had.
    const std::int32_t block = out_n - 1 < kBlock ? out_n - 1 : kBlock;
    ScratchDoubles buf;
    if (block > 0 && !buf.allocate(2 * static_cast<std::size_t>(block))) return fail(def, 147);
    double* const p = buf.get();
    bool ok;
    if (lx == 0) {
      ok = ly == 0 ? strided_points<0, 0>(s, w, out_n, step, p, block, v)
                   : strided_points<0, 1>(s, w, out_n, step, p, block, v);
    } else {
      ok = ly == 0 ? strided_points<1, 0>(s, w, out_n, step, p, block, v)
                   : strided_points<1, 1>(s, w, out_n, step, p, block, v);
    }
    if (!ok) return fail(def, 147);

    // The last point, always.
    double x, y, px, py;
    if (!s.x(n - 1, x) || !s.y(n - 1, y)) return fail(def, 149);
    data_to_screen(x, y, w.x0, w.dx, w.y0, w.dy, w.pl, w.pb, w.pw, w.ph, lx, ly, px, py);
    v.set(2 * static_cast<Py_ssize_t>(out_n) - 2, px);
    v.set(2 * static_cast<Py_ssize_t>(out_n) - 1, py);
  }
  v.release();

  PyObject* result = polyline_result(buf, out_n);
  return result ? result : fail(def, 151);
}

constexpr Param kParams[] = {
    {"xs", Kind::List, 0},     {"ys", Kind::List, 0},     {"max_pts", Kind::Int, 133},
    {"x0", Kind::Double, 134}, {"dx", Kind::Double, 134}, {"y0", Kind::Double, 134},
    {"dy", Kind::Double, 134}, {"pl", Kind::Double, 135}, {"pb", Kind::Double, 135},
    {"pw", Kind::Double, 135}, {"ph", Kind::Double, 135}, {"lx", Kind::Flag, 136},
    {"ly", Kind::Flag, 136}};
constexpr const char* kLocals[] = {"n", "out_n", "buf", "v", "step", "px", "py", "i", "idx"};

}  // namespace

FunctionDef kDecimatedToScreen = {"decimated_to_screen_cy",
                                  132,
                                  kParams,
                                  std::size(kParams),
                                  kLocals,
                                  std::size(kLocals),
                                  entry<kParams, decimated_to_screen>,
                                  {},
                                  {}};

}  // namespace skyloom
