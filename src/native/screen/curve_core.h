// A sampled curve with gaps to a simplified screen polyline: the defined points are mapped on
// linear axes, cut into segments at the gaps, each segment thinned to half a pixel, and the
// segments packed one after another with the pair (1e308, 1e308) between two of them. Pure C++.
#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <utility>

#include "mapping/mapping.h"
#include "screen/simplify.h"
#include "source/blocks.h"
#include "source/interrupt.h"

namespace skyloom::curve {

constexpr double kSeparator = 1e308;  // mapped points never exceed 1e6 in magnitude
constexpr double kTol2 = 0.25;        // half a pixel, squared

// The most points whose scratch (below) and result (2 doubles each) can be had at all: more
// would need more bytes than memory can be addressed, which is a failed allocation, not an
// overflow of the byte counts.
constexpr std::int64_t kMaxPoints =
    static_cast<std::int64_t>((PTRDIFF_MAX < SIZE_MAX ? PTRDIFF_MAX : SIZE_MAX) /
                              (2 * sizeof(double) + 3 * sizeof(std::int64_t)));

// The mapped points of a call, which each segment's simplification compacts in place, and the
// simplification's own integers (J: 32 bits where they index every point, 28 bytes per point,
// else 64, 40 bytes; the narrower keeps a series of a million points in one block that the heap
// reuses), counted in 64 bits.
template <class J>
class Scratch {
 public:
  // False when the scratch for n points can't be had (or J can't index them).
  bool allocate(std::int64_t n) noexcept {
    if (n > kMaxPoints || n > std::numeric_limits<J>::max()) return false;
    const std::uint64_t bytes =
        static_cast<std::uint64_t>(n) * (2 * sizeof(double)) + simplify_scratch_ints(n) * sizeof(J);
    if (bytes > SIZE_MAX) return false;
    if (!block_.allocate(static_cast<std::size_t>(bytes))) return false;
    px = reinterpret_cast<double*>(block_.get());
    py = px + n;
    ints = reinterpret_cast<J*>(py + n);
    return true;
  }

  double* px = nullptr;
  double* py = nullptr;
  J* ints = nullptr;

 private:
  HeapBlock block_;
};

// Writes pairs into the result and counts them (as I, at most the points of the input).
template <class I>
class Output {
 public:
  explicit Output(double* out) noexcept : out_(out) {}
  void pair(double x, double y) noexcept {
    out_[2 * std::int64_t{n_}] = x;
    out_[2 * std::int64_t{n_} + 1] = y;
    ++n_;
  }
  // A segment starts: set it off from the one before, if any.
  void begin_segment() noexcept {
    if (n_ > 0) pair(kSeparator, kSeparator);
  }
  I count() const noexcept { return n_; }

 private:
  double* out_;
  I n_ = 0;
};

// Flushes the segment of len points from start, thinned when it has three or more. False when
// the interruption hook stopped the simplification.
// The segment's length fits J: the scratch was had for all the points.
template <class I, class J>
bool flush(const Scratch<J>& sc, I start, I len, const Interrupt& hook, Output<I>& out) noexcept {
  double* const px = sc.px + start;
  double* const py = sc.py + start;
  const J kept =
      len == 1 ? 1 : simplify_polyline(px, py, static_cast<J>(len), kTol2, px, py, sc.ints, hook);
  if (kept == kSimplifyStopped) return false;
  out.begin_segment();
  for (J j = 0; j < kept; ++j) out.pair(px[j], py[j]);
  return true;
}

// The per-point form of trace, for sources that hand a curve's points to a step as they read
// them (lists): each point is mapped as it comes, and a segment is flushed at the gap that ends
// it. After an interrupted flush nothing more is flushed, and more() tells the source to stop.
template <class I, class J>
struct Tracer {
  const Mapping* map;
  const Scratch<J>* sc;
  const Interrupt* hook;
  Output<I>* out;
  I i = 0, seg_start = -1;
  bool stopped = false;

