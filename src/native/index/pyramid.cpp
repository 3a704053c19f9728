// Building and updating the bounds pyramid.
#include "index/pyramid.h"

#include <algorithm>
#include <cassert>
#include <limits>
#include <type_traits>

#include "simd.h"

namespace skyloom::index {

// The bounds of a leaf of m > 0 contiguous doubles, box = {x_lo, x_hi, y_lo, y_hi}, and the
// pairs (t, t + 1) in it where x falls; false when an x or y is NaN (box and falls then mean
// nothing). One pass over both buffers: the build reads every point once.
extern const simd::Entry<bool(const double* x, const double* y, std::int32_t m, double* box,
                              std::int32_t& falls)>
    leaf_scan;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
// The most points a pyramid takes: every level's span then fits in 64 bits.
constexpr std::int64_t kMostPoints = std::int64_t{1} << 58;

std::int64_t ceil_div(std::int64_t a, std::int64_t b) noexcept {
  return a / b + (a % b != 0);
}

using v4 = simd::F64x4;
using mask4 = simd::Mask4;

inline void lower(const v4& a, v4& lo) noexcept {
  lo = select(a < lo, a, lo);
}
inline void raise(const v4& a, v4& hi) noexcept {
  hi = select(a > hi, a, hi);
}

}  // namespace

SKYLOOM_CLONES(leaf_scan)
bool leaf_scan_body(const double* x, const double* y, std::int32_t m, double* box,
                    std::int32_t& falls) noexcept {
  assert(m > 0);
  double xl = x[0], xh = x[0], yl = y[0], yh = y[0];
  std::int32_t t = 0, f = 0;
  bool nan = false;
  if (m > 8) {
    // Eight points a step in two sets of lanes, each bound its own chain; the pairs (t + j,
    // t + j + 1) compared as x shifted by one against x, which needs x[t + 8]: t + 8 < m.
    v4 xl0 = v4::load(x), xl1 = v4::load(x + 4), yl0 = v4::load(y), yl1 = v4::load(y + 4);
    v4 xh0 = xl0, xh1 = xl1, yh0 = yl0, yh1 = yl1;
    simd::I64x4 down = 0LL;
    mask4 bad = 0LL;
    for (; t + 8 < m; t += 8) {
      const v4 a = v4::load(x + t), b = v4::load(x + t + 4);
      const v4 c = v4::load(y + t), d = v4::load(y + t + 4);
      lower(a, xl0), lower(b, xl1), raise(a, xh0), raise(b, xh1);
      lower(c, yl0), lower(d, yl1), raise(c, yh0), raise(d, yh1);
      down -= (v4::load(x + t + 1) < a) + (v4::load(x + t + 5) < b);  // a true lane is -1
      bad |= (a != a) | (b != b) | (c != c) | (d != d);
    }
    nan = simd::any(bad);
    lower(xl1, xl0), raise(xh1, xh0), lower(yl1, yl0), raise(yh1, yh0);
    for (int l = 0; l < 4; ++l) {
      xl = xl0[l] < xl ? xl0[l] : xl;
      xh = xh0[l] > xh ? xh0[l] : xh;
      yl = yl0[l] < yl ? yl0[l] : yl;
      yh = yh0[l] > yh ? yh0[l] : yh;
      f += static_cast<std::int32_t>(down[l]);
    }
  }
  for (; t < m; ++t) {
    const double a = x[t], c = y[t];
    nan = nan || a != a || c != c;
    xl = a < xl ? a : xl;
    xh = a > xh ? a : xh;
    yl = c < yl ? c : yl;
    yh = c > yh ? c : yh;
    if (t + 1 < m) f += x[t + 1] < a;
  }
  box[0] = xl, box[1] = xh, box[2] = yl, box[3] = yh;
  falls = f;
  return !nan;
}

Bounds Bounds::empty() noexcept {
  return Bounds{kInf, -kInf, kInf, -kInf, false, false};
}

void Bounds::add(double x, double y) noexcept {
  if (x != x) {
    x_nan = true;
  } else {
    x_lo = x < x_lo ? x : x_lo;
    x_hi = x > x_hi ? x : x_hi;
  }
  if (y != y) {
    y_nan = true;
  } else {
    y_lo = y < y_lo ? y : y_lo;
    y_hi = y > y_hi ? y : y_hi;
  }
}

