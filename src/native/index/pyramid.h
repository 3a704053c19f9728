// A pyramid of per-block bounds over a series in two strided buffers: the smallest and largest x
// and y of every block of kLeaf points (NaN left out and flagged), and of every kFan blocks of
// the level below, up to one node. Queries map a node's bounds to pixels once and so rule out
// everything under it; the whole series is never scanned. Counts are 64-bit. Pure C++.
#pragma once

#include <cstdint>

#include "source/blocks.h"
#include "source/interrupt.h"
#include "source/strided.h"

namespace skyloom::index {

constexpr std::int64_t kLeaf = 256;       // points per leaf block
constexpr int kFan = 16;                  // children per node (a power of 16: see span)
constexpr int kMaxLevels = 16;            // 256 * 16^15 points: far beyond any address space
constexpr std::int64_t kAskEvery = 4096;  // leaves between two questions to the hook

// The bounds of some points: the range of their x and y values other than NaN (lo > hi when
// there are none) and whether any x or y is NaN.
struct Bounds {
  double x_lo, x_hi, y_lo, y_hi;
  bool x_nan, y_nan;

  static Bounds empty() noexcept;
  void add(double x, double y) noexcept;
  void add(const Bounds& b) noexcept;
  bool x_empty() const noexcept { return !(x_lo <= x_hi); }
};

// A node: level 0 holds the leaves, each level above kFan times fewer nodes.
struct Node {
  int level;
  std::int64_t k;
};

class Pyramid {
 public:
  // The bounds of the first n points of x and y, with room for up to capacity points
  // (0 <= n <= capacity). The hook is asked every kAskEvery leaves; a pyramid whose build
  // stopped (kMemory, kInterrupted) must not be used.
  Stop build(const Strided& x, const Strided& y, std::int64_t n, std::int64_t capacity,
             const Interrupt& hook = {}) noexcept;
  // The series grew to n points in place (count() <= n <= capacity): only the last partial leaf,
  // the new leaves and their ancestors change. When the hook stops it, the pyramid is as it was.
  Stop extend(std::int64_t n, const Interrupt& hook = {}) noexcept;
  // The points [start, stop) changed in place: their leaves and ancestors are recomputed. When
  // the hook stops it, the leaves done so far are new and their ancestors hold them, the rest
  // are as they were: the bounds then hold for either state of the points not yet done.
  Stop refresh(std::int64_t start, std::int64_t stop, const Interrupt& hook = {}) noexcept;

  std::int64_t count() const noexcept { return n_; }
  int levels() const noexcept { return levels_; }
  // Nodes on a level, and the points [first, last) that node k of it covers.
  std::int64_t nodes(int level) const noexcept { return size_[level]; }
  std::int64_t first(Node v) const noexcept;
  std::int64_t last(Node v) const noexcept;
  const Bounds& bounds(Node v) const noexcept { return level_[v.level][v.k]; }
  // Whether x ascends (never falls, no NaN) over all the points.
  bool x_ascends() const noexcept {
    return falls_ == 0 && (n_ == 0 || !level_[levels_ - 1][0].x_nan);
  }
  std::int64_t bytes() const noexcept { return static_cast<std::int64_t>(cap_bytes_); }
  // The pairs (i, i + 1) of the points where x does not ascend (NaN counts as not ascending).
  std::int64_t falls() const noexcept { return falls_; }

  // The bounds of the points [s, e): the nodes that cover them whole, and the points of the
  // leaves at either end.
  Bounds range(std::int64_t s, std::int64_t e) const noexcept;
  // The first (last) index in [s, e) whose y lies in [lo, hi], or whose y lies outside it or is
  // NaN (inside: false); e (s - 1) when there is none. Nodes whose bounds rule that out are
  // skipped whole.
  std::int64_t first_y(std::int64_t s, std::int64_t e, double lo, double hi,
                       bool inside) const noexcept;
  std::int64_t last_y(std::int64_t s, std::int64_t e, double lo, double hi,
                      bool inside) const noexcept;

  const Strided& x() const noexcept { return x_; }
  const Strided& y() const noexcept { return y_; }

 private:
  // Recomputes the leaves [k0, k1), or the first of them up to where the hook stops it, and
  // their ancestors.
  Stop update(std::int64_t k0, std::int64_t k1, const Interrupt& hook) noexcept;
  void leaf(std::int64_t k) noexcept;
  std::int64_t span(int level) const noexcept { return kLeaf << (4 * level); }
  // The highest node that starts at i and ends by e (a whole node, the last one possibly
  // short), or level -1 when i is not at a leaf's start or the leaf runs past e.
  Node whole_at(std::int64_t i, std::int64_t e) const noexcept;
  // The highest node that ends at e and starts at or after s, likewise.
  Node whole_before(std::int64_t s, std::int64_t e) const noexcept;
  // Whether node v may hold a y of the search, and the search within v.
  static bool may_hold(const Bounds& b, double lo, double hi, bool inside) noexcept;
  std::int64_t first_in(Node v, double lo, double hi, bool inside) const noexcept;
  std::int64_t last_in(Node v, double lo, double hi, bool inside) const noexcept;

  Strided x_{}, y_{};
  std::int64_t n_ = 0;
  int levels_ = 0;
  std::int64_t size_[kMaxLevels] = {};
  Bounds* level_[kMaxLevels] = {};
  // Of the pairs (i, i + 1) that start in each leaf, those where x does not ascend.
  std::int32_t* leaf_falls_ = nullptr;
  std::int64_t falls_ = 0;  // their sum
  HeapBlock block_;
  std::size_t cap_bytes_ = 0;
};

}  // namespace skyloom::index
