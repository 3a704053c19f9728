// The runs of per-column extremes and their kept points (the rule is in screen/m4.h): run keys, the
// open run with its first, lowest, highest and last point, blocks of keyed points fed into runs,
// and the kept points emitted in input order. Shared by the general scan (screen/m4_general.h) and
// the sorted one (screen/m4_sorted.h), which differ in how they find runs and read points.
#pragma once

#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <utility>

#include "mapping/mapping.h"
#include "screen/search.h"
#include "simd.h"
#include "source/blocks.h"

namespace skyloom {

// A growable array of interleaved pixel pairs on the native heap: a Sink whose failure to grow
// is reported, never thrown.
class PointBuffer {
 public:
  PointBuffer() noexcept = default;
  PointBuffer(const PointBuffer&) = delete;
  PointBuffer& operator=(const PointBuffer&) = delete;
  ~PointBuffer() { std::free(data_); }

  bool push(double px, double py) noexcept {
    if (size_ + 2 > cap_ && !grow()) return false;
    data_[size_] = px;
    data_[size_ + 1] = py;
    size_ += 2;
    return true;
  }
  const double* data() const noexcept { return data_; }
  // Number of pairs held.
  std::int64_t count() const noexcept { return static_cast<std::int64_t>(size_ / 2); }
  void clear() noexcept { size_ = 0; }

