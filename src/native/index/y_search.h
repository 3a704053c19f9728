// Searches of the y values of an index range through the bounds pyramid, top down: a node whose
// y bounds rule the answer out is skipped whole, even where it reaches beyond the range (its
// bounds then hold for a superset of the points asked about), and the points of a leaf are read
// in place and tested eight at a time where y is contiguous doubles. The redraw's searches: a
// range's y bounds, and the first or last y inside or outside an interval. Pure C++.
#pragma once

#include <algorithm>
#include <cassert>
#include <cstdint>
#include <limits>

#include "index/pyramid.h"
#include "screen/m4_runs.h"

namespace skyloom::index {

class YSearch {
 public:
  explicit YSearch(const Pyramid& p) noexcept : p_(p), y_(p.y().doubles_at(0)), n_(p.count()) {
    for (int l = 0; l < p.levels(); ++l) span_[l] = p.first(Node{l, 1});
  }

  // The y bounds of the points [s, e): the smallest and largest y other than NaN (lo > hi when
  // there is none) and whether one is NaN.
  struct Range {
    double lo, hi;
    bool nan;
  };
  Range range(std::int64_t s, std::int64_t e) const noexcept {
    assert(0 <= s && s <= e && e <= p_.count());
    Range r{kInf, -kInf, false};
    if (s < e) range_in(root(), s, e, r);
    return r;
  }

  // The first (last) index in [s, e) whose y lies in [lo, hi] (inside) or outside it or is NaN
  // (!inside); e (s - 1) when there is none.
  std::int64_t first(std::int64_t s, std::int64_t e, double lo, double hi,
                     bool inside) const noexcept {
    assert(0 <= s && s <= e && e <= p_.count());
    return s < e ? first_in(root(), s, e, Test{lo, hi, inside}) : e;
  }
  std::int64_t last(std::int64_t s, std::int64_t e, double lo, double hi,
                    bool inside) const noexcept {
    assert(0 <= s && s <= e && e <= p_.count());
    return s < e ? last_in(root(), s, e, Test{lo, hi, inside}) : s - 1;
  }

 private:
  static constexpr double kInf = std::numeric_limits<double>::infinity();

  struct Test {
    double lo, hi;
    bool inside;
    bool operator()(double y) const noexcept { return (y >= lo && y <= hi) == inside; }
    // The pruning bound: a node whose bounds fail this holds no y that passes the test. Inside
    // needs a y range that meets [lo, hi] (NaN is never inside); outside, a NaN or a y range
    // that leaves it (written as the negation of the point test, as NaN bounds then pass).
    bool may_hold(const Bounds& b) const noexcept {
      if (inside) return b.y_lo <= hi && b.y_hi >= lo;
      return b.y_nan || !(lo <= b.y_lo && b.y_hi <= hi);
    }
  };

  Node root() const noexcept {
    assert(p_.count() > 0 && p_.nodes(p_.levels() - 1) == 1);
    return Node{p_.levels() - 1, 0};
  }

  // The points [first, last) of node v, without the pyramid's division (a few hundred nodes per
  // search: it showed in the profile).
  std::int64_t first(Node v) const noexcept { return v.k * span_[v.level]; }
  std::int64_t last(Node v) const noexcept { return std::min(n_, (v.k + 1) * span_[v.level]); }
  std::int64_t child_span(Node v) const noexcept { return span_[v.level - 1]; }

  void range_in(Node v, std::int64_t s, std::int64_t e, Range& r) const noexcept {
    const std::int64_t f = first(v), l = last(v);
    assert(f == p_.first(v) && l == p_.last(v));
    if (s <= f && l <= e) {
      const Bounds& b = p_.bounds(v);
      r.lo = b.y_lo < r.lo ? b.y_lo : r.lo;
      r.hi = b.y_hi > r.hi ? b.y_hi : r.hi;
      r.nan = r.nan || b.y_nan;
      return;
    }
    const std::int64_t i0 = std::max(s, f), i1 = std::min(e, l);
    if (v.level == 0) return leaf_range(i0, i1, r);
    const std::int64_t span = child_span(v);
    for (std::int64_t c = i0 / span; c <= (i1 - 1) / span; ++c) {
      range_in(Node{v.level - 1, c}, s, e, r);
    }
  }

  void leaf_range(std::int64_t i0, std::int64_t i1, Range& r) const noexcept {
    double mn, mx;
    if (y_ != nullptr && m4::extremes(y_ + i0, static_cast<std::int32_t>(i1 - i0), mn, mx)) {
      r.lo = mn < r.lo ? mn : r.lo;
      r.hi = mx > r.hi ? mx : r.hi;
      return;
    }
    for (std::int64_t i = i0; i < i1; ++i) {  // a NaN among them, or y not in place
      const double y = p_.y().at(i);
      r.nan = r.nan || y != y;
      r.lo = y < r.lo ? y : r.lo;
      r.hi = y > r.hi ? y : r.hi;
    }
  }

  std::int64_t first_in(Node v, std::int64_t s, std::int64_t e, const Test& t) const noexcept {
    if (!t.may_hold(p_.bounds(v))) return e;
    const std::int64_t i0 = std::max(s, first(v)), i1 = std::min(e, last(v));
    if (v.level == 0) {
      if (y_ != nullptr) {
        const auto m = static_cast<std::int32_t>(i1 - i0);
        const std::int32_t u = t.inside ? m4::first_inside(y_ + i0, m, t.lo, t.hi)
                                        : m4::first_outside(y_ + i0, m, t.lo, t.hi);
        return u < m ? i0 + u : e;
      }
      for (std::int64_t i = i0; i < i1; ++i) {
        if (t(p_.y().at(i))) return i;
      }
      return e;
    }
    const std::int64_t span = child_span(v);
    for (std::int64_t c = i0 / span; c <= (i1 - 1) / span; ++c) {
      const std::int64_t i = first_in(Node{v.level - 1, c}, s, e, t);
      if (i < e) return i;
    }
    return e;
  }

  std::int64_t last_in(Node v, std::int64_t s, std::int64_t e, const Test& t) const noexcept {
    if (!t.may_hold(p_.bounds(v))) return s - 1;
    const std::int64_t i0 = std::max(s, first(v)), i1 = std::min(e, last(v));
    if (v.level == 0) {
      for (std::int64_t i = i1 - 1; i >= i0; --i) {
        if (t(y_ != nullptr ? y_[i] : p_.y().at(i))) return i;
      }
      return s - 1;
    }
    const std::int64_t span = child_span(v);
    for (std::int64_t c = (i1 - 1) / span; c >= i0 / span; --c) {
      const std::int64_t i = last_in(Node{v.level - 1, c}, s, e, t);
      if (i >= s) return i;
    }
    return s - 1;
  }

  const Pyramid& p_;
  const double* const y_;  // y read in place, or nullptr
  const std::int64_t n_;
  std::int64_t span_[kMaxLevels] = {};  // points per node on each level
};

}  // namespace skyloom::index
