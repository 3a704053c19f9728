// The nearest point of an indexed series to a screen position, bit for bit what the full scan
// (analysis/nearest_core.h) gives: nodes of the bounds pyramid are visited nearest first, and a
// node is skipped only when its pixel box proves that none of its segments can win. The scan
// keeps the earliest of equal distances, so a node before the best so far must prove a larger
// distance, one after it no smaller. Pure C++.
#pragma once

#include <algorithm>
#include <cassert>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>

#include "analysis/nearest_core.h"
#include "index/pyramid.h"
#include "mapping/mapping.h"
#include "source/interrupt.h"

namespace skyloom::index {

// One axis of a mapping as a function of the data value: monotone on values other than NaN when
// the view's numbers on that axis are finite and its spans nonzero (regular()).
struct Axis {
  double v0, dv, p0, pv;  // x0, dx, pl, pw; or y0, dy, pb, -ph (pixel y grows downwards)
  int log;

  static Axis x_of(const Mapping& m) noexcept { return {m.w.x0, m.w.dx, m.w.pl, m.w.pw, m.lx}; }
  bool regular() const noexcept {
    return std::isfinite(v0) && std::isfinite(dv) && std::isfinite(p0) && std::isfinite(pv) &&
           dv != 0 && pv != 0;
  }
};

// The pixel interval [lo, hi] that the non-NaN values in [v_lo, v_hi] of one axis, and NaN when
// nan, map into (empty: lo > hi). On a log axis log10 may be off by an ulp or two and so not
// quite monotone: the axis values are widened by 2^-48 of themselves first, far beyond that.
struct PixelSpan {
  double lo, hi;
  bool empty() const noexcept { return !(lo <= hi); }
};

template <class Map>
PixelSpan pixel_span(double v_lo, double v_hi, bool nan, int log, Map map) noexcept {
  constexpr double kWiden = 0x1p-48;
  double a_lo = axis_value(v_lo, log), a_hi = axis_value(v_hi, log);
  const bool any = v_lo <= v_hi;
  if (log != 0) {
    if (nan) a_lo = kLogFloor;  // NaN takes the floor's axis value, as a non-positive value does
    if (!any && !nan) return {1, 0};
    if (!any) a_hi = kLogFloor;
    // log10 is exact at the floor and at infinity (widening infinity would make NaN).
    if (a_lo != kLogFloor && std::isfinite(a_lo)) a_lo -= std::fabs(a_lo) * kWiden + 0x1p-1000;
    if (a_hi != kLogFloor && std::isfinite(a_hi)) a_hi += std::fabs(a_hi) * kWiden + 0x1p-1000;
  } else if (!any) {
    return {1, 0};  // NaN maps to NaN, which never makes a winning segment
  }
  const double p = map(a_lo), q = map(a_hi);
  return {p < q ? p : q, p < q ? q : p};
}

// A leaf's points in place or gathered, as a block source for nearest::scan (the leaf and the
// first point after it in one block), with the scan's two work arrays.
class LeafSource {
 public:
  using Count = std::int32_t;
  static constexpr std::int32_t kBlock = static_cast<std::int32_t>(kLeaf) + 1;

  bool allocate() noexcept { return block_.allocate(4 * kBlock * sizeof(double)); }
  void at(const Strided& x, const Strided& y, std::int64_t base) noexcept {
    x_ = x;
    y_ = y;
    base_ = base;
  }
  double* work(int k) const noexcept { return scratch(2 + k); }
  bool block(std::int32_t from, std::int32_t count, const double*& x, const double*& y) noexcept {
    assert(0 <= from && count <= kBlock);
    x = read(x_, from, count, scratch(0));
    y = read(y_, from, count, scratch(1));
    return true;
  }
  bool poll() noexcept { return true; }

 private:
  double* scratch(int k) const noexcept {
    return reinterpret_cast<double*>(block_.get()) + k * kBlock;
  }
  const double* read(const Strided& s, std::int32_t from, std::int32_t count,
                     double* out) const noexcept {
    if (const double* p = s.doubles_at(base_ + from)) return p;
    s.gather(base_ + from, count, out);
    return out;
  }

