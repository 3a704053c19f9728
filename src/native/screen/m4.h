// Per-column extremes of a series on screen: of every run of consecutive points in one pixel
// column the first, the lowest, the highest and the last; of every run off the plot to one side
// the first and the last. Drawn as one polyline, the kept points light exactly the pixels that
// all the points light inside the plot's columns. Pure C++, generic over where the numbers come
// from (a Reader) and where the pixels go (a Sink): the Python glue supplies both.
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
// With x_sorted the caller promises ascending x values (no NaN). When the mapping rises with x
// (finite x0, pl, and finite positive dx and pw) the visible range is then found by bisection,
// each column's end by a guess (as if x were evenly spaced) confirmed in the data, or else by
// galloping and bisection, and only the y values of the visible columns are read: the result
// is the general rule's, bit for bit. A broken promise gives some other polyline, never an
// out-of-range read or an endless loop.
#pragma once

#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

#include "screen/data_to_screen.h"
#include "screen/map_linear.h"
#include "simd.h"

namespace skyloom {

struct M4View {
  double x0, dx, y0, dy, pl, pb, pw, ph;
  int lx, ly;
};

enum class M4Status {
  ok,
  source_failed,  // a Reader call returned false
  no_memory,      // the Sink refused a point, or no scratch
  stopped,        // poll() returned false
};

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

// The Reader a scan needs (indices always within [0, n); each call returns false when the source
// failed, and the scan then stops with source_failed):
//   bool gather(std::int64_t from, std::int32_t count, double* x, double* y);  // both series
//   bool gather_y(std::int64_t from, std::int32_t count, double* y);
//   bool x_at(std::int64_t i, double& x);
//   bool poll();  // called every few thousand points or probes; false stops the scan
// and, optionally, for series held as contiguous doubles that blocks can be read from in place:
//   const double* x_in_place(std::int64_t from);  // item from of xs, or nullptr: gather it
//   const double* y_in_place(std::int64_t from);
// The Sink: bool push(double px, double py); false stops the scan with no_memory.
template <class Reader, class Sink>
M4Status m4_to_screen(Reader& reader, std::int64_t n, const M4View& view, bool x_sorted,
                      Sink& sink) noexcept;

namespace m4 {

constexpr std::int32_t kBlock = 1024;  // points read and mapped at a time
// Points reduced in one go when read in place: block by block, a long column took a third
// longer than reading it.
constexpr std::int32_t kSpan = 1 << 16;
constexpr std::int32_t kChunk = 512;         // values summed up by their extremes within a span
constexpr std::int32_t kPrefetchChunks = 4;  // how far ahead chunk_extremes() prefetches
constexpr std::int64_t kPollEvery = 4096;    // points or probes between polls
constexpr std::int64_t kRawColumn = 64;      // shorter sorted columns are mapped point by point
// Keys of the two off-screen sides: far beyond any column (pixels are clamped to ±1e6).
constexpr double kLeft = -3e6, kRight = 3e6;
// Cell changes a block may make before the rest of it is mapped point by point, and the blocks
// then mapped before cells are tried again.
constexpr int kCellChanges = 16;
constexpr int kCooldown = 64;

// Turns the pixel x of each of the m points into its run key in place: kLeft, kRight, the column
// c(px), or NaN for a point kept alone. lo and hi are c(pl) and c(pl + pw).
extern const simd::Entry<void(double* px, const double* py, std::int32_t m, double lo, double hi)>
    column_keys;
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

inline double map_x(double x, const M4View& v) noexcept {
  double px, py;
  data_to_screen(x, 0.0, v.x0, v.dx, v.y0, v.dy, v.pl, v.pb, v.pw, v.ph, v.lx, 0, px, py);
  return px;
}

inline double map_y(double y, const M4View& v) noexcept {
  double px, py;
  data_to_screen(0.0, y, v.x0, v.dx, v.y0, v.dy, v.pl, v.pb, v.pw, v.ph, 0, v.ly, px, py);
  return py;
}

// Whether a Reader can hand out blocks in place.
template <class R, class = void>
struct InPlace : std::false_type {};
template <class R>
struct InPlace<R, std::void_t<decltype(std::declval<R&>().x_in_place(std::int64_t{})),
                              decltype(std::declval<R&>().y_in_place(std::int64_t{}))>>
    : std::true_type {};

// One point of a run: its index, its data (x is NaN until read when the scan reads x lazily)
// and its mapped y.
struct Pick {
  std::int64_t i;
  double x, y, py;
};

template <class Reader, class Sink>
class Scan {
 public:
  Scan(Reader& reader, Sink& sink, const M4View& view, double* scratch) noexcept
      : r_(reader),
        sink_(sink),
        v_(view),
        sx_(scratch),
        sy_(scratch + kBlock),
        py_(scratch + 2 * kBlock),
        key_(scratch + 3 * kBlock),
        lo_(std::trunc(view.pl)),
        hi_(std::trunc(view.pl + view.pw)),
        raw_y_(view.ly == 0 && view.dy != 0 && view.ph != 0 && std::isfinite(view.y0) &&
               std::isfinite(view.dy) && std::isfinite(view.pb) && std::isfinite(view.ph)),
        falls_((view.dy > 0) == (view.ph > 0)),
        cells_(raw_y_ && view.lx == 0 && can_bisect(view)) {}

