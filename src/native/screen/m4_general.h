// The general scan of per-column extremes (the rule is in screen/m4.h): every point read, in
// blocks, each block either mapped point by point or, while x stays within one column's interval
// of x values, cut into runs by comparisons alone and reduced over raw y.
#pragma once

#include <cassert>
#include <cmath>
#include <cstdint>
#include <limits>

#include "mapping/map_linear.h"
#include "screen/m4_runs.h"
#include "screen/search.h"

namespace skyloom::m4 {

// Cell changes a block may make before the rest of it is mapped point by point, and the blocks
// then mapped before cells are tried again.
constexpr int kCellChanges = 16;
constexpr int kCooldown = 64;

template <class Source, class Sink, bool kSnap>
class General : public Runs<Source, Sink, false, kSnap> {
  using Base = Runs<Source, Sink, false, kSnap>;
  using Count = typename Base::Count;
  static constexpr std::int32_t kBlock = Source::kBlock;

 public:
  General(Source& src, Sink& sink, const Mapping& map) noexcept
      : Base(src, sink, map), cells_(this->raw_y_ && map.lx == 0 && rises(map)) {}

  // The points [0, n); false when it stopped (see status()).
  bool run(Count n) noexcept {
    for (Count from = 0; from < n;) {
      // Stretches read in place go by cells in one go while they can.
      if (cells_ && cooldown_ == 0) {
        const std::int32_t m = block_length(kSpan, n - from);
        if (this->src_.in_place(from, m, this->x_, this->y_)) {
          if (!this->tick(m)) return false;
          std::int32_t t = 0;
          if (!by_cells(from, m, t)) return false;
          from += t;
          if (t == m) continue;
        }
      }
      const std::int32_t m = block_length(kBlock, n - from);
      if (!this->tick(m)) return false;
      if (!this->src_.block(from, m, this->x_, this->y_)) {
        return this->stop(Stop::kSource);
      }
      std::int32_t t = 0;  // the points before t are done by cells
      if (cells_ && cooldown_ == 0) {
        if (!by_cells(from, m, t)) return false;
      } else if (cooldown_ > 0) {
        --cooldown_;
      }
      if (t < m && !mapped(from, t, m)) return false;
      from += m;
    }
    return this->close();
  }

 private:
  // The points [t, m) of the block, each mapped.
  bool mapped(Count base, std::int32_t t, std::int32_t m) noexcept {
    const Mapping& map = this->map_;
    const double *x = this->x_, *y = this->y_;
    double *px = this->key_, *py = this->py_;
    if (map.lx == 0 && map.ly == 0) {
      map_linear_split(x + t, y + t, m - t, map.w, px + t, py + t);
    } else {
      for (std::int32_t k = t; k < m; ++k) map.point(x[k], y[k], px[k], py[k]);
    }
    (kSnap ? floor_keys : column_keys)(px + t, py + t, m - t, this->lo_, this->hi_);
    return this->template feed<MappedY>(base, t, m);
  }

  // Cells: with a mapping that rises with x and a monotone one for y, the x values of one run
  // key (a column, or a side) form an interval, found once by bisection. While x stays in the
  // current cell nothing is mapped: runs are cut by two comparisons per point and reduced over
  // raw y, which gives the mapped scan's result bit for bit. Advances t over the block (or a
  // stretch read in place) until a NaN (x, or y on screen) or more cell changes than
  // kCellChanges per kBlock points; the rest is mapped, and after many changes (unsorted x)
  // cells rest for a while.
  bool by_cells(Count base, std::int32_t m, std::int32_t& t) noexcept {
    const double *x = this->x_, *y = this->y_;
    int changes = 0;
    while (t < m) {
      const double xt = x[t];
      if (!(xt >= cell_lo_ && xt <= cell_hi_)) {
        if (xt != xt) return true;
        if (++changes > kCellChanges * (1 + t / kBlock)) {
          cooldown_ = kCooldown;
          return true;
        }
        enter_cell(xt);
      }
      std::int32_t e;
      double mn = 0, mx = 0;
      if (on_screen(cell_key_)) {
        // Ends at a NaN y too, which is then mapped. x is read again: data read in place may
        // be changed meanwhile by another thread (another polyline, but the scan advances).
        e = t + cell_run(x + t, y + t, m - t, cell_lo_, cell_hi_, this->chunk_lo_, this->chunk_hi_,
                         mn, mx);
        if (e == t) return true;
      } else {
        e = t + 1 + first_outside(x + t + 1, m - t - 1, cell_lo_, cell_hi_);
      }
      if (!this->template extend<RawY>(base, t, e, cell_key_, mn, mx, true)) return false;
      t = e;
    }
    return true;
  }

  // Makes the cell of x (not NaN) current: its run key and the interval of x values with it.
  void enter_cell(double x) noexcept {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const double c = Base::cut(this->map_.px(x));
    const double lo = this->lo_, hi = this->hi_;
    // The cell lies between offsets of doubles (see first_in_column): x's own is inside.
    if (c < lo) {
      cell_key_ = kLeft;
      cell_lo_ = -inf;
      cell_hi_ = at(first_in_column(lo) - 1);
    } else if (c > hi) {
      cell_key_ = kRight;
      cell_lo_ = at(first_in_column(hi + 1));
      cell_hi_ = inf;
    } else {
      cell_key_ = c + 0.0;  // as column_keys makes it: no negative zero
      cell_lo_ = at(first_in_column(c));
      cell_hi_ = at(first_in_column(c + 1) - 1);
    }
    assert(cell_lo_ <= x && x <= cell_hi_);
  }

  // Offsets in [1, kTop - 1] number the doubles from -inf to +inf in order; 0 and kTop stand
  // for "below all" and "above all".
  static constexpr std::uint64_t kBottom = 0x800ffffffffffffeull;  // order_key(-inf) - 1
  static constexpr std::uint64_t kTop = 0xffe0000000000003ull;     // offset of +inf, plus one
  static std::uint64_t offset(double x) noexcept {
    return static_cast<std::uint64_t>(order_key(x)) - kBottom;
  }
  static double at(std::uint64_t u) noexcept {
    return from_order_key(static_cast<std::int64_t>(u + kBottom));
  }

  // The offset of the smallest x with c(px) >= col, or kTop when no x has it, searched from the
  // column's edge computed in real arithmetic over the total order of doubles: c(px) rises with
  // x because every operation of the mapping does.
  std::uint64_t first_in_column(double col) const noexcept {
    const LinearView& w = this->map_.w;
    double guess = w.x0 + (col - w.pl) / w.pw * w.dx;
    if (!(guess == guess)) guess = w.x0;
    std::uint64_t no = 0, yes = kTop;
    search::gallop_bisect(no, yes, offset(guess), [&](std::uint64_t u, bool& reaches) {
      reaches = Base::cut(this->map_.px(at(u))) >= col;
      return true;
    });
    return yes;
  }

  // cells_: the scan may go by cells (see by_cells), whose key and x interval follow.
  const bool cells_;
  double cell_key_ = 0;
  double cell_lo_ = std::numeric_limits<double>::quiet_NaN(), cell_hi_ = cell_lo_;
  int cooldown_ = 0;  // blocks left before cells are tried again
};

}  // namespace skyloom::m4