 private:
  bool grow() noexcept;
  double* data_ = nullptr;
  std::size_t size_ = 0, cap_ = 0;  // in doubles
};

namespace m4 {

// Points read at a time by the sources the scans are tuned for: the budget of cell changes (see
// m4_general.h) is per block, and lists read in blocks of 256 went by cells where mapping was
// faster (a third slower on 10^4 points over 322 columns).
constexpr std::int32_t kBlock = 1024;

// Points reduced in one go when read in place: block by block, a long column took a third
// longer than reading it.
constexpr std::int32_t kSpan = 1 << 16;
constexpr std::int32_t kChunk = 512;         // values summed up by their extremes within a span
constexpr std::int32_t kPrefetchChunks = 4;  // how far ahead chunk_extremes() prefetches
constexpr std::int64_t kPollEvery = 4096;    // points or probes between polls
// Keys of the two off-screen sides: far beyond any column (pixels are clamped to ±1e6).
constexpr double kLeft = -3e6, kRight = 3e6;

// Turns the pixel x of each of the m points into its run key in place: kLeft, kRight, the column
// c(px), or NaN for a point kept alone. lo and hi are c(pl) and c(pl + pw).
extern const simd::Entry<void(double* px, const double* py, std::int32_t m, double lo, double hi)>
    column_keys;
// The same with the column floor(px), for snapped points.
extern const simd::Entry<void(double* px, const double* py, std::int32_t m, double lo, double hi)>
    floor_keys;
// The smallest and largest of v[0 .. m), m > 0; false (and mn, mx unspecified) if one is NaN.
extern const simd::Entry<bool(const double* v, std::int32_t m, double& mn, double& mx)> extremes;
// extremes() of v[0 .. m), m > 0, and of each chunk of kChunk values in lo[j] and hi[j]: where
// to look for the first value beyond a bound without reading them all again. The values up to
// v[readable - 1] (readable >= m) are prefetched as the scan nears them.
extern const simd::Entry<bool(const double* v, std::int32_t m, std::int32_t readable, double* lo,
                              double* hi, double& mn, double& mx)>
    chunk_extremes;
// The length of the run of points from 0 with x in [lo, hi] and y not NaN (0 when the first
// is not one); mn, mx, chunk_lo and chunk_hi as chunk_extremes() gives them for y over the run.
extern const simd::Entry<std::int32_t(const double* x, const double* y, std::int32_t m, double lo,
                                      double hi, double* chunk_lo, double* chunk_hi, double& mn,
                                      double& mx)>
    cell_run;
// The first index t < m with lo <= v[t] <= hi, or m.
extern const simd::Entry<std::int32_t(const double* v, std::int32_t m, double lo, double hi)>
    first_inside;
// The first index t < m where v[t] differs from k (NaN differs from all), or m.
extern const simd::Entry<std::int32_t(const double* v, std::int32_t m, double k)> first_other;
// The first index t < m where v[t] lies outside [lo, hi] (NaN lies outside), or m.
extern const simd::Entry<std::int32_t(const double* v, std::int32_t m, double lo, double hi)>
    first_outside;

// The total order of doubles (NaN excluded) as integers: adjacent doubles are adjacent keys.
std::int64_t order_key(double v) noexcept;
double from_order_key(std::int64_t k) noexcept;

// A mapping that rises with x (finite x0, pl, and finite positive dx and pw): over sorted x,
// bisection can find columns.
inline bool rises(const Mapping& m) noexcept {
  return m.w.dx > 0 && m.w.pw > 0 && std::isfinite(m.w.dx) && std::isfinite(m.w.pw) &&
         std::isfinite(m.w.x0) && std::isfinite(m.w.pl);
}

inline bool on_screen(double key) noexcept {
  return key != kLeft && key != kRight;
}

// One point of a run: its index (of the source's Count), its data (x is NaN until read when the
// scan reads x lazily) and its mapped y.
template <class I>
struct PickOf {
  I i;
  double x, y, py;
};

// How the y values of a stretch of points are read: every one mapped, into the block's py (its
// extremes then taken over py); or raw, with a y mapping that is monotone, the extremes taken over
// y itself and only the points kept mapped. Both give the same kept points, bit for bit.
struct MappedY {};
struct RawY {};

// A pixel: its column and row, or NaN in either, which makes it equal to none.
struct Pixel {
  double c, r;
  bool operator==(const Pixel& o) const noexcept { return c == o.c && r == o.r; }
};

// Where a snapped point is drawn: the centre of its pixel (a NaN coordinate stays NaN).
inline double centre(double v) noexcept {
  return v == v ? std::floor(v) + 0.5 : v;
}

// The runs of one scan over a Source, the kept points going to a Sink. With kLazyX the scan does
// not read x with y: kept points wait until their x are read together (see emit()). With kSnap
// the runs follow the snapped rule (screen/m4.h): columns by floor, and of each run the steps
// between pixels that the rule keeps, each point drawn at its pixel's centre. Indices into the
// series are of the source's Count; offsets within a block (or a stretch read in place) are 32-bit.
template <class Source, class Sink, bool kLazyX, bool kSnap>
class Runs {
 public:
  Stop status() const noexcept { return status_; }

 protected:
  using Count = typename Source::Count;
  using Pick = PickOf<Count>;

  Runs(Source& src, Sink& sink, const Mapping& map) noexcept
      : src_(src),
        sink_(sink),
        map_(map),
        py_(src.work(0)),
        key_(src.work(1)),
        lo_(kSnap ? std::floor(map.w.pl) - 1 : std::trunc(map.w.pl)),
        hi_(kSnap ? std::floor(map.w.pl + map.w.pw) + 1 : std::trunc(map.w.pl + map.w.pw)),
        raw_y_(map.ly == 0 && map.w.dy != 0 && map.w.ph != 0 && std::isfinite(map.w.y0) &&
               std::isfinite(map.w.dy) && std::isfinite(map.w.pb) && std::isfinite(map.w.ph)),
        falls_((map.w.dy > 0) == (map.w.ph > 0)) {
    if constexpr (kSnap) {  // the rows' ranges are the snapped rule's
      for (RowRange& k : rows_) k = {std::numeric_limits<double>::quiet_NaN(), 0, 0};
    }
  }

  // The column of a pixel x: truncated, or floored for snapped points.
  static double cut(double px) noexcept { return kSnap ? std::floor(px) : std::trunc(px); }

