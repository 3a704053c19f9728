// Per-column extremes of an indexed series, bit for bit what the sorted scan (screen/m4_sorted.h)
// gives: the scan finds the columns as it does alone, and a long column's kept points come from
// the bounds pyramid instead of its y values. Its lowest and highest pixel y are the pixels of
// the column's smallest and largest y (the mapping is monotone); the kept point is the earliest
// whose y maps to that pixel, found by a search that skips every node whose bounds rule it out.
// Pure C++.
#pragma once

#include <cassert>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "index/pyramid.h"
#include "index/y_search.h"
#include "screen/m4.h"

namespace skyloom::index {

// The kernels' buffer source over an indexed series (64-bit counts), with the index for
// PyramidY.
template <class Poll>
class IndexSource : public BufferSource<Poll, std::int64_t> {
 public:
  IndexSource(const Pyramid& p, Poll poll) noexcept
      : BufferSource<Poll, std::int64_t>(p.x(), p.y(), poll), p_(p) {}
  const Pyramid& pyramid() const noexcept { return p_; }

 private:
  const Pyramid& p_;
};

// Whether a sorted scan follows the snapped rule.
template <class Scan>
struct SnappedScan;
template <class Source, class Sink, bool kSnap, class ColumnY>
struct SnappedScan<m4::Sorted<Source, Sink, kSnap, ColumnY>> : std::bool_constant<kSnap> {};

// Columns shorter than this are read: a few leaves' worth costs less than the searches.
constexpr std::int64_t kIndexedColumn = 2 * kLeaf;

// How the sorted scan reads a column's y over an IndexSource: through the pyramid where y maps
// linearly (a monotone mapping, NaN only for NaN y), else by reading them as the scan does.
struct PyramidY {
  template <class Scan>
  static bool column(Scan& scan, std::int64_t s, std::int64_t e, double k) noexcept {
    if (!scan.raw_y_ || e - s < kIndexedColumn) return scan.scan_column(s, e, k);
    constexpr double inf = std::numeric_limits<double>::infinity();
    const YSearch p(scan.src_.pyramid());
    YSearch::Range r = p.range(s, e);
    if (!r.nan) return run(scan, p, s, e, k, r);
    for (std::int64_t a = s; a < e;) {
      if (!scan.tick(1)) return false;
      // A NaN y ends the run before it and is kept alone: the runs lie between them.
      const std::int64_t j = p.first(a, e, -inf, inf, false);
      if (j > a && !run(scan, p, a, j, k, p.range(a, j))) return false;
      if (j == e) break;
      const double nan = std::numeric_limits<double>::quiet_NaN();
      if (!scan.close() || !scan.emit(typename Scan::Pick{j, nan, nan, nan})) return false;
      a = j + 1;
    }
    return true;
  }

 private:
  template <class Scan>
  static typename Scan::Pick pick(const Scan& scan, std::int64_t i) noexcept {
    const double y = scan.src_.pyramid().y().at(i);
    return {i, std::numeric_limits<double>::quiet_NaN(), y, scan.map_.py(y)};
  }

  // The y values that map like E, as [lo, hi]: from E to the last value towards O that does
  // (O and E are the run's extremes, so the run's y that map like E are those inside).
  template <class Scan, class Like>
  static void like_e(const Scan& scan, double E, double O, Like like, double& lo,
                     double& hi) noexcept {
    const double t = scan.tie_bound(E, O, like);
    lo = t < E ? t : E;
    hi = t < E ? E : t;
    // The bound the search rests on: every value in [lo, hi] maps like E (by monotony, its ends
    // do), and the next value beyond it towards O does not.
    assert(like(scan.map_.py(lo)) && like(scan.map_.py(hi)));
    assert(t == O || !like(scan.map_.py(std::nextafter(t, O))));
  }

  // The earliest point of [a, b) with y in [lo, hi]: there is one.
  template <class Scan>
  static typename Scan::Pick first_in(const Scan& scan, const YSearch& p, std::int64_t a,
                                      std::int64_t b, double lo, double hi) noexcept {
    const std::int64_t i = p.first(a, b, lo, hi, true);
    assert(a <= i && i < b);
    return pick(scan, i);
  }