void Bounds::add(const Bounds& b) noexcept {
  x_lo = b.x_lo < x_lo ? b.x_lo : x_lo;
  x_hi = b.x_hi > x_hi ? b.x_hi : x_hi;
  y_lo = b.y_lo < y_lo ? b.y_lo : y_lo;
  y_hi = b.y_hi > y_hi ? b.y_hi : y_hi;
  x_nan = x_nan || b.x_nan;
  y_nan = y_nan || b.y_nan;
}

Stop Pyramid::build(const Strided& x, const Strided& y, std::int64_t n, std::int64_t capacity,
                    const Interrupt& hook) noexcept {
  assert(0 <= n && n <= capacity);
  if (capacity > kMostPoints) return Stop::kMemory;
  x_ = x;
  y_ = y;
  // Levels up to the first of one node, for the capacity.
  std::int64_t cap_nodes[kMaxLevels];
  std::size_t total = 0;
  levels_ = 0;
  for (std::int64_t m = ceil_div(std::max<std::int64_t>(capacity, 1), kLeaf);;
       m = ceil_div(m, kFan)) {
    cap_nodes[levels_++] = m;
    total += static_cast<std::size_t>(m);
    if (m == 1) break;
  }
  const std::size_t leaves = static_cast<std::size_t>(cap_nodes[0]);
  cap_bytes_ = total * sizeof(Bounds) + leaves * sizeof(std::int32_t);
  if (!block_.allocate(cap_bytes_)) return Stop::kMemory;
  auto* b = reinterpret_cast<Bounds*>(block_.get());
  for (int l = 0; l < levels_; ++l) {
    level_[l] = b;
    b += cap_nodes[l];
  }
  leaf_falls_ = reinterpret_cast<std::int32_t*>(b);
  n_ = 0;
  falls_ = 0;
  std::fill(size_, size_ + kMaxLevels, 0);
  return extend(n, hook);
}

std::int64_t Pyramid::first(Node v) const noexcept {
  return v.k * span(v.level);
}

std::int64_t Pyramid::last(Node v) const noexcept {
  const std::int64_t s = span(v.level);
  return v.k < n_ / s ? (v.k + 1) * s : n_;
}

void Pyramid::leaf(std::int64_t k) noexcept {
  const std::int64_t i0 = k * kLeaf, i1 = std::min(n_, i0 + kLeaf);
  // Four lanes of bounds, point i in lane i % 4: one chain of minima per bound would make the
  // build wait on the comparison's latency at every point. Branch-free: NaN fails every
  // comparison, so it never replaces a bound and is flagged apart.
  constexpr int kLanes = 4;
  double x_lo[kLanes], x_hi[kLanes], y_lo[kLanes], y_hi[kLanes];
  for (int j = 0; j < kLanes; ++j) x_lo[j] = y_lo[j] = kInf, x_hi[j] = y_hi[j] = -kInf;
  int nan = 0;         // bit 0: an x is NaN, bit 1: a y is
  std::int64_t f = 0;  // pairs (i, i + 1), i in [i0, i1) and i + 1 < n, where x does not ascend
  x_.visit([&](auto ax) {
    y_.visit([&](auto ay) {
      using X = typename decltype(ax)::type;
      using Y = typename decltype(ay)::type;
      const std::ptrdiff_t sx = x_.stride, sy = y_.stride;
      const char* px = x_.address(i0);
      const char* py = y_.address(i0);
      if constexpr (std::is_same_v<X, double> && std::is_same_v<Y, double>) {
        // Contiguous doubles without NaN, the common case: one vector pass. Without NaN a
        // fall is x[t + 1] < x[t].
        if (sx == sizeof(double) && sy == sizeof(double)) {
          double box[4];
          std::int32_t falls;
          const auto m = static_cast<std::int32_t>(i1 - i0);
          if (leaf_scan(reinterpret_cast<const double*>(px), reinterpret_cast<const double*>(py), m,
                        box, falls)) {
            x_lo[0] = box[0], x_hi[0] = box[1], y_lo[0] = box[2], y_hi[0] = box[3];
            f = falls;
            if (i1 < n_) f += !(load<X>(px + (m - 1) * sx) <= load<X>(x_.address(i1)));
            return;
          }
        }
      }
      double prev = load<X>(px);
      auto add = [&](int j, double xv, double yv) {
        f += !(prev <= xv);
        prev = xv;
        nan |= (xv != xv) | (yv != yv) << 1;
        x_lo[j] = xv < x_lo[j] ? xv : x_lo[j];
        x_hi[j] = xv > x_hi[j] ? xv : x_hi[j];
        y_lo[j] = yv < y_lo[j] ? yv : y_lo[j];
        y_hi[j] = yv > y_hi[j] ? yv : y_hi[j];
      };
      std::int64_t i = i0;
      for (; i + kLanes <= i1; i += kLanes, px += kLanes * sx, py += kLanes * sy) {
        for (int j = 0; j < kLanes; ++j) add(j, load<X>(px + j * sx), load<Y>(py + j * sy));
      }
      for (int j = 0; i < i1; ++i, ++j, px += sx, py += sy) add(j, load<X>(px), load<Y>(py));
      // The first point was compared with itself: only a NaN counted there.
      f -= !(load<X>(x_.address(i0)) <= load<X>(x_.address(i0)));
      if (i1 < n_) f += !(prev <= load<X>(x_.address(i1)));
    });
  });
  Bounds b{x_lo[0], x_hi[0], y_lo[0], y_hi[0], (nan & 1) != 0, (nan & 2) != 0};
  for (int j = 1; j < kLanes; ++j) b.add(Bounds{x_lo[j], x_hi[j], y_lo[j], y_hi[j], false, false});
  level_[0][k] = b;
  falls_ += f - leaf_falls_[k];
  leaf_falls_[k] = static_cast<std::int32_t>(f);
}