  // Records why the scan stops; returns false for the caller to pass up.
  bool stop(Stop s) noexcept {
    status_ = s;
    return false;
  }

  // Counts work (points or probes) and polls the source once it reaches kPollEvery.
  bool tick(std::int64_t work) noexcept {
    work_ += work;
    if (work_ < kPollEvery) return true;
    work_ %= kPollEvery;
    return src_.poll() || stop(Stop::kInterrupted);
  }

  template <class Y>
  Pick pick(Count base, std::int32_t t) const noexcept {
    double py;
    if constexpr (std::is_same_v<Y, MappedY>) {
      py = py_[t];
    } else {
      py = map_.py(y_[t]);
    }
    return {base + t, kLazyX ? std::numeric_limits<double>::quiet_NaN() : x_[t], y_[t], py};
  }

  // Points whose x is still to be read wait in pending_: their x are then read together, so
  // that the reads overlap (one at a time, a read far from the data being scanned stalls it).
  bool emit(const Pick& p) noexcept {
    if constexpr (kLazyX) {
      pending_[n_pending_++] = p;
      return n_pending_ < kPending || flush();
    } else {
      return put(map_.px(p.x), p.py);
    }
  }

  // One kept point to the sink; snapped, at its pixel's centre, unless the one before is there.
  bool put(double px, double py) noexcept {
    if constexpr (kSnap) {
      px = centre(px);
      py = centre(py);
      if (px == out_.c && py == out_.r) return true;
      out_ = {px, py};
    }
    return sink_.push(px, py) || stop(Stop::kMemory);
  }

  bool flush() noexcept {
    double x[kPending];
    for (int j = 0; j < n_pending_; ++j) {
      if (!src_.x_at(pending_[j].i, x[j])) return stop(Stop::kSource);
    }
    for (int j = 0; j < n_pending_; ++j) {
      if (!put(map_.px(x[j]), pending_[j].py)) return false;
    }
    n_pending_ = 0;
    return true;
  }

  void open(double key, const Pick& p) noexcept {
    open_ = true;
    run_key_ = key;
    first_ = low_ = high_ = last_ = p;
    if constexpr (kSnap) {
      has_second_ = has_before_last_ = false;
      low_wait_ = high_wait_ = true;
      low_row_ = high_row_ = std::floor(p.py);
    }
  }

  // A run off the plot to one side, known whole: its first and last points and, snapped, the
  // first point of its second pixel and the last of its last pixel but one (null when none).
  bool side(double key, const Pick& first, const Pick& last, const Pick* second = nullptr,
            const Pick* before_last = nullptr) noexcept {
    if (!close()) return false;
    open(key, first);
    last_ = last;
    if constexpr (kSnap) {
      if ((has_second_ = second != nullptr)) second_ = *second;
      if ((has_before_last_ = before_last != nullptr)) before_last_ = *before_last;
    }
    return true;
  }

  // A column run known whole without reading its points (through an index): side() with the
  // lowest and highest points the rule keeps (snapped: null where it keeps none).
  bool known(double key, const Pick& first, const Pick& last, const Pick* low, const Pick* high,
             const Pick* second = nullptr, const Pick* before_last = nullptr) noexcept {
    if (!side(key, first, last, second, before_last)) return false;
    if (low != nullptr) low_ = *low;
    if (high != nullptr) high_ = *high;
    if constexpr (kSnap) {
      low_wait_ = low == nullptr;
      high_wait_ = high == nullptr;
    }
    return true;
  }

