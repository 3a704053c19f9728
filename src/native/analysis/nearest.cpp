// nearest_on_segments_cy: the point of a drawn series nearest to a screen position. Distances are
// taken in pixels after the mapping, so the hit test follows what is drawn; the point returned is
// interpolated in data units along the nearest segment.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <iterator>

#include "frame/binding.h"
#include "frame/convert.h"
#include "frame/function.h"
#include "frame/scratch.h"
#include "frame/traceback.h"
#include "screen/data_to_screen.h"
#include "screen/map_linear.h"

namespace skyloom {

namespace {

enum Arg { kMx, kMy, kXs, kYs, kX0, kDx, kY0, kDy, kPl, kPb, kPw, kPh, kLx, kLy };

using Window = LinearView;

// Squared-distance bound beyond which hypot cannot come out below d: ex*ex + ey*ey >= bound
// proves hypot(ex, ey) >= d, so the call is skipped. The margin of 2^-40 covers the rounding of
// the squares and their sum and any error of hypot up to thousands of units in the last place;
// outside the range where the squares neither overflow nor lose bits to underflow the bound is
// NaN, which no comparison passes. d = 0 cannot be beaten: every non-NaN sum passes 0.
inline double skip_bound(double d) noexcept {
  if (d == 0.0) return 0.0;
  if (d >= 1e-150 && d <= 1e150) return d * d * (1.0 + 0x1p-40);
  return NAN;
}

struct Best {
  double bd = DBL_MAX;  // the largest finite double: an infinite distance never wins
  double bxi = 0.0, byi = 0.0;
  double bound = NAN;  // skip_bound(bd)
};

// Whether no point of the segment p0-p1 can come nearer to (mx, my) than the bound allows: its
// bounding box, widened by a slack that covers the rounding of the foot point (pixels are within
// 1e6, so the foot point strays from the box by far less), already lies that far away. Then the
// segment's foot point is not computed at all. A NaN or infinity here can only make a distance
// that never wins, so whatever the comparisons make of it is safe.
inline bool beyond(double mx, double my, double p0x, double p0y, double p1x, double p1y,
                   double bound) noexcept {
  constexpr double kFootSlack = 1e-6;
  const double gx = std::max(std::min(p0x, p1x) - mx, mx - std::max(p0x, p1x)) - kFootSlack;
  const double gy = std::max(std::min(p0y, p1y) - my, my - std::max(p0y, p1y)) - kFootSlack;
  const double hx = gx > 0.0 ? gx : 0.0;
  const double hy = gy > 0.0 ? gy : 0.0;
  return hx * hx + hy * hy >= bound;
}

// The foot point of (mx, my) on the segment p0-p1 and its distance; updates b when it is nearer.
inline void visit(double mx, double my, double p0x, double p0y, double p1x, double p1y, double xi0,
                  double yi0, double xi1, double yi1, Best& b) noexcept {
  const double sx = p1x - p0x;
  const double sy = p1y - p0y;
  const double sl2 = sx * sx + sy * sy;
  double t = 0.0;
  if (!(sl2 < 1e-10)) {  // NaN counts as long enough; a shorter segment is its first vertex
    t = ((mx - p0x) * sx + (my - p0y) * sy) / sl2;
    if (t < 0.0) {
      t = 0.0;
    } else if (t > 1.0) {
      t = 1.0;
    }
  }
  const double ex = (sx * t + p0x) - mx;
  const double ey = (sy * t + p0y) - my;
  if (ex * ex + ey * ey >= b.bound) return;  // hypot(ex, ey) >= bd: cannot win
  const double d = std::hypot(ex, ey);
  if (d < b.bd) {  // strict: the earliest of equal distances stays
    b.bd = d;
    b.bxi = (xi1 - xi0) * t + xi0;
    b.byi = (yi1 - yi0) * t + yi0;
    b.bound = skip_bound(d);
  }
}

// Vertices converted and mapped per block, ahead of the segments that use them.
constexpr std::int32_t kBlock = 256;

// One pass over the segments (i, i + 1) with vertex 0 already read and mapped; each vertex is
// read and mapped once and carried over as the first vertex of the next segment. Vertices are
// read a block at a time and mapped together (on whole vectors for linear axes) before their
// segments are measured, in four buffers of `block` doubles each from buf. The flags are fixed
// at compile time so that a linear axis costs no branch per vertex.
template <int LX, int LY>
bool scan(const Series& s, const Window& w, double mx, double my, double xi0, double yi0,
          double p0x, double p0y, double* buf, std::int32_t block, Best& b) noexcept {
  const std::int32_t n = s.n();
  double* const xb = buf;
  double* const yb = buf + block;
  double* const pxb = buf + 2 * block;
  double* const pyb = buf + 3 * block;
  for (std::int32_t i0 = 1, m; i0 < n; i0 += m) {
    m = std::min(block, n - i0);
    if (!s.gather(i0, m, xb, yb)) return false;
    if (LX == 0 && LY == 0) {
      map_linear_split(xb, yb, m, w, pxb, pyb);
    } else {
      for (std::int32_t k = 0; k < m; ++k) {
        data_to_screen(xb[k], yb[k], w.x0, w.dx, w.y0, w.dy, w.pl, w.pb, w.pw, w.ph, LX, LY, pxb[k],
                       pyb[k]);
      }
    }
    for (std::int32_t k = 0; k < m; ++k) {
      const double xi1 = xb[k], yi1 = yb[k], p1x = pxb[k], p1y = pyb[k];
      // Most segments lie far from the cursor: only the others are measured.
      if (!beyond(mx, my, p0x, p0y, p1x, p1y, b.bound)) {
        visit(mx, my, p0x, p0y, p1x, p1y, xi0, yi0, xi1, yi1, b);
      }
      p0x = p1x;
      p0y = p1y;
      xi0 = xi1;
      yi0 = yi1;
    }
  }
  return true;
}

// (x, y, d) as a new tuple of three floats, or nullptr with the exception set.
PyObject* triple(double x, double y, double d) noexcept {
  Ref fx(PyFloat_FromDouble(x));
  if (!fx) return nullptr;
  Ref fy(PyFloat_FromDouble(y));
  if (!fy) return nullptr;
  Ref fd(PyFloat_FromDouble(d));
  if (!fd) return nullptr;
  PyObject* t = PyTuple_New(3);
  if (t == nullptr) return nullptr;
  PyTuple_SET_ITEM(t, 0, fx.release());
  PyTuple_SET_ITEM(t, 1, fy.release());
  PyTuple_SET_ITEM(t, 2, fd.release());
  return t;
}

PyObject* nearest_on_segments(const Value* a) noexcept {
  const FunctionDef& def = kNearestOnSegments;
  std::int32_t n;
  if (!number_list_length(a[kXs].o, n)) return fail(def, 106);
  if (n == 0) Py_RETURN_NONE;

  const Series s(a[kXs].o, a[kYs].o, "xs", "ys", n);
  const Window w{a[kX0].d, a[kDx].d, a[kY0].d, a[kDy].d, a[kPl].d, a[kPb].d, a[kPw].d, a[kPh].d};
  const double mx = a[kMx].d, my = a[kMy].d;
  const int lx = a[kLx].i, ly = a[kLy].i;

  double xi0, yi0, p0x, p0y;
  if (!s.x(0, xi0) || !s.y(0, yi0)) return fail(def, 110);
  data_to_screen(xi0, yi0, w.x0, w.dx, w.y0, w.dy, w.pl, w.pb, w.pw, w.ph, lx, ly, p0x, p0y);
  if (n == 1) {
    PyObject* r = triple(xi0, yi0, std::hypot(p0x - mx, p0y - my));
    return r ? r : fail(def, 113);
  }

  // 115: a later vertex fails to convert, a signal handler raised during the scan, or the block
  // buffers can't be had.
  const std::int32_t block = std::min(kBlock, n - 1);
  ScratchDoubles buf;
  if (!buf.allocate(4 * static_cast<std::size_t>(block))) return fail(def, 115);
  double* const p = buf.get();
  Best b;
  bool ok;
  if (lx == 0) {
    ok = ly == 0 ? scan<0, 0>(s, w, mx, my, xi0, yi0, p0x, p0y, p, block, b)
                 : scan<0, 1>(s, w, mx, my, xi0, yi0, p0x, p0y, p, block, b);
  } else {
    ok = ly == 0 ? scan<1, 0>(s, w, mx, my, xi0, yi0, p0x, p0y, p, block, b)
                 : scan<1, 1>(s, w, mx, my, xi0, yi0, p0x, p0y, p, block, b);
  }
  if (!ok) return fail(def, 115);
  PyObject* r = triple(b.bxi, b.byi, b.bd);
  return r ? r : fail(def, 129);
}

constexpr Param kParams[] = {
    {"mx", Kind::Double, 96}, {"my", Kind::Double, 96}, {"xs", Kind::List, 0},
    {"ys", Kind::List, 0},    {"x0", Kind::Double, 98}, {"dx", Kind::Double, 98},
    {"y0", Kind::Double, 98}, {"dy", Kind::Double, 98}, {"pl", Kind::Double, 99},
    {"pb", Kind::Double, 99}, {"pw", Kind::Double, 99}, {"ph", Kind::Double, 99},
    {"lx", Kind::Flag, 100},  {"ly", Kind::Flag, 100}};
constexpr const char* kLocals[] = {"n",  "i",  "bd",  "bxi", "byi", "p0x", "p0y", "p1x", "p1y",
                                   "sx", "sy", "sl2", "t",   "d",   "xi0", "yi0", "xi1", "yi1"};

}  // namespace

FunctionDef kNearestOnSegments = {"nearest_on_segments_cy",
                                  95,
                                  kParams,
                                  std::size(kParams),
                                  kLocals,
                                  std::size(kLocals),
                                  entry<kParams, nearest_on_segments>,
                                  {},
                                  {}};

}  // namespace skyloom