  // Sorted x and a mapping that rises with x: bisection can find columns.
  static bool can_bisect(const M4View& v) noexcept {
    return v.dx > 0 && v.pw > 0 && std::isfinite(v.dx) && std::isfinite(v.pw) &&
           std::isfinite(v.x0) && std::isfinite(v.pl);
  }

  M4Status general(std::int64_t n) noexcept { return scan_all(n) ? M4Status::ok : status_; }
  M4Status sorted(std::int64_t n) noexcept { return scan_sorted(n) ? M4Status::ok : status_; }

 private:
  bool scan_all(std::int64_t n) noexcept {
    lazy_x_ = false;
    for (std::int64_t from = 0; from < n;) {
      // Stretches read in place go by cells in one go while they can.
      if (cells_ && cooldown_ == 0 && in_place(from)) {
        const auto m = static_cast<std::int32_t>(n - from < kSpan ? n - from : kSpan);
        if (!tick(m)) return false;
        std::int32_t t = 0;
        if (!by_cells(from, m, t)) return false;
        from += t;
        if (t == m) continue;
      }
      const auto m = static_cast<std::int32_t>(n - from < kBlock ? n - from : kBlock);
      if (!tick(m)) return false;
      if (!read(from, m)) return stop(M4Status::source_failed);
      std::int32_t t = 0;  // the points before t are done by cells
      if (cells_ && cooldown_ == 0) {
        if (!by_cells(from, m, t)) return false;
      } else if (cooldown_ > 0) {
        --cooldown_;
      }
      if (t < m && !mapped(from, t, m)) return false;
      from += m;
    }
    return close();
  }

  // The points [t, m) of the block, each mapped.
  bool mapped(std::int64_t base, std::int32_t t, std::int32_t m) noexcept {
    mapped_ = true;
    if (v_.lx == 0 && v_.ly == 0) {
      const LinearView lin{v_.x0, v_.dx, v_.y0, v_.dy, v_.pl, v_.pb, v_.pw, v_.ph};
      map_linear_split(x_ + t, y_ + t, m - t, lin, key_ + t, py_ + t);
    } else {
      for (std::int32_t k = t; k < m; ++k)
        data_to_screen(x_[k], y_[k], v_.x0, v_.dx, v_.y0, v_.dy, v_.pl, v_.pb, v_.pw, v_.ph, v_.lx,
                       v_.ly, key_[k], py_[k]);
    }
    column_keys(key_ + t, py_ + t, m - t, lo_, hi_);
    return feed(base, t, m);
  }