Stop Pyramid::update(std::int64_t k0, std::int64_t k1, const Interrupt& hook) noexcept {
  Stop stop = Stop::kNone;
  for (std::int64_t k = k0; k < k1; ++k) {
    if ((k - k0) % kAskEvery == kAskEvery - 1 && hook.stop()) {
      stop = Stop::kInterrupted;
      k1 = k;  // what is done still reaches the levels above
      break;
    }
    leaf(k);
  }
  for (int l = 1; l < levels_; ++l) {
    k0 /= kFan;
    k1 = ceil_div(k1, kFan);
    for (std::int64_t k = k0; k < k1; ++k) {
      Bounds b = Bounds::empty();
      const std::int64_t c1 = std::min(size_[l - 1], (k + 1) * kFan);
      for (std::int64_t c = k * kFan; c < c1; ++c) b.add(level_[l - 1][c]);
      level_[l][k] = b;
    }
  }
  return stop;
}

Stop Pyramid::extend(std::int64_t n, const Interrupt& hook) noexcept {
  assert(n >= n_);
  if (n == n_) return Stop::kNone;
  // The last pair of the old points gains its second point: its leaf is redone.
  const std::int64_t old_n = n_, old_leaves = size_[0];
  const std::int64_t k0 = n_ > 0 ? (n_ - 1) / kLeaf : 0;
  n_ = n;
  for (int l = 0; l < levels_; ++l) size_[l] = ceil_div(n, span(l));
  for (std::int64_t k = old_leaves; k < size_[0]; ++k) leaf_falls_[k] = 0;
  const Stop stop = update(k0, size_[0], hook);
  if (stop != Stop::kNone) {
    // Back to the old points: the leaves past them are left unused, and the one they share
    // with the new points is redone without them.
    for (std::int64_t k = old_leaves; k < size_[0]; ++k) falls_ -= leaf_falls_[k];
    n_ = old_n;
    for (int l = 0; l < levels_; ++l) size_[l] = ceil_div(n_, span(l));
    if (n_ > 0) update(k0, k0 + 1, Interrupt{});
  }
  return stop;
}

Stop Pyramid::refresh(std::int64_t start, std::int64_t stop, const Interrupt& hook) noexcept {
  start = std::max<std::int64_t>(start, 0);
  stop = std::min(stop, n_);
  if (start >= stop) return Stop::kNone;
  // The pair that ends at start changes too.
  const std::int64_t k0 = (start > 0 ? start - 1 : 0) / kLeaf;
  return update(k0, ceil_div(stop, kLeaf), hook);
}

