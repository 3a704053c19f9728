// The sorted scan of per-column extremes (the rule is in screen/m4.h): with ascending x and a
// mapping that rises with x, the visible points are found by bisection and each column's end by
// a guess confirmed in the data, else by galloping and bisection; only the y values of the
// visible columns are read, and the x of the points kept.
#pragma once

#include <cassert>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "screen/m4_runs.h"
#include "screen/search.h"

namespace skyloom::m4 {

constexpr std::int64_t kRawColumn = 64;  // shorter columns are mapped point by point

// How the sorted scan reads a column's y: ScanY reads them all; another tag (an index's)
// has static bool column(Sorted& scan, s, e, k) and may call scan.scan_column() for any part.
struct ScanY {};

template <class Source, class Sink, bool kSnap, class ColumnY = ScanY>
class Sorted : public Runs<Source, Sink, true, kSnap> {
  using Base = Runs<Source, Sink, true, kSnap>;
  using Count = typename Base::Count;
  using Pick = typename Base::Pick;
  static constexpr std::int32_t kBlock = Source::kBlock;
  friend ColumnY;

 public:
  Sorted(Source& src, Sink& sink, const Mapping& map) noexcept : Base(src, sink, map) {}

  // The points [0, n); false when it stopped (see status()).
  bool run(Count n) noexcept {
    // a: the first point not off to the left; b: the first point off to the right.
    Count a, b;
    if (!partition(-1, n, true, a) || !partition(a - 1, n, false, b)) return false;
    assert(0 <= a && a <= b && b <= n);
    if (a > 0 && !side_run(0, a, kLeft)) return false;
    if (a < b) {
      // Column ends are guessed between the first and the last visible x.
      visible_ = {a, b, 0, 0};
      if (!x_at(a, visible_.x_first) || !x_at(b - 1, visible_.x_last)) return false;
      double x = visible_.x_first;
      for (Count s = a, e; s < b; s = e) {
        if (!this->tick(1)) return false;
        const double k = Base::cut(this->map_.px(x));
        if (!column_end(s, x, k, e, x)) return false;
        if constexpr (std::is_same_v<ColumnY, ScanY>) {
          if (!scan_column(s, e, k)) return false;
        } else if (!ColumnY::column(*this, s, e, k)) {
          return false;
        }
      }
    }
    if (b < n && !side_run(b, n, kRight)) return false;
    return this->close() && this->flush();
  }

 private:
  bool x_at(Count i, double& x) noexcept {
    return this->src_.x_at(i, x) || this->stop(Stop::kSource);
  }

  bool column_at(Count i, double& c) noexcept {
    if (!this->tick(1)) return false;
    double x;
    if (!x_at(i, x)) return false;
    c = Base::cut(this->map_.px(x));
    return true;
  }

  // The first index in (lo, hi) whose column is not left of c(pl) (left: true) or is right of
  // c(pl + pw) (left: false), else hi; lo and hi themselves are not read.
  bool partition(Count lo, Count hi, bool left, Count& out) noexcept {
    if (!search::bisect(lo, hi, [&](Count i, bool& past) {
          double c;
          if (!column_at(i, c)) return false;
          past = !(left ? c < this->lo_ : !(c > this->hi_));
          return true;
        })) {
      return false;
    }
    out = hi;
    return true;
  }

  // Where the column k that starts at s with xs probably ends, in (s, b]: the x where the next
  // column begins, in real arithmetic, placed between (s, xs) and (b - 1, the last visible x)
  // as if x were evenly spaced. Only a starting point: any value gives the same end, found in
  // the data.
  Count guess_end(Count s, double xs, double k) const noexcept {
    const LinearView& w = this->map_.w;
    const Count b = visible_.b;
    // Column c holds the px of trunc c: (c - 1, c] below zero, [c, c + 1) above, (-1, 1) at 0;
    // of floor c, [c, c + 1).
    const double edge = w.x0 + ((kSnap || k + 1 > 0 ? k + 1 : k) - w.pl) / w.pw * w.dx;
    double f = (edge - xs) / (visible_.x_last - xs);
    if (!(f >= 0)) f = 0;  // NaN too (a broken promise, or one x for all)
    if (f > 1) f = 1;
    // The offset in double: below b - s it converts exactly (b - s itself may round up).
    const double off = std::ceil(f * static_cast<double>(b - 1 - s));
    if (!(off < static_cast<double>(b - s))) return b;
    const Count g = s + static_cast<Count>(off);
    return g <= s ? s + 1 : g;
  }

  // Guesses the ends of the columns k, k + 1, ... from the first visible point on, and reads
  // the x on either side of each: read together, the reads overlap, where a probe per column
  // stalls the scan each time.
  bool look_ahead(double k) noexcept {
    if (!this->tick(2 * kAhead)) return false;
    ahead_k_ = k;
    for (int j = 0; j < kAhead; ++j) {
      Guess& q = ahead_[j];
      q.g = guess_end(visible_.a, visible_.x_first, k + j);
      q.at = std::numeric_limits<double>::infinity();  // b stands for "right of the column"
      if (!x_at(q.g - 1, q.before) || (q.g < visible_.b && !x_at(q.g, q.at))) return false;
    }
    return true;
  }

