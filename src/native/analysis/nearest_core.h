// The nearest point of a polyline to a screen position: a scan over the segments in pixel space
// that keeps the first of the smallest distances. Two exact filters skip work whose result
// cannot beat the best distance so far, so that most segments far from the cursor cost a few
// comparisons; the filtered scan gives the unfiltered scan's result bit for bit. Pure C++.
#pragma once

#include <algorithm>
#include <cassert>
#include <cfloat>
#include <cmath>
#include <cstdint>

#include "mapping/mapping.h"
#include "simd.h"
#include "source/blocks.h"

namespace skyloom::nearest {

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

// A vertex in data units and in pixels.
struct Vertex {
  double x, y, px, py;
};

// The foot point of (mx, my) on the segment a-b as its parameter t and its offset (ex, ey) from
// the query. A segment shorter than 1e-5 pixels is its first vertex; NaN counts as long enough.
inline double foot(double mx, double my, const Vertex& a, const Vertex& b, double& ex,
                   double& ey) noexcept {
  const double sx = b.px - a.px;
  const double sy = b.py - a.py;
  const double sl2 = sx * sx + sy * sy;
  double t = 0.0;
  if (!(sl2 < 1e-10)) {
    t = ((mx - a.px) * sx + (my - a.py) * sy) / sl2;
    if (t < 0.0) {
      t = 0.0;
    } else if (t > 1.0) {
      t = 1.0;
    }
  }
  ex = (sx * t + a.px) - mx;
  ey = (sy * t + a.py) - my;
  return t;
}

// Takes the segment a-b when it is nearer than the best so far (strictly: the earliest of
// equal distances stays).
inline void take(const Vertex& a, const Vertex& b, double t, double d, Best& best) noexcept {
  if (d < best.bd) {
    best.bd = d;
    best.bxi = (b.x - a.x) * t + a.x;
    best.byi = (b.y - a.y) * t + a.y;
    best.bound = skip_bound(d);
  }
}

// The segment a-b measured without any filter: what the filtered visit must equal.
inline void visit_plain(double mx, double my, const Vertex& a, const Vertex& b,
                        Best& best) noexcept {
  double ex, ey;
  const double t = foot(mx, my, a, b, ex, ey);
  take(a, b, t, std::hypot(ex, ey), best);
}

// std::min and std::max as the box test takes them, and a lane choice, for doubles and for
// vectors of doubles alike: one formula for the scalar test and the vector prefilter.
inline double choose(bool c, double a, double b) noexcept {
  return c ? a : b;
}
SKYLOOM_INLINE simd::F64x4 choose(const simd::Mask4& c, const simd::F64x4& a,
                                  const simd::F64x4& b) noexcept {
  return select(c, a, b);
}
template <class T>
SKYLOOM_INLINE T lesser(const T& a, const T& b) noexcept {
  return choose(b < a, b, a);
}
template <class T>
SKYLOOM_INLINE T greater(const T& a, const T& b) noexcept {
  return choose(a < b, b, a);
}

// Whether no point of the segment from (ax, ay) to (bx, by) can come nearer to (mx, my) than the
// bound allows: its pixel bounding box, widened by a slack that covers the rounding of the foot
// point (pixels are within 1e6, so the foot point strays from the box by far less), already lies
// that far away. A NaN or infinity here can only make a distance that never wins, so whatever
// the comparisons make of it is safe. A bool for doubles, a lane mask for vectors.
template <class T>
SKYLOOM_INLINE auto box_beyond(const T& ax, const T& bx, const T& ay, const T& by, double mx,
                               double my, double bound) noexcept {
  constexpr double kFootSlack = 1e-6;
  const T zero = 0.0;
  const T gx = greater(lesser(ax, bx) - mx, mx - greater(ax, bx)) - kFootSlack;
  const T gy = greater(lesser(ay, by) - my, my - greater(ay, by)) - kFootSlack;
  const T hx = choose(gx > 0.0, gx, zero);
  const T hy = choose(gy > 0.0, gy, zero);
  return hx * hx + hy * hy >= bound;
}

inline bool beyond(double mx, double my, const Vertex& a, const Vertex& b, double bound) noexcept {
  return box_beyond(a.px, b.px, a.py, b.py, mx, my, bound);
}

// The first k in [from, m), from >= 1, whose segment from vertex k - 1 to vertex k of the
// mapped block (px, py) the box test does not put beyond bound, or m. Several segments are
// tested at once, all against the bound given: as the scan goes on, the bound only tightens
// around a nearer best, so a segment beyond the earlier bound stays unable to win.
extern const simd::Entry<std::int32_t(const double* px, const double* py, std::int32_t from,
                                      std::int32_t m, double mx, double my, double bound)>
    first_candidate;

// The pixel distance from (mx, my) to the segment a-b.
inline double distance(double mx, double my, const Vertex& a, const Vertex& b) noexcept {
  double ex, ey;
  foot(mx, my, a, b, ex, ey);
  return std::hypot(ex, ey);
}

// The segment a-b, skipped when either filter proves that it cannot beat the best so far; true
// when the box test did.
SKYLOOM_INLINE bool visit(double mx, double my, const Vertex& a, const Vertex& b,
                          Best& best) noexcept {
  if (beyond(mx, my, a, b, best.bound)) {
    assert(!(distance(mx, my, a, b) < best.bd));  // the box is a proof
    return true;
  }
  double ex, ey;
  const double t = foot(mx, my, a, b, ex, ey);
  if (ex * ex + ey * ey >= best.bound) {
    assert(!(std::hypot(ex, ey) < best.bd));  // so is the squared distance
    return false;
  }
  take(a, b, t, std::hypot(ex, ey), best);
  return false;
}

// Segments the box test rules out in a row before the scan tests four at a time: near the best
// so far they come in short runs, and one at a time is cheaper there.
constexpr std::int32_t kQuietRun = 8;

// The segments (i, i + 1) for i = 0 ... n - 2, with vertex 0 already read and mapped into v0:
// each later vertex is read and mapped once, a block at a time (with the axis flags fixed at
// compile time), and carried over as the first vertex of the next segment. The source's work
// arrays 0 and 1 (allocate(n, 2)) hold the mapped block.
template <class Source>
Stop scan(Source& s, typename Source::Count n, const Mapping& map, double mx, double my, Vertex v0,
          Best& best) noexcept {
  return map.with_axes([&](auto axes) {
    double* const pxb = s.work(0);
    double* const pyb = s.work(1);
    Vertex carried = v0;
    return for_each_block(s, 1, n, [&](const double* x, const double* y, std::int32_t m, auto) {
      map.split(axes, x, y, m, pxb, pyb);
      // The running state in locals, so that it stays in registers over the block.
      const double qx = mx, qy = my;
      Best b = best;
      auto vertex = [&](std::int32_t k) { return Vertex{x[k], y[k], pxb[k], pyb[k]}; };
      visit(qx, qy, carried, vertex(0), b);
      // Within the block, once the box test has ruled out a run of segments one at a time, the
      // rest that it rules out in bulk are never visited.
      for (std::int32_t k = 1, quiet = 0; k < m;) {
        if (quiet < kQuietRun) {
          quiet = visit(qx, qy, vertex(k - 1), vertex(k), b) ? quiet + 1 : 0;
          ++k;
        } else {
          k = first_candidate(pxb, pyb, k, m, qx, qy, b.bound);
          quiet = 0;
        }
      }
      carried = vertex(m - 1);
      best = b;
    });
  });
}

// The nearest point of a series.
struct Hit {
  double x, y, d;  // in data units, and the distance in pixels
};

// The point of the n >= 1 points of a source (allocate(n, 2)) nearest to (mx, my) in pixels:
// vertex 0 is read first; a single vertex is its own nearest point. first_failed tells a failed
// read of vertex 0 from a later one.
template <class Source>
Stop find(Source& s, typename Source::Count n, const Mapping& map, double mx, double my, Hit& hit,
          bool& first_failed) noexcept {
  assert(n >= 1);
  const double *x, *y;
  first_failed = !s.block(0, 1, x, y);
  if (first_failed) return Stop::kSource;
  Vertex v0{x[0], y[0], 0.0, 0.0};
  map.point(v0.x, v0.y, v0.px, v0.py);
  if (n == 1) {
    hit = Hit{v0.x, v0.y, std::hypot(v0.px - mx, v0.py - my)};
    return Stop::kNone;
  }
  Best best;
  const Stop stop = scan(s, n, map, mx, my, v0, best);
  hit = Hit{best.bxi, best.byi, best.bd};
  return stop;
}

}  // namespace skyloom::nearest