  // Cells: with a mapping that rises with x and a monotone one for y, the x values of one run
  // key (a column, or a side) form an interval, found once by bisection. While x stays in the
  // current cell nothing is mapped: runs are cut by two comparisons per point and reduced over
  // raw y, which gives the mapped scan's result bit for bit. Advances t over the block (or a
  // stretch read in place) until a NaN (x, or y on screen) or more cell changes than
  // kCellChanges per kBlock points; the rest is mapped, and after many changes (unsorted x)
  // cells rest for a while.
  bool by_cells(std::int64_t base, std::int32_t m, std::int32_t& t) noexcept {
    mapped_ = false;
    int changes = 0;
    while (t < m) {
      const double x = x_[t];
      if (!(x >= cell_lo_ && x <= cell_hi_)) {
        if (x != x) return true;
        if (++changes > kCellChanges * (1 + t / kBlock)) {
          cooldown_ = kCooldown;
          return true;
        }
        enter_cell(x);
      }
      std::int32_t e;
      double mn = 0, mx = 0;
      if (on_screen(cell_key_)) {
        // Ends at a NaN y too, which is then mapped. x is read again: data read in place may
        // be changed meanwhile by another thread (another polyline, but the scan advances).
        e = t + cell_run(x_ + t, y_ + t, m - t, cell_lo_, cell_hi_, chunk_lo_, chunk_hi_, mn, mx);
        if (e == t) return true;
      } else {
        e = t + 1 + first_outside(x_ + t + 1, m - t - 1, cell_lo_, cell_hi_);
      }
      if (!extend(base, t, e, cell_key_, mn, mx, true)) return false;
      t = e;
    }
    return true;
  }

  // Makes the cell of x (not NaN) current: its run key and the interval of x values with it.
  void enter_cell(double x) noexcept {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double c = std::trunc(map_x(x, v_));
    // The cell lies between offsets of doubles (see first_in_column): x's own is inside.
    if (c < lo_) {
      cell_key_ = kLeft;
      cell_lo_ = -inf;
      cell_hi_ = at_(first_in_column(lo_) - 1);
    } else if (c > hi_) {
      cell_key_ = kRight;
      cell_lo_ = at_(first_in_column(hi_ + 1));
      cell_hi_ = inf;
    } else {
      cell_key_ = c + 0.0;  // as column_keys makes it: no negative zero
      cell_lo_ = at_(first_in_column(c));
      cell_hi_ = at_(first_in_column(c + 1) - 1);
    }
    assert(cell_lo_ <= x && x <= cell_hi_);
  }

  // The offset of the smallest x with c(px) >= col, or kTop when no x has it. Gallops from the
  // column's edge computed in real arithmetic, then bisects, over the total order of doubles:
  // c(px) rises with x because every operation of the mapping does.
  std::uint64_t first_in_column(double col) const noexcept {
    auto reaches = [&](std::uint64_t u) { return std::trunc(map_x(at_(u), v_)) >= col; };
    // The offsets 0 and kTop stand for "below all" (never reaches) and "above all" (reaches).
    double guess = v_.x0 + (col - v_.pl) / v_.pw * v_.dx;
    if (!(guess == guess)) guess = v_.x0;
    std::uint64_t no, yes;
    const std::uint64_t g = offset(guess);
    if (reaches(g)) {
      yes = g;
      no = 0;
      for (std::uint64_t d = 1; d < yes; d = twice(d)) {
        if (!reaches(yes - d)) {
          no = yes - d;
          break;
        }
        yes -= d;
      }
    } else {
      no = g;
      yes = kTop;
      for (std::uint64_t d = 1; d < kTop - no; d = twice(d)) {
        if (reaches(no + d)) {
          yes = no + d;
          break;
        }
        no += d;
      }
    }
    while (yes - no > 1) {
      const std::uint64_t mid = no + (yes - no) / 2;
      (reaches(mid) ? yes : no) = mid;
    }
    return yes;
  }