Node Pyramid::whole_at(std::int64_t i, std::int64_t e) const noexcept {
  Node v{-1, 0};
  for (int l = 0; l < levels_ && i % span(l) == 0; ++l) {
    const Node u{l, i / span(l)};
    if (u.k >= size_[l] || last(u) > e) break;
    v = u;
  }
  return v;
}

Node Pyramid::whole_before(std::int64_t s, std::int64_t e) const noexcept {
  Node v{-1, 0};
  for (int l = 0; l < levels_; ++l) {
    // The node holding e - 1 must end at e and start at or after s.
    const Node u{l, (e - 1) / span(l)};
    if (last(u) != e || first(u) < s) break;
    v = u;
  }
  return v;
}

bool Pyramid::may_hold(const Bounds& b, double lo, double hi, bool inside) noexcept {
  if (inside) return b.y_lo <= hi && b.y_hi >= lo;  // false when it has no y but NaN
  // Written as the negation of the point test, so that a NaN bound puts every y outside.
  return b.y_nan || !(lo <= b.y_lo && b.y_hi <= hi);
}

std::int64_t Pyramid::first_in(Node v, double lo, double hi, bool inside) const noexcept {
  if (!may_hold(bounds(v), lo, hi, inside)) return -1;
  if (v.level == 0) {
    for (std::int64_t i = first(v); i < last(v); ++i) {
      const double y = y_.at(i);
      if ((y >= lo && y <= hi) == inside) return i;
    }
    return -1;
  }
  const std::int64_t c1 = std::min(size_[v.level - 1], (v.k + 1) * kFan);
  for (std::int64_t c = v.k * kFan; c < c1; ++c) {
    const std::int64_t i = first_in(Node{v.level - 1, c}, lo, hi, inside);
    if (i >= 0) return i;
  }
  return -1;
}

std::int64_t Pyramid::last_in(Node v, double lo, double hi, bool inside) const noexcept {
  if (!may_hold(bounds(v), lo, hi, inside)) return -1;
  if (v.level == 0) {
    for (std::int64_t i = last(v) - 1; i >= first(v); --i) {
      const double y = y_.at(i);
      if ((y >= lo && y <= hi) == inside) return i;
    }
    return -1;
  }
  const std::int64_t c1 = std::min(size_[v.level - 1], (v.k + 1) * kFan);
  for (std::int64_t c = c1 - 1; c >= v.k * kFan; --c) {
    const std::int64_t i = last_in(Node{v.level - 1, c}, lo, hi, inside);
    if (i >= 0) return i;
  }
  return -1;
}

std::int64_t Pyramid::first_y(std::int64_t s, std::int64_t e, double lo, double hi,
                              bool inside) const noexcept {
  assert(0 <= s && s <= e && e <= n_);
  for (std::int64_t i = s; i < e;) {
    const Node v = whole_at(i, e);
    if (v.level >= 0) {
      const std::int64_t j = first_in(v, lo, hi, inside);
      if (j >= 0) return j;
      i = last(v);
      continue;
    }
    const double y = y_.at(i);
    if ((y >= lo && y <= hi) == inside) return i;
    ++i;
  }
  return e;
}

std::int64_t Pyramid::last_y(std::int64_t s, std::int64_t e, double lo, double hi,
                             bool inside) const noexcept {
  assert(0 <= s && s <= e && e <= n_);
  for (std::int64_t i = e; i > s;) {
    const Node v = whole_before(s, i);
    if (v.level >= 0) {
      const std::int64_t j = last_in(v, lo, hi, inside);
      if (j >= 0) return j;
      i = first(v);
      continue;
    }
    const double y = y_.at(i - 1);
    if ((y >= lo && y <= hi) == inside) return i - 1;
    --i;
  }
  return s - 1;
}

Bounds Pyramid::range(std::int64_t s, std::int64_t e) const noexcept {
  assert(0 <= s && s <= e && e <= n_);
  Bounds b = Bounds::empty();
  for (std::int64_t i = s; i < e;) {
    const Node v = whole_at(i, e);
    if (v.level >= 0) {
      b.add(bounds(v));
      i = last(v);
    } else {
      b.add(x_.at(i), y_.at(i));
      ++i;
    }
  }
  return b;
}

}  // namespace skyloom::index