  // Emits the open run's kept points in input order, each once.
  bool close() noexcept {
    if (!open_) return true;
    open_ = false;
    Pick p[6] = {first_, low_, high_, last_};
    int m = 4;
    if constexpr (kSnap) {
      // A pixel's steps may stand for one another: each is drawn at the same centre.
      m = 1;
      if (has_second_) p[m++] = second_;
      if (has_before_last_) p[m++] = before_last_;
      if (on_screen(run_key_) && !low_wait_) p[m++] = low_;
      if (on_screen(run_key_) && !high_wait_) p[m++] = high_;
      p[m++] = last_;
    } else if (!on_screen(run_key_)) {
      p[1] = last_;
      m = 2;
    }
    for (int j = 1; j < m; ++j) {
      for (int q = j; q > 0 && p[q].i < p[q - 1].i; --q) std::swap(p[q], p[q - 1]);
    }
    assert(p[0].i == first_.i && p[m - 1].i == last_.i);
    for (int j = 0; j < m; ++j) {
      if ((j == 0 || p[j].i != p[j - 1].i) && !emit(p[j])) return false;
    }
    return true;
  }

  // Runs the rule over the points [from, m) of the block starting at index base, whose keys are
  // in key_, data in x_ (unless read lazily) and y_, and mapped y in py_ (MappedY).
  template <class Y>
  bool feed(Count base, std::int32_t from, std::int32_t m) noexcept {
    for (std::int32_t t = from; t < m;) {
      const double k = key_[t];
      if (std::isnan(k)) {
        if (!close() || !emit(pick<Y>(base, t))) return false;
        ++t;
        continue;
      }
      const std::int32_t e = t + first_other(key_ + t, m - t, k);
      assert(e > t);
      double mn = 0, mx = 0;  // no NaN among the segment's y: those points have NaN keys
      if (on_screen(k)) extremes((std::is_same_v<Y, MappedY> ? py_ : y_) + t, e - t, mn, mx);
      if (!extend<Y>(base, t, e, k, mn, mx)) return false;
      t = e;
    }
    return true;
  }

  // Extends the run by the points [t, e) of the block, all with key k, their mapped y (MappedY)
  // or raw y (RawY) ranging from mn to mx. With chunks, chunk_lo_ and chunk_hi_ hold the
  // extremes of the raw y of each chunk from t on.
  template <class Y>
  bool extend(Count base, std::int32_t t, std::int32_t e, double k, double mn, double mx,
              bool chunks = false) noexcept {
    if constexpr (kSnap) return extend_snapped<Y>(base, t, e, k, mn, mx, chunks);
    if (!open_ || run_key_ != k) {
      if (!close()) return false;
      open(k, pick<Y>(base, t));
    }
    if (on_screen(k)) {
      if constexpr (std::is_same_v<Y, MappedY>) {
        if (mn < low_.py) low_ = pick<Y>(base, t + first_inside(py_ + t, e - t, mn, mn));
        if (mx > high_.py) high_ = pick<Y>(base, t + first_inside(py_ + t, e - t, mx, mx));
      } else {
        // The smallest py comes from the largest y when the mapping falls, and so on.
        const std::int32_t lo =
            raw_side(low_, y_ + t, e - t, falls_ ? mx : mn, falls_ ? mn : mx, falls_, true, chunks);
        if (lo >= 0) low_ = pick<Y>(base, t + lo);
        const std::int32_t hi = raw_side(high_, y_ + t, e - t, falls_ ? mn : mx, falls_ ? mx : mn,
                                         !falls_, false, chunks);
        if (hi >= 0) high_ = pick<Y>(base, t + hi);
      }
    }
    last_ = pick<Y>(base, e - 1);
    return true;
  }

  // The offset of the earliest of the m values y whose py equals that of their extreme E (the
  // other extreme O) when that py lies strictly beyond the run's extreme `side`, else -1. With
  // chunks, only the first chunk that reaches so far is searched.
  std::int32_t raw_side(const Pick& side, const double* y, std::int32_t m, double E, double O,
                        bool e_is_max, bool smaller, bool chunks) const noexcept {
    if (e_is_max ? !(E > side.y) : !(E < side.y)) return -1;  // maps no further: a tie at best
    const double P = map_.py(E);
    if (smaller ? !(P < side.py) : !(P > side.py)) return -1;  // a tie keeps the earlier point
    return raw_first(y, m, tie_bound(E, O, [P](double py) { return py == P; }), e_is_max, chunks);
  }