  Strided x_{}, y_{};
  std::int64_t base_ = 0;
  HeapBlock block_;
};

// Finds the nearest point; the pyramid covers n >= 1 points.
class NearestQuery {
 public:
  NearestQuery(const Pyramid& p, const Mapping& map, double mx, double my,
               const Interrupt& hook = {}) noexcept
      : p_(p), map_(map), mx_(mx), my_(my), hook_(hook) {}

  // Visits every leaf in order when the view is not regular (its mapping then need not be
  // monotone) or the query not finite. The hook is asked every kAskEvery leaves scanned.
  Stop run(nearest::Hit& hit) noexcept {
    assert(p_.count() >= 1);
    if (!src_.allocate()) return Stop::kMemory;
    if (p_.count() == 1) {
      double px, py;
      map_.point(p_.x().at(0), p_.y().at(0), px, py);
      hit = {p_.x().at(0), p_.y().at(0), std::hypot(px - mx_, py - my_)};
      return Stop::kNone;
    }
    const Axis ax = Axis::x_of(map_);
    const Axis ay{map_.w.y0, map_.w.dy, map_.w.pb, -map_.w.ph, map_.ly};
    prune_ = ax.regular() && ay.regular() && std::isfinite(mx_) && std::isfinite(my_);
    const int top = p_.levels() - 1;
    for (std::int64_t k = 0; k < p_.nodes(top) && !stopped_; ++k) visit(Node{top, k});
    if (stopped_) return Stop::kInterrupted;
    hit = {best_.bxi, best_.byi, best_.bd};
    return Stop::kNone;
  }

  std::int64_t leaves_scanned() const noexcept { return scanned_; }

 private:
  double px(double X) const noexcept {
    const LinearView& w = map_.w;
    return clamp_pixel((X - w.x0) / w.dx * w.pw + w.pl);
  }
  double py(double Y) const noexcept {
    const LinearView& w = map_.w;
    return clamp_pixel(w.pb - (Y - w.y0) / w.dy * w.ph);
  }

  // The pixel box of the segments that start in node v: its points and the one after them.
  bool box(Node v, double (&b)[4]) const noexcept {
    const Bounds& d = p_.bounds(v);
    PixelSpan sx = pixel_span(d.x_lo, d.x_hi, d.x_nan, map_.lx, [&](double X) { return px(X); });
    PixelSpan sy = pixel_span(d.y_lo, d.y_hi, d.y_nan, map_.ly, [&](double Y) { return py(Y); });
    const std::int64_t e = p_.last(v);
    if (e < p_.count()) {
      double qx, qy;
      map_.point(p_.x().at(e), p_.y().at(e), qx, qy);
      if (qx == qx && qy == qy) {
        sx = sx.empty() ? PixelSpan{qx, qx} : PixelSpan{std::min(sx.lo, qx), std::max(sx.hi, qx)};
        sy = sy.empty() ? PixelSpan{qy, qy} : PixelSpan{std::min(sy.lo, qy), std::max(sy.hi, qy)};
      }
    }
    if (sx.empty() || sy.empty()) return false;
    b[0] = sx.lo;
    b[1] = sx.hi;
    b[2] = sy.lo;
    b[3] = sy.hi;
    return true;
  }

  // The invariant that pruning rests on, checked on every leaf scanned: in a regular view, the
  // pixel of every point of a leaf and of the one after it that has no NaN coordinate lies in
  // the leaf's box (and a leaf without a box has no such point).
  bool box_holds_its_pixels(Node v, std::int64_t last_vertex) const noexcept {
    if (!prune_) return true;
    double b[4];
    const bool has_box = box(v, b);
    for (std::int64_t i = p_.first(v); i <= last_vertex; ++i) {
      double qx, qy;
      map_.point(p_.x().at(i), p_.y().at(i), qx, qy);
      if (qx != qx || qy != qy) continue;
      if (!has_box || qx < b[0] || qx > b[1] || qy < b[2] || qy > b[3]) return false;
    }
    return true;
  }