  // The end e of the column k that starts at s with xs: the first index in (s, b) whose column
  // lies right of k, else b; and xe, the x at e when e < b. Takes the guess looked ahead when
  // the x around it confirm it, else gallops from a guess, then bisects: a good guess costs two
  // probes, a bad one about twice the logarithm of its error.
  bool column_end(Count s, double xs, double k, Count& e, double& xe) noexcept {
    const Count b = visible_.b;
    if (k == k) {  // a NaN x (a broken promise) has no column to look ahead for
      if (!(k >= ahead_k_ && k < ahead_k_ + kAhead) && !look_ahead(k)) return false;
      const Guess& q = ahead_[static_cast<int>(k - ahead_k_)];
      const Mapping& map = this->map_;
      if (q.g > s && !(Base::cut(map.px(q.before)) > k) && Base::cut(map.px(q.at)) > k) {
        e = q.g;
        xe = q.at;
        return true;
      }
    }
    const Count g = guess_end(s, xs, k);
    assert(s < g && g <= b);
    // lo: in column k (or left of it); hi: right of it, or b, which is right of k even when k
    // is NaN (a broken promise): every probe of a NaN k then gallops on towards b.
    Count lo = s, hi = b;
    if (!search::gallop_bisect(lo, hi, g, [&](Count i, bool& right) {
          double c;
          if (!column_at(i, c)) return false;
          right = c > k;
          return true;
        })) {
      return false;
    }
    assert(s <= lo && lo < hi && hi <= b);
    e = hi;
    return e == b || x_at(e, xe);
  }

  // The off-screen run [s, e): its first and last points and, snapped, the first point of its
  // second pixel and the last of its last pixel but one.
  bool side_run(Count s, Count e, double key) noexcept {
    Pick first, last;
    if (!this->close() || !side_point(s, first) || !side_point(e - 1, last)) return false;
    if constexpr (kSnap) {
      Pick second, before_last;
      bool has_second, has_before_last;
      if (!other_pixel(s, 1, e, first, second, has_second) ||
          !other_pixel(e - 1, -1, s - 1, last, before_last, has_before_last)) {
        return false;
      }
      return this->side(key, first, last, has_second ? &second : nullptr,
                        has_before_last ? &before_last : nullptr);
    }
    return this->side(key, first, last);
  }

  // Point i off the plot: its mapped y, and its pixel x in x (not kept: read again when drawn).
  bool side_point(Count i, Pick& p) noexcept {
    double y;
    if (!y_at(i, y)) return false;
    p = {i, std::numeric_limits<double>::quiet_NaN(), y, this->map_.py(y)};
    if constexpr (kSnap) {
      if (!this->tick(1) || !x_at(i, p.x)) return false;
      p.x = this->map_.px(p.x);
    }
    return true;
  }

  // The first point from p's on (step 1) or back (step -1) before end whose pixel is not p's.
  bool other_pixel(Count from, Count step, Count end, const Pick& p, Pick& out,
                   bool& found) noexcept {
    const Pixel px{std::floor(p.x), std::floor(p.py)};
    found = false;
    for (Count i = from + step; i != end; i += step) {
      if (!side_point(i, out)) return false;
      if (!(Pixel{std::floor(out.x), std::floor(out.py)} == px)) {
        found = true;
        return true;
      }
    }
    return true;
  }

  // The points [s, e) of column k, every y read.
  bool scan_column(Count s, Count e, double k) noexcept {
    return this->raw_y_ && e - s >= kRawColumn ? column<RawY>(s, e, k) : column<MappedY>(s, e, k);
  }

  bool y_at(Count i, double& y) noexcept {
    const double* p;
    if (!this->src_.y_block(i, 1, p)) return this->stop(Stop::kSource);
    y = *p;
    return true;
  }

  // The points [s, e) of column k: reduced over raw y (RawY: long columns with a monotone y
  // mapping), in stretches of kSpan when read in place, else block by block; or mapped point by
  // point (MappedY).
  template <class Y>
  bool column(Count s, Count e, double k) noexcept {
    constexpr bool raw = std::is_same_v<Y, RawY>;
    Count by_blocks = s;  // the stretch before it holds a NaN y: it goes block by block
    for (Count from = s; from < e;) {
      if (raw && from >= by_blocks) {
        const std::int32_t m = block_length(kSpan, e - from);
        if (const double* y = this->src_.y_in_place(from, m)) {
          if (!this->tick(m)) return false;
          this->y_ = y;
          double mn, mx;
          // Prefetched into the next column too.
          const std::int32_t readable =
              block_length(m + kPrefetchChunks * kChunk, visible_.b - from);
          if (chunk_extremes(y, m, readable, this->chunk_lo_, this->chunk_hi_, mn, mx)) {
            if (!this->template extend<RawY>(from, 0, m, k, mn, mx, true)) return false;
            from += m;
            continue;
          }
          by_blocks = from + m;
        }
      }
      const std::int32_t m = block_length(kBlock, e - from);
      if (!this->tick(m)) return false;
      if (!this->src_.y_block(from, m, this->y_)) {
        return this->stop(Stop::kSource);
      }
      const double* y = this->y_;
      double mn, mx;
      if (raw && extremes(y, m, mn, mx)) {  // no NaN: one segment
        if (!this->template extend<RawY>(from, 0, m, k, mn, mx)) return false;
      } else {
        double *py = this->py_, *key = this->key_;
        for (std::int32_t t = 0; t < m; ++t) {
          if (!raw) py[t] = this->map_.py(y[t]);
          const double q = raw ? y[t] : py[t];
          key[t] = q == q ? k : q;  // a NaN py (from a NaN y, when raw) is kept alone
        }
        if (!this->template feed<Y>(from, 0, m)) return false;
      }
      from += m;
    }
    return true;
  }

  // The visible points [a, b), the x of the first and the last, and the column ends guessed
  // ahead for the columns from ahead_k_ on.
  struct Visible {
    Count a, b;
    double x_first, x_last;
  } visible_{};
  static constexpr int kAhead = 16;
  struct Guess {
    Count g;            // the guessed end, in (a, b]
    double before, at;  // x at g - 1 and at g (+inf for b)
  } ahead_[kAhead];
  double ahead_k_ = std::numeric_limits<double>::quiet_NaN();
};

}  // namespace skyloom::m4