  // The offset of the earliest of the m values y at or beyond t (towards the maximum when
  // e_is_max), else -1. With chunks, only the first chunk that reaches so far is searched.
  // Only the offsets from skip on are searched.
  std::int32_t raw_first(const double* y, std::int32_t m, double t, bool e_is_max, bool chunks,
                         std::int32_t skip = 0) const noexcept {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double lo = e_is_max ? t : -inf, hi = e_is_max ? inf : t;
    if (chunks) {
      const double* reach = e_is_max ? chunk_hi_ : chunk_lo_;
      for (std::int32_t j = skip / kChunk;; ++j) {
        // The chunk that holds skip may reach so far only before it.
        const std::int32_t from = j * kChunk > skip ? j * kChunk : skip;
        if (from >= m) return -1;
        if (!(reach[j] >= lo && reach[j] <= hi)) continue;
        const std::int32_t end = m - j * kChunk > kChunk ? (j + 1) * kChunk : m;
        const std::int32_t u = first_inside(y + from, end - from, lo, hi);
        if (u < end - from) return from + u;
        // Always found in a whole chunk, unless data read in place changed under the scan.
        if (from == j * kChunk) return -1;
      }
    }
    const std::int32_t u = first_inside(y + skip, m - skip, lo, hi);
    return u < m - skip ? skip + u : -1;
  }

  // Of the values from O to E (both in the block), the one nearest O whose py is like E's
  // (like(py) holds, as it does for py(E)): by monotony these are the values from it to E.
  // Searched from E in the total order of doubles, from near that value when it is known (it
  // then costs a few probes, not the logarithm of the span).
  template <class Like>
  double tie_bound(double E, double O, Like like,
                   double near = std::numeric_limits<double>::quiet_NaN()) const noexcept {
    if (like(map_.py(O))) return O;
    const std::int64_t ke = order_key(E), ko = order_key(O);
    const bool down = ko < ke;
    // Offsets from E towards O, in unsigned arithmetic: the span may exceed 2^63.
    const std::uint64_t span =
        down ? static_cast<std::uint64_t>(ke) - static_cast<std::uint64_t>(ko)
             : static_cast<std::uint64_t>(ko) - static_cast<std::uint64_t>(ke);
    auto at = [&](std::uint64_t off) {
      const std::uint64_t k =
          down ? static_cast<std::uint64_t>(ke) - off : static_cast<std::uint64_t>(ke) + off;
      return from_order_key(static_cast<std::int64_t>(k));
    };
    std::uint64_t guess = 1;
    if (near == near) {
      const auto kn = static_cast<std::uint64_t>(order_key(near));
      const auto k = static_cast<std::uint64_t>(ke);
      const std::uint64_t off = down ? k - kn : kn - k;
      if ((down ? kn < k : kn > k) && off <= span) guess = off;
    }
    // like holds at offset 0 and not at span: the first offset where it does not.
    std::uint64_t same = 0, differs = span;
    search::gallop_bisect(same, differs, guess, [&](std::uint64_t off, bool& d) {
      d = !like(map_.py(at(off)));
      return true;
    });
    return at(differs - 1);
  }