  void operator()(double x, double y) noexcept {
    map->point(Axes<0, 0>{}, x, y, sc->px[i], sc->py[i]);
    if (seg_start < 0) seg_start = i;
    ++i;
  }
  void hole() noexcept {
    if (seg_start >= 0 && !stopped) stopped = !flush(*sc, seg_start, i - seg_start, *hook, *out);
    seg_start = -1;
    ++i;
  }
  bool more() const noexcept { return !stopped; }
};

template <class S, class = void>
struct VisitsCurve : std::false_type {};
template <class S>
struct VisitsCurve<S, std::void_t<decltype(std::declval<S&>().visit_curve(
                          0, 0, std::declval<Tracer<typename S::Count, typename S::Count>&>()))>>
    : std::true_type {};

// Maps, cuts and flushes the n points of a source point by point (visit_curve).
template <class Source, class J, class I = typename Source::Count>
Stop trace_points(Source& s, I n, const Mapping& map, Scratch<J>& sc, const Interrupt& hook,
                  Output<I>& o) noexcept {
  Tracer<I, J> t{&map, &sc, &hook, &o};
  for (I i0 = 0; i0 < n;) {
    const std::int32_t m = block_length(Source::kVisit, n - i0);
    if (!s.visit_curve(i0, m, t)) return Stop::kSource;
    i0 += m;
    if (t.stopped || !s.poll()) return Stop::kInterrupted;
  }
  if (t.seg_start >= 0 && !flush(sc, t.seg_start, n - t.seg_start, hook, o))
    return Stop::kInterrupted;
  return Stop::kNone;
}

// Maps, cuts and flushes the n points of a source read a block at a time (curve_block), each
// block mapped as a whole.
template <class Source, class J, class I = typename Source::Count>
Stop trace_blocks(Source& s, I n, const Mapping& map, Scratch<J>& sc, const Interrupt& hook,
                  Output<I>& o) noexcept {
  I seg_start = -1;
  for (I i0 = 0; i0 < n;) {
    const std::int32_t m = block_length(Source::kBlock, n - i0);
    const double *x, *y;
    const unsigned char* gap;
    if (!s.curve_block(i0, m, x, y, gap)) return Stop::kSource;
    // Gaps are mapped too (from whatever x and y hold there) but never read.
    map.split(Axes<0, 0>{}, x, y, m, sc.px + i0, sc.py + i0);
    for (std::int32_t k = 0; k < m; ++k) {
      const I i = i0 + k;
      if (gap[k] == 0) {
        if (seg_start < 0) seg_start = i;
      } else if (seg_start >= 0) {
        if (!flush(sc, seg_start, i - seg_start, hook, o)) return Stop::kInterrupted;
        seg_start = -1;
      }
    }
    i0 += m;
    if (!s.poll()) return Stop::kInterrupted;
  }
  if (seg_start >= 0 && !flush(sc, seg_start, n - seg_start, hook, o)) return Stop::kInterrupted;
  return Stop::kNone;
}

// Maps, cuts and flushes the n points of a source into out, which has room for 2 * n doubles;
// the number of pairs written goes to out_n, and the items after them are zeroed (they would
// otherwise hand uninitialised memory to the caller).
// sc was allocated for the n points.
template <class Source, class J, class I = typename Source::Count>
Stop trace(Source& s, typename Source::Count n, const Mapping& map, Scratch<J>& sc,
           const Interrupt& hook, double* out, typename Source::Count& out_n) noexcept {
  Output<I> o(out);
  Stop stop;
  if constexpr (VisitsCurve<Source>::value) {
    stop = trace_points(s, n, map, sc, hook, o);
  } else {
    stop = trace_blocks(s, n, map, sc, hook, o);
  }
  out_n = o.count();
  if (stop == Stop::kNone) std::fill(out + 2 * std::int64_t{out_n}, out + 2 * std::int64_t{n}, 0.0);
  return stop;
}

}  // namespace skyloom::curve