  // The distance a segment of v must beat: the best so far, or for segments before the best's,
  // equal it (the scan keeps the earliest of equal distances).
  double to_beat(Node v) const noexcept {
    if (best_leaf_ < 0 || p_.first(v) >= (best_leaf_ + 1) * kLeaf) return best_.bd;
    return std::nextafter(best_.bd, std::numeric_limits<double>::infinity());
  }

  // Whether no segment of v can beat to_beat(v), shown by its pixel box.
  bool ruled_out(Node v, const double (&b)[4]) const noexcept {
    if (!prune_) return false;
    const double bound = nearest::skip_bound(to_beat(v));
    return nearest::box_beyond(b[0], b[1], b[2], b[3], mx_, my_, bound);
  }

  // Boxes are looked at only when pruning: in a view that is not regular a node's bounds need
  // not map to the box of its pixels (a zero span maps y0 itself to NaN, the rest to +-1e6).
  void visit(Node v) noexcept {
    if (stopped_) return;
    double b[4] = {};
    if (prune_ && !box(v, b)) return;  // every segment has a NaN pixel: none can win
    if (ruled_out(v, b)) return;
    if (v.level == 0) return scan(v.k);
    // Children nearest first, so that the best tightens early.
    struct Child {
      double d2;
      std::int64_t k;
    } c[kFan];
    int m = 0;
    const Node below{v.level - 1, 0};
    const std::int64_t k1 = std::min(p_.nodes(below.level), (v.k + 1) * kFan);
    for (std::int64_t k = v.k * kFan; k < k1; ++k) {
      double cb[4];
      if (!prune_) {
        c[m++] = Child{0, k};
        continue;
      }
      if (!box(Node{below.level, k}, cb)) continue;
      const double gx = std::max({cb[0] - mx_, mx_ - cb[1], 0.0});
      const double gy = std::max({cb[2] - my_, my_ - cb[3], 0.0});
      c[m++] = Child{gx * gx + gy * gy, k};
    }
    std::stable_sort(c, c + m, [](const Child& a, const Child& q) { return a.d2 < q.d2; });
    for (int j = 0; j < m; ++j) visit(Node{below.level, c[j].k});
  }

  // The segments that start in leaf k, with what they must beat.
  void scan(std::int64_t k) noexcept {
    const std::int64_t base = k * kLeaf;
    const std::int64_t end = std::min(base + kLeaf, p_.count() - 1);  // the last vertex
    if (end <= base) return;
    if (++scanned_ % kAskEvery == 0 && hook_.stop()) {
      stopped_ = true;
      return;
    }
    assert(box_holds_its_pixels(Node{0, k}, end));
    src_.at(p_.x(), p_.y(), base);
    nearest::Best b;
    b.bd = to_beat(Node{0, k});
    b.bound = nearest::skip_bound(b.bd);
    nearest::Vertex v0{p_.x().at(base), p_.y().at(base), 0.0, 0.0};
    map_.point(v0.x, v0.y, v0.px, v0.py);
    const Stop s =
        nearest::scan(src_, static_cast<std::int32_t>(end - base + 1), map_, mx_, my_, v0, b);
    assert(s == Stop::kNone);
    (void)s;
    if (b.bd < to_beat(Node{0, k})) {
      best_ = b;
      best_leaf_ = k;
    }
  }

  const Pyramid& p_;
  const Mapping map_;
  const double mx_, my_;
  static constexpr std::int64_t kAskEvery = 16;  // leaves: some microseconds of work
  const Interrupt hook_;
  bool prune_ = false, stopped_ = false;
  nearest::Best best_;
  std::int64_t best_leaf_ = -1;  // the leaf of the best segment so far
  std::int64_t scanned_ = 0;
  LeafSource src_;
};

}  // namespace skyloom::index