  // The values of a column's points in row r, as [lo, hi]: of py (MappedY), or of raw y from yr,
  // a raw y in that row (RawY), its ends guessed by inverting the mapping. Every point of a
  // column lies in some row of it: nothing else need be told apart.
  template <class Y>
  void row_range(double r, double yr, double& lo, double& hi) const noexcept {
    constexpr double inf = std::numeric_limits<double>::infinity();
    if constexpr (std::is_same_v<Y, MappedY>) {
      lo = r;
      hi = std::nextafter(r + 1, -inf);  // rows are integers: r + 1 is exact
    } else {
      // A row's range is the mapping's alone (py is monotone in y): found once, kept by row.
      RowRange* kept = nullptr;
      if (std::fabs(r) <= kMaxRow) {
        kept = &rows_[static_cast<std::uint64_t>(static_cast<std::int64_t>(r)) % kRowsKept];
        if (kept->r == r) {
          lo = kept->lo;
          hi = kept->hi;
          return;
        }
      }
      auto like = [r](double py) { return std::floor(py) == r; };
      const LinearView& w = map_.w;
      const double a = w.y0 + (w.pb - r) / w.ph * w.dy, b = w.y0 + (w.pb - (r + 1)) / w.ph * w.dy;
      lo = tie_bound(yr, -inf, like, a < b ? a : b);
      hi = tie_bound(yr, inf, like, a < b ? b : a);
      if (kept != nullptr) *kept = {r, lo, hi};
    }
  }

  // The block's values that row_range() bounds: py (MappedY) or raw y.
  template <class Y>
  const double* row_values() const noexcept {
    return std::is_same_v<Y, MappedY> ? py_ : y_;
  }

  // The mapped y of point t of the block.
  template <class Y>
  double py_at(std::int32_t t) const noexcept {
    if constexpr (std::is_same_v<Y, MappedY>) {
      return py_[t];
    } else {
      return map_.py(y_[t]);
    }
  }

  // The pixel of point t of the block in the run with key k: a column's points need only their
  // row (x is not read there by the sorted scan), the sides' their x too.
  template <class Y>
  Pixel pixel_at(std::int32_t t, double k) const noexcept {
    double c = k;
    if constexpr (!kLazyX) {
      if (!on_screen(k)) c = std::floor(map_.px(x_[t]));
    }
    return {c, std::floor(py_at<Y>(t))};
  }

  // extend() with snapped points: the run's second pixel, the end of its last pixel but one,
  // and the earliest entries into its lowest and highest rows after its first pixel.
  template <class Y>
  bool extend_snapped(Count base, std::int32_t t, std::int32_t e, double k, double mn, double mx,
                      bool chunks) noexcept {
    std::int32_t from = t;  // the first point to compare with the one before it
    if (!open_ || run_key_ != k) {
      if (!close()) return false;
      open(k, pick<Y>(base, t));
      first_pixel_ = last_pixel_ = pixel_at<Y>(t, k);
      ++from;
    }
    const double* v = row_values<Y>();
    if (!has_second_ && from < e) {
      std::int32_t u = from;
      if (on_screen(k)) {
        double lo, hi;
        row_range<Y>(first_pixel_.r, first_.y, lo, hi);
        u += first_outside(v + from, e - from, lo, hi);
      } else {
        while (u < e && pixel_at<Y>(u, k) == first_pixel_) ++u;
      }
      if (u < e) {
        second_ = pick<Y>(base, u);
        has_second_ = true;
      }
    }
    if (on_screen(k)) {
      // Only a segment's extreme rows can be the run's; the mapping may fall.
      const bool mapped = std::is_same_v<Y, MappedY>;
      const double lo_e = mapped || !falls_ ? mn : mx, hi_e = mapped || !falls_ ? mx : mn;
      enter_row<Y>(base, t, e, true, lo_e, chunks, low_row_, low_wait_, low_);
      enter_row<Y>(base, t, e, false, hi_e, chunks, high_row_, high_wait_, high_);
    }
    // The last pixel's first point ends the run's path so far: the point before it is kept.
    const Pixel end = pixel_at<Y>(e - 1, k);
    std::int32_t u = e - 2;
    if (on_screen(k)) {
      double lo, hi;
      row_range<Y>(end.r, y_[e - 1], lo, hi);
      while (u >= t && v[u] >= lo && v[u] <= hi) --u;
    } else {
      while (u >= t && pixel_at<Y>(u, k) == end) --u;
    }
    if (u >= t) {
      before_last_ = pick<Y>(base, u);
      has_before_last_ = true;
    } else if (from == t && !(end == last_pixel_)) {
      before_last_ = last_;
      has_before_last_ = true;
    }
    last_ = pick<Y>(base, e - 1);
    last_pixel_ = end;
    return true;
  }