  // The run [a, b) of column k, its y bounds r, no y NaN in it.
  template <class Scan>
  static bool run(Scan& scan, const YSearch& p, std::int64_t a, std::int64_t b, double k,
                  const YSearch::Range& r) noexcept {
    assert(!r.nan && r.lo <= r.hi);
    // The smallest py comes from the largest y when the mapping falls.
    const double lo_y = scan.falls_ ? r.hi : r.lo, hi_y = scan.falls_ ? r.lo : r.hi;
    // The pruning bound: no y of the run maps beyond the pixels of its extreme values.
    assert(scan.map_.py(lo_y) <= scan.map_.py(hi_y));
    const auto first = pick(scan, a), last = pick(scan, b - 1);
    if constexpr (!SnappedScan<Scan>::value) {
      const double P = scan.map_.py(lo_y), Q = scan.map_.py(hi_y);
      double lo, hi;
      like_e(
          scan, lo_y, hi_y, [P](double py) { return py == P; }, lo, hi);
      const auto low = first_in(scan, p, a, b, lo, hi);
      like_e(
          scan, hi_y, lo_y, [Q](double py) { return py == Q; }, lo, hi);
      const auto high = first_in(scan, p, a, b, lo, hi);
      return scan.known(k, first, last, &low, &high);
    } else {
      return snapped(scan, p, a, b, k, first, last, lo_y, hi_y);
    }
  }

  // The snapped rule over the run [a, b): its second and penultimate steps between rows (the
  // column is fixed), and the earliest entries into its lowest and highest rows after its first
  // pixel.
  template <class Scan>
  static bool snapped(Scan& scan, const YSearch& p, std::int64_t a, std::int64_t b, double k,
                      const typename Scan::Pick& first, const typename Scan::Pick& last,
                      double lo_y, double hi_y) noexcept {
    const double r0 = std::floor(first.py), r1 = std::floor(last.py);
    double lo0, hi0, lo1, hi1;
    scan.template row_range<m4::RawY>(r0, first.y, lo0, hi0);
    scan.template row_range<m4::RawY>(r1, last.y, lo1, hi1);
    const std::int64_t j2 = p.first(a + 1, b, lo0, hi0, false);
    const std::int64_t jp = p.last(a, b - 1, lo1, hi1, false);
    const bool has_second = j2 < b, has_before_last = jp >= a;
    using Pick = typename Scan::Pick;
    const Pick second = has_second ? pick(scan, j2) : first;
    const Pick before_last = has_before_last ? pick(scan, jp) : first;
    Pick ends[2] = {first, first};
    bool kept[2];
    for (int side = 0; side < 2; ++side) {
      const double E = side == 0 ? lo_y : hi_y;
      const double r = std::floor(scan.map_.py(E));
      kept[side] = false;
      double lo, hi;
      if (r != r0) {  // a row beyond the first pixel's: entered at its earliest point
        scan.template row_range<m4::RawY>(r, E, lo, hi);
        ends[side] = first_in(scan, p, a, b, lo, hi);
        kept[side] = true;
      } else if (has_second) {  // the first pixel's own row: its earliest point after it
        const std::int64_t i = p.first(j2, b, lo0, hi0, true);
        if (i < b) ends[side] = pick(scan, i);
        kept[side] = i < b;
      }
    }
    return scan.known(k, first, last, kept[0] ? &ends[0] : nullptr, kept[1] ? &ends[1] : nullptr,
                      has_second ? &second : nullptr, has_before_last ? &before_last : nullptr);
  }
};

// The kept points of the indexed series, pushed to sink: the sorted scan's through the pyramid
// when x ascends, else the general scan's.
template <class Sink, class Poll>
Stop m4_to_screen(const Pyramid& p, const Mapping& map, bool snap, Sink& sink, Poll poll) noexcept {
  const std::int64_t n = p.count();
  if (n <= 0) return Stop::kNone;
  IndexSource<Poll> src(p, poll);
  if (!p.x_ascends() || !m4::rises(map))
    return skyloom::m4_to_screen(src, n, map, false, sink, snap);
  if (!src.allocate(n, 2)) return Stop::kMemory;
  auto go = [&](auto snapped) {
    m4::Sorted<IndexSource<Poll>, Sink, decltype(snapped)::value, PyramidY> scan(src, sink, map);
    return scan.run(n) ? Stop::kNone : scan.status();
  };
  return snap ? go(std::true_type{}) : go(std::false_type{});
}

}  // namespace skyloom::index