  // 2d, or the largest offset step when that overflows.
  static std::uint64_t twice(std::uint64_t d) noexcept {
    return d > UINT64_MAX / 2 ? UINT64_MAX : 2 * d;
  }

  // Offsets in [1, kTop - 1] number the doubles from -inf to +inf in order.
  static constexpr std::uint64_t kBottom = 0x800ffffffffffffeull;  // order_key(-inf) - 1
  static constexpr std::uint64_t kTop = 0xffe0000000000003ull;     // offset of +inf, plus one
  static std::uint64_t offset(double x) noexcept {
    return static_cast<std::uint64_t>(order_key(x)) - kBottom;
  }
  static double at_(std::uint64_t u) noexcept {
    return from_order_key(static_cast<std::int64_t>(u + kBottom));
  }

  bool scan_sorted(std::int64_t n) noexcept {
    lazy_x_ = true;
    // a: the first point not off to the left; b: the first point off to the right.
    std::int64_t a, b;
    if (!partition(-1, n, true, a) || !partition(a - 1, n, false, b)) return false;
    assert(0 <= a && a <= b && b <= n);
    if (a > 0 && !side_run(0, a, kLeft)) return false;
    if (a < b) {
      // Column ends are guessed between the first and the last visible x.
      visible_ = {a, b, 0, 0};
      if (!r_.x_at(a, visible_.x_first) || !r_.x_at(b - 1, visible_.x_last)) {
        return stop(M4Status::source_failed);
      }
      double x = visible_.x_first;
      for (std::int64_t s = a, e; s < b; s = e) {
        if (!tick(1)) return false;
        const double k = std::trunc(map_x(x, v_));
        if (!column_end(s, x, k, e, x) || !column(s, e, k)) return false;
      }
    }
    if (b < n && !side_run(b, n, kRight)) return false;
    return close() && flush();
  }

  // Points x_ and y_ at the block of m points from index from: in place when the reader can,
  // else gathered into scratch.
  bool read(std::int64_t from, std::int32_t m) noexcept {
    if (in_place(from)) return true;
    x_ = sx_;
    y_ = sy_;
    return r_.gather(from, m, sx_, sy_);
  }

  // Whether the block from `from` can be read in place; points x_ and y_ at it if so.
  bool in_place(std::int64_t from) noexcept {
    if constexpr (InPlace<Reader>::value) {
      const double* x = r_.x_in_place(from);
      const double* y = r_.y_in_place(from);
      if (x == nullptr || y == nullptr) return false;
      x_ = x;
      y_ = y;
      return true;
    } else {
      (void)from;
      return false;
    }
  }

  // Item from of ys and the rest in place, or nullptr.
  const double* y_in_place(std::int64_t from) noexcept {
    if constexpr (InPlace<Reader>::value) {
      return r_.y_in_place(from);
    } else {
      (void)from;
      return nullptr;
    }
  }

  bool read_y(std::int64_t from, std::int32_t m) noexcept {
    y_ = y_in_place(from);
    if (y_ != nullptr) return true;
    y_ = sy_;
    return r_.gather_y(from, m, sy_);
  }

  // Records why the scan stops; returns false for the caller to pass up.
  bool stop(M4Status s) noexcept {
    status_ = s;
    return false;
  }

  // Counts work and polls the reader once per kPollEvery of it: a stretch of kSpan points polls
  // many times over, so that readers may count points by polls.
  bool tick(std::int64_t work) noexcept {
    for (work_ += work; work_ >= kPollEvery; work_ -= kPollEvery) {
      if (!r_.poll()) return stop(M4Status::stopped);
    }
    return true;
  }

  bool on_screen(double key) const noexcept { return key != kLeft && key != kRight; }

  Pick pick(std::int64_t base, std::int32_t t) const noexcept {
    return {base + t, lazy_x_ ? std::numeric_limits<double>::quiet_NaN() : x_[t], y_[t],
            mapped_ ? py_[t] : map_y(y_[t], v_)};
  }

