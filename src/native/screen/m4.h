// Per-column extremes of a series on screen: of every run of consecutive points in one pixel
// column the first, the lowest, the highest and the last; of every run off the plot to one side
// the first and the last. Drawn as one polyline, the kept points light exactly the pixels that
// all the points light inside the plot's columns. Pure C++, generic over where the numbers come
// from (a Source, source/blocks.h) and where the pixels go (a Sink: bool push(double px, double
// py), false when it cannot take the point): the Python glue supplies both.
//
// The rule, with px, py mapped by data_to_screen and c() truncation toward zero:
// - a point is off to the left when c(px) < c(pl), off to the right when c(px) > c(pl + pw);
//   both bounds are compared as truncated doubles (std::trunc), so a huge pl or pw is no
//   overflow; a NaN bound excludes nothing, so with a NaN pl (or pl + pw) no point is off to the
//   left (or right) (every px is NaN then anyway);
// - every other point lies in column c(px); of each maximal run of consecutive points in one
//   column the first point, the one with the smallest py, the one with the largest py and the
//   last point are kept (ties: the earliest), each once;
// - of each maximal run of consecutive points off to one side the first and the last are kept;
//   the side is decided by px alone: a NaN py does not split such a run (its pixels lie off the
//   plot whatever py is, and so a view zoomed into sorted data never reads the y values off it);
// - a point with a NaN px, or in a column with a NaN py, ends the run before it and is kept
//   alone;
// - kept points stay in input order. Nothing is sorted: unsorted x just makes more runs.
//
// Snapped (for renderers that sample at pixel centres or add up antialiased coverage), each
// point stands for its pixel (floor(px), floor(py)):
// - runs are keyed as above with c() = floor and the bounds widened to floor(pl) - 1 and
//   floor(pl + pw) + 1 (a stroke reaches one pixel across the plot's edge);
// - a run is the path of its pixels, consecutive points in one pixel one step; of every run
//   the first, second, penultimate and last step are kept, and of a column run, in its lowest
//   and in its highest row, the earliest step that is neither its first nor its last (a path
//   that turns back in its end row covers that pixel twice): at most 6 per column;
// - kept points come back at their pixel's centre (floor + 0.5; a NaN coordinate as it is),
//   consecutive ones with equal pixels as one. NaN points and the sides are as above.
//
// With x_sorted the caller promises ascending x values (no NaN). When the mapping rises with x
// (finite x0, pl, and finite positive dx and pw) the visible range is then found by bisection,
// each column's end by a guess (as if x were evenly spaced) confirmed in the data, or else by
// galloping and bisection, and only the y values of the visible columns are read (snapped, also
// the few points that end the sides' paths): the result is the general rule's, bit for bit. A
// broken promise gives some other polyline, never an out-of-range read or an endless loop.
//
// The pieces: screen/m4_runs.h (runs and their kept points), screen/m4_general.h and
// screen/m4_sorted.h (the two scans), screen/search.h (the searches of the sorted data and of
// the doubles), screen/m4.cpp (the block kernels, in baseline and AVX2 versions).
#pragma once

#include <cstdint>

#include "mapping/mapping.h"
#include "screen/m4_general.h"
#include "screen/m4_runs.h"
#include "screen/m4_sorted.h"
#include "source/blocks.h"

namespace skyloom {

// m4_to_screen() with the rule fixed at compile time.
template <bool kSnap, class Source, class Sink>
Stop m4_scan(Source& src, typename Source::Count n, const Mapping& map, bool x_sorted,
             Sink& sink) noexcept {
  if (n <= 0) return Stop::kNone;
  if (!src.allocate(n, 2)) return Stop::kMemory;
  if (x_sorted && m4::rises(map)) {
    m4::Sorted<Source, Sink, kSnap> scan(src, sink, map);
    return scan.run(n) ? Stop::kNone : scan.status();
  }
  m4::General<Source, Sink, kSnap> scan(src, sink, map);
  return scan.run(n) ? Stop::kNone : scan.status();
}

// The kept points of the n points of src, mapped by map, pushed to sink; snapped with snap.
// kSource when the source failed, kInterrupted when its poll() said stop, kMemory when the sink
// refused a point or the source had no scratch.
template <class Source, class Sink>
Stop m4_to_screen(Source& src, typename Source::Count n, const Mapping& map, bool x_sorted,
                  Sink& sink, bool snap = false) noexcept {
  return snap ? m4_scan<true>(src, n, map, x_sorted, sink)
              : m4_scan<false>(src, n, map, x_sorted, sink);
}

}  // namespace skyloom