  // The run's lowest (low) or highest row, over the points [t, e) of a column whose y reach E
  // at that end: a row beyond it is entered at its earliest point; the
  // run's own row, while only its first point is there (wait), at its earliest point after the
  // first pixel.
  template <class Y>
  void enter_row(Count base, std::int32_t t, std::int32_t e, bool low, double E, bool chunks,
                 double& row, bool& wait, Pick& at) noexcept {
    const double r = std::floor(std::is_same_v<Y, MappedY> ? E : map_.py(E));
    std::int32_t from = t;
    if (low ? r < row : r > row) {
      row = r;
      wait = false;
    } else if (r == row && wait && has_second_) {
      if (second_.i > base + t) from = static_cast<std::int32_t>(second_.i - base);
      // Searched on from there: the chunks' reach, which would skip ahead, measured slower.
      chunks = false;
    } else {
      return;
    }
    double lo, hi;
    row_range<Y>(r, E, lo, hi);
    std::int32_t u;
    if constexpr (std::is_same_v<Y, MappedY>) {
      constexpr double inf = std::numeric_limits<double>::infinity();
      u = first_inside(py_ + from, e - from, low ? -inf : lo, low ? hi : inf);
      u = u < e - from ? u : -1;
    } else {
      // Towards the y maximum when the row lies that way.
      u = raw_first(y_ + t, e - t, low == falls_ ? lo : hi, low == falls_, chunks, from - t);
      u = u < 0 ? u : u - (from - t);
    }
    if (u >= 0) {
      at = pick<Y>(base, from + u);
      wait = false;
    }
  }

  Source& src_;
  Sink& sink_;
  const Mapping map_;
  const double* x_ = nullptr;  // the block's x and y
  const double* y_ = nullptr;
  double* const py_;  // the block's mapped y (MappedY)
  double* const key_;
  const double lo_, hi_;  // c(pl) and c(pl + pw)
  // raw_y_: py is a monotone function of y, NaN only for a NaN y; falls_: decreasing.
  const bool raw_y_, falls_;
  double chunk_lo_[kSpan / kChunk], chunk_hi_[kSpan / kChunk];  // see chunk_extremes

 private:
  // Ranges of raw y per row found by row_range(), by row modulo kRowsKept (r NaN: none): a
  // snapped scan of 10^6 points of a random walk took 5 % more instructions than the plain one
  // with 64 kept, 2 % with 256.
  // Rows are clamped pixels: beyond kMaxRow none is kept.
  struct RowRange {
    double r, lo, hi;
  };
  static constexpr int kRowsKept = 256;
  static constexpr double kMaxRow = 4e6;
  mutable RowRange rows_[kRowsKept];
  static constexpr int kPending = 32;
  Pick pending_[kPending];  // see emit()
  int n_pending_ = 0;
  std::int64_t work_ = 0;
  Stop status_ = Stop::kNone;
  // The open run: its key and its first, lowest-py, highest-py and last points.
  bool open_ = false;
  double run_key_ = 0;
  Pick first_{}, low_{}, high_{}, last_{};
  // Snapped: the first point of the second pixel and the last of the last pixel but one (when
  // the run has them), the pixels of the first and last points, the lowest and highest rows and
  // whether only the first point has been there (low_ and high_ are then not kept), and the
  // last point drawn.
  bool has_second_ = false, has_before_last_ = false;
  Pick second_{}, before_last_{};
  Pixel first_pixel_{}, last_pixel_{};
  double low_row_ = 0, high_row_ = 0;
  bool low_wait_ = true, high_wait_ = true;
  Pixel out_{std::numeric_limits<double>::quiet_NaN(), 0};
};

}  // namespace m4

}  // namespace skyloom