  // Points whose x is still to be read wait in pending_: their x are then read together, so
  // that the reads overlap (one at a time, a read far from the data being scanned stalls it).
  bool emit(const Pick& p) noexcept {
    if (lazy_x_) {
      pending_[n_pending_++] = p;
      return n_pending_ < kPending || flush();
    }
    if (!sink_.push(map_x(p.x, v_), p.py)) return stop(M4Status::no_memory);
    return true;
  }

  bool flush() noexcept {
    double x[kPending];
    for (int j = 0; j < n_pending_; ++j) {
      if (!r_.x_at(pending_[j].i, x[j])) return stop(M4Status::source_failed);
    }
    for (int j = 0; j < n_pending_; ++j) {
      if (!sink_.push(map_x(x[j], v_), pending_[j].py)) return stop(M4Status::no_memory);
    }
    n_pending_ = 0;
    return true;
  }

  void open(double key, const Pick& p) noexcept {
    open_ = true;
    run_key_ = key;
    first_ = low_ = high_ = last_ = p;
  }

  // Emits the open run's kept points in input order, each once.
  bool close() noexcept {
    if (!open_) return true;
    open_ = false;
    Pick p[4] = {first_, low_, high_, last_};
    int m = 4;
    if (!on_screen(run_key_)) {
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
  // in key_, data in x_ (unless read lazily) and y_, and mapped y in py_ when mapped_.
  bool feed(std::int64_t base, std::int32_t from, std::int32_t m) noexcept {
    for (std::int32_t t = from; t < m;) {
      const double k = key_[t];
      if (std::isnan(k)) {
        if (!close() || !emit(pick(base, t))) return false;
        ++t;
        continue;
      }
      const std::int32_t e = t + first_other(key_ + t, m - t, k);
      assert(e > t);
      double mn = 0, mx = 0;  // no NaN among the segment's y: those points have NaN keys
      if (on_screen(k)) extremes((mapped_ ? py_ : y_) + t, e - t, mn, mx);
      if (!extend(base, t, e, k, mn, mx)) return false;
      t = e;
    }
    return true;
  }

  // Extends the run by the points [t, e) of the block, all with key k, their mapped y (or raw y
  // when !mapped_) ranging from mn to mx. With chunks, chunk_lo_ and chunk_hi_ hold the
  // extremes of the raw y of each chunk from t on.
  bool extend(std::int64_t base, std::int32_t t, std::int32_t e, double k, double mn, double mx,
              bool chunks = false) noexcept {
    if (!open_ || run_key_ != k) {
      if (!close()) return false;
      open(k, pick(base, t));
    }
    if (on_screen(k) && mapped_) {
      if (mn < low_.py) low_ = pick(base, t + first_inside(py_ + t, e - t, mn, mn));
      if (mx > high_.py) high_ = pick(base, t + first_inside(py_ + t, e - t, mx, mx));
    } else if (on_screen(k)) {
      // The smallest py comes from the largest y when the mapping falls, and so on.
      const std::int32_t lo =
          raw_side(low_, y_ + t, e - t, falls_ ? mx : mn, falls_ ? mn : mx, falls_, true, chunks);
      if (lo >= 0) low_ = pick(base, t + lo);
      const std::int32_t hi = raw_side(high_, y_ + t, e - t, falls_ ? mn : mx, falls_ ? mx : mn,
                                       !falls_, false, chunks);
      if (hi >= 0) high_ = pick(base, t + hi);
    }
    last_ = pick(base, e - 1);
    return true;
  }

  // Sorted x -------------------------------------------------------------------------------

  bool column_at(std::int64_t i, double& c) noexcept {
    if (!tick(1)) return false;
    double x;
    if (!r_.x_at(i, x)) return stop(M4Status::source_failed);
    c = std::trunc(map_x(x, v_));
    return true;
  }

  // The first index in (lo, hi) whose column is not left of c(pl) (left: true) or is right of
  // c(pl + pw) (left: false), else hi; lo and hi themselves are not read.
  bool partition(std::int64_t lo, std::int64_t hi, bool left, std::int64_t& out) noexcept {
    while (hi - lo > 1) {
      assert(lo < hi);
      const std::int64_t mid = lo + (hi - lo) / 2;
      double c;
      if (!column_at(mid, c)) return false;
      if (left ? c < lo_ : !(c > hi_)) {
        lo = mid;
      } else {
        hi = mid;
      }
    }
    out = hi;
    return true;
  }

  // Where the column k that starts at s with xs probably ends, in (s, b]: the x where the next
  // column begins, in real arithmetic, placed between (s, xs) and (b - 1, the last visible x)
  // as if x were evenly spaced. Only a starting point: any value gives the same end, found in
  // the data.
  std::int64_t guess_end(std::int64_t s, double xs, double k) const noexcept {
    const std::int64_t b = visible_.b;
    // Column c holds the px of trunc c: (c - 1, c] below zero, [c, c + 1) above, (-1, 1) at 0.
    const double edge = v_.x0 + ((k + 1 > 0 ? k + 1 : k) - v_.pl) / v_.pw * v_.dx;
    double f = (edge - xs) / (visible_.x_last - xs);
    if (!(f >= 0)) f = 0;  // NaN too (a broken promise, or one x for all)
    if (f > 1) f = 1;
    const std::int64_t g =
        s + static_cast<std::int64_t>(std::ceil(f * static_cast<double>(b - 1 - s)));
    return g <= s ? s + 1 : (g > b ? b : g);
  }

  // Guesses the ends of the columns k, k + 1, ... from the first visible point on, and reads
  // the x on either side of each: read together, the reads overlap, where a probe per column
  // stalls the scan each time.
  bool look_ahead(double k) noexcept {
    if (!tick(2 * kAhead)) return false;
    ahead_k_ = k;
    for (int j = 0; j < kAhead; ++j) {
      Guess& q = ahead_[j];
      q.g = guess_end(visible_.a, visible_.x_first, k + j);
      q.at = std::numeric_limits<double>::infinity();  // b stands for "right of the column"
      if (!r_.x_at(q.g - 1, q.before) || (q.g < visible_.b && !r_.x_at(q.g, q.at))) {
        return stop(M4Status::source_failed);
      }
    }
    return true;
  }

  // The end e of the column k that starts at s with xs: the first index in (s, b) whose column
  // lies right of k, else b; and xe, the x at e when e < b. Takes the guess looked ahead when
  // the x around it confirm it, else gallops from a guess, then bisects: a good guess costs two
  // probes, a bad one about twice the logarithm of its error.
  bool column_end(std::int64_t s, double xs, double k, std::int64_t& e, double& xe) noexcept {
    const std::int64_t b = visible_.b;
    if (k == k) {  // a NaN x (a broken promise) has no column to look ahead for
      if (!(k >= ahead_k_ && k < ahead_k_ + kAhead) && !look_ahead(k)) return false;
      const Guess& q = ahead_[static_cast<int>(k - ahead_k_)];
      if (q.g > s && !(std::trunc(map_x(q.before, v_)) > k) && std::trunc(map_x(q.at, v_)) > k) {
        e = q.g;
        xe = q.at;
        return true;
      }
    }
    const std::int64_t g = guess_end(s, xs, k);
    assert(s < g && g <= b);
    std::int64_t lo = s, hi = b;  // lo: in column k (or left of it); hi: right of it, or b
    double c = std::numeric_limits<double>::infinity();  // b stands for "right of k"
    if (g < b && !column_at(g, c)) return false;
    if (g == b || c > k) {  // b is right of k even when k is NaN (a broken promise)
      hi = g;
      for (std::int64_t d = 1; d < hi - lo; d *= 2) {
        if (!column_at(hi - d, c)) return false;
        if (!(c > k)) {
          lo = hi - d;
          break;
        }
        hi -= d;
      }
    } else {
      lo = g;
      for (std::int64_t d = 1; d < hi - lo; d *= 2) {
        if (!column_at(lo + d, c)) return false;
        if (c > k) {
          hi = lo + d;
          break;
        }
        lo += d;
      }
    }
    while (hi - lo > 1) {
      const std::int64_t mid = lo + (hi - lo) / 2;
      if (!column_at(mid, c)) return false;
      (c > k ? hi : lo) = mid;
    }
    assert(s <= lo && lo < hi && hi <= b);
    e = hi;
    return e == b || r_.x_at(e, xe) || stop(M4Status::source_failed);
  }

  // The off-screen run [s, e): its first and last points.
  bool side_run(std::int64_t s, std::int64_t e, double key) noexcept {
    double y;
    if (!close()) return false;
    if (!r_.gather_y(s, 1, &y)) return stop(M4Status::source_failed);
    open(key, {s, std::numeric_limits<double>::quiet_NaN(), y, map_y(y, v_)});
    if (!r_.gather_y(e - 1, 1, &y)) return stop(M4Status::source_failed);
    last_ = {e - 1, std::numeric_limits<double>::quiet_NaN(), y, map_y(y, v_)};
    return true;
  }

  // The points [s, e) of column k: long columns with a monotone y mapping are reduced over raw
  // y, in stretches of kSpan when read in place, else block by block; other columns are mapped
  // point by point.
  bool column(std::int64_t s, std::int64_t e, double k) noexcept {
    mapped_ = !(raw_y_ && e - s >= kRawColumn);
    std::int64_t by_blocks = s;  // the stretch before it holds a NaN y: it goes block by block
    for (std::int64_t from = s; from < e;) {
      if (!mapped_ && from >= by_blocks) {
        const auto m = static_cast<std::int32_t>(e - from < kSpan ? e - from : kSpan);
        if (const double* y = y_in_place(from)) {
          if (!tick(m)) return false;
          y_ = y;
          double mn, mx;
          // Prefetched into the next column too.
          const std::int64_t left = visible_.b - from, most = m + kPrefetchChunks * kChunk;
          const auto readable = static_cast<std::int32_t>(left < most ? left : most);
          if (chunk_extremes(y_, m, readable, chunk_lo_, chunk_hi_, mn, mx)) {
            if (!extend(from, 0, m, k, mn, mx, true)) return false;
            from += m;
            continue;
          }
          by_blocks = from + m;
        }
      }
      const auto m = static_cast<std::int32_t>(e - from < kBlock ? e - from : kBlock);
      if (!tick(m)) return false;
      if (!read_y(from, m)) return stop(M4Status::source_failed);
      double mn, mx;
      if (!mapped_ && extremes(y_, m, mn, mx)) {  // no NaN: one segment
        if (!extend(from, 0, m, k, mn, mx)) return false;
      } else {
        for (std::int32_t t = 0; t < m; ++t) {
          if (mapped_) py_[t] = map_y(y_[t], v_);
          const double q = mapped_ ? py_[t] : y_[t];
          key_[t] = q == q ? k : q;  // a NaN py (from a NaN y, when raw) is kept alone
        }
        if (!feed(from, 0, m)) return false;
      }
      from += m;
    }
    return true;
  }

  // The offset of the earliest of the m values y whose py equals that of their extreme E (the
  // other extreme O) when that py lies strictly beyond the run's extreme `side`, else -1. With
  // chunks, only the first chunk that reaches so far is searched.
  std::int32_t raw_side(const Pick& side, const double* y, std::int32_t m, double E, double O,
                        bool e_is_max, bool smaller, bool chunks) const noexcept {
    if (e_is_max ? !(E > side.y) : !(E < side.y)) return -1;  // maps no further: a tie at best
    const double P = map_y(E, v_);
    if (smaller ? !(P < side.py) : !(P > side.py)) return -1;  // a tie keeps the earlier point
    const double t = tie_bound(E, O, P);
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double lo = e_is_max ? t : -inf, hi = e_is_max ? inf : t;
    std::int32_t from = 0;
    if (chunks) {
      const double* reach = e_is_max ? chunk_hi_ : chunk_lo_;
      for (std::int32_t j = 0; from < m && !(reach[j] >= lo && reach[j] <= hi); ++j) from += kChunk;
      if (from >= m) return -1;
      m = m - from < kChunk ? m - from : kChunk;
    }
    const std::int32_t u = first_inside(y + from, m, lo, hi);
    // Always found, unless data read in place changed under the scan.
    return u < m ? from + u : -1;
  }

  // Of the values from O to E (both in the block), the one nearest O whose py equals P = py(E):
  // by monotony these are the values from it to E. Gallops from E, then bisects, in the total
  // order of doubles.
  double tie_bound(double E, double O, double P) const noexcept {
    if (map_y(O, v_) == P) return O;
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
    std::uint64_t good = 0, bad = span;  // map_y equals P at good, differs at bad
    for (std::uint64_t d = 1; d < bad; d *= 2) {
      if (map_y(at(d), v_) != P) {
        bad = d;
        break;
      }
      good = d;
      if (d > span / 2) break;
    }
    while (bad - good > 1) {
      assert(good < bad);
      const std::uint64_t mid = good + (bad - good) / 2;
      (map_y(at(mid), v_) == P ? good : bad) = mid;
    }
    return at(good);
  }

  Reader& r_;
  Sink& sink_;
  const M4View v_;
  double* const sx_;  // scratch for x and y when the block cannot be read in place
  double* const sy_;
  const double* x_ = nullptr;  // the block's x and y
  const double* y_ = nullptr;
  double* const py_;
  double* const key_;
  const double lo_, hi_;  // c(pl) and c(pl + pw)
  // raw_y_: py is a monotone function of y, NaN only for a NaN y; falls_: decreasing.
  const bool raw_y_, falls_;
  // cells_: the general scan may go by cells (see by_cells), whose key and x interval follow.
  const bool cells_;
  double cell_key_ = 0;
  double cell_lo_ = std::numeric_limits<double>::quiet_NaN(), cell_hi_ = cell_lo_;
  int cooldown_ = 0;  // blocks left before cells are tried again
  double chunk_lo_[kSpan / kChunk], chunk_hi_[kSpan / kChunk];  // see chunk_extremes
  static constexpr int kPending = 32;
  Pick pending_[kPending];  // see emit()
  int n_pending_ = 0;
  // The sorted scan's visible points [a, b), the x of the first and the last, and the column
  // ends guessed ahead for the columns from ahead_k_ on.
  struct Visible {
    std::int64_t a, b;
    double x_first, x_last;
  } visible_{};
  static constexpr int kAhead = 16;
  struct Guess {
    std::int64_t g;     // the guessed end, in (a, b]
    double before, at;  // x at g - 1 and at g (+inf for b)
  } ahead_[kAhead];
  double ahead_k_ = std::numeric_limits<double>::quiet_NaN();
  // lazy_x_: x_ is not read, picks read x when emitted; mapped_: py_ holds the block's py.
  bool lazy_x_ = false, mapped_ = true;
  std::int64_t work_ = 0;
  M4Status status_ = M4Status::ok;
  // The open run: its key and its first, lowest-py, highest-py and last points.
  bool open_ = false;
  double run_key_ = 0;
  Pick first_{}, low_{}, high_{}, last_{};
};

}  // namespace m4

template <class Reader, class Sink>
M4Status m4_to_screen(Reader& reader, std::int64_t n, const M4View& view, bool x_sorted,
                      Sink& sink) noexcept {
  if (n <= 0) return M4Status::ok;
  double* scratch = static_cast<double*>(std::malloc(4 * m4::kBlock * sizeof(double)));
  if (scratch == nullptr) return M4Status::no_memory;
  m4::Scan<Reader, Sink> scan(reader, sink, view, scratch);
  const M4Status s = x_sorted && scan.can_bisect(view) ? scan.sorted(n) : scan.general(n);
  std::free(scratch);
  return s;
}

}  // namespace skyloom
