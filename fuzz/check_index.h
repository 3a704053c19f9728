// The series index's check, for its fuzz target and the corpus replay: bounds pyramids built,
// grown and refreshed from the fuzzer's series must hold exactly the bounds of the points under
// each node, and the nearest point found through them must be the full scan's, bit for bit, for
// any view the bytes give (log axes, clamped pixels, spans that are zero, NaN or infinite).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "checks.h"
#include "index/nearest_index.h"

namespace skyloom::fuzz {

namespace index_check {

using index::Bounds;
using index::Node;
using index::Pyramid;

inline Strided strided(const std::vector<double>& v) noexcept {
  return Strided{reinterpret_cast<const char*>(v.data()), sizeof(double), ElementType::F64};
}

// Equal bounds, -0 and +0 alike: which zero a bound keeps depends on the order the leaf pass
// meets them in (it keeps four lanes), and no query can tell them apart.
inline bool same_bounds(const Bounds& a, const Bounds& b) noexcept {
  return a.x_lo == b.x_lo && a.x_hi == b.x_hi && a.y_lo == b.y_lo && a.y_hi == b.y_hi &&
         a.x_nan == b.x_nan && a.y_nan == b.y_nan;
}

inline Bounds linear(const std::vector<double>& xs, const std::vector<double>& ys, std::int64_t s,
                     std::int64_t e) noexcept {
  Bounds b = Bounds::empty();
  for (std::int64_t i = s; i < e; ++i) b.add(xs[i], ys[i]);
  return b;
}

// Every node holds exactly the bounds of its points, and x_ascends is the plain check's answer.
inline std::string check_nodes(const Pyramid& p, const std::vector<double>& xs,
                               const std::vector<double>& ys) {
  for (int l = 0; l < p.levels(); ++l) {
    for (std::int64_t k = 0; k < p.nodes(l); ++k) {
      const Node v{l, k};
      if (!same_bounds(p.bounds(v), linear(xs, ys, p.first(v), p.last(v))))
        return "node bounds at level " + std::to_string(l) + " node " + std::to_string(k);
    }
  }
  bool ascends = true;
  for (std::int64_t i = 0; i < p.count(); ++i) {
    ascends = ascends && xs[i] == xs[i];
    if (i > 0) ascends = ascends && xs[i - 1] <= xs[i];
  }
  return ascends == p.x_ascends() ? std::string() : "x_ascends";
}

inline std::string nearest_matches(const Pyramid& p, const std::vector<double>& xs,
                                   const std::vector<double>& ys, const Mapping& map, double mx,
                                   double my) {
  const auto n = static_cast<std::int32_t>(p.count());
  if (n == 0) return {};
  BufferSource src(strided(xs), strided(ys), [](std::int64_t) { return true; });
  if (!src.allocate(n, 2)) return "scan allocation";
  nearest::Hit want{}, got{};
  bool first_failed = false;
  if (nearest::find(src, n, map, mx, my, want, first_failed) != Stop::kNone) return "scan stopped";
  index::NearestQuery q(p, map, mx, my);
  if (q.run(got) != Stop::kNone) return "query stopped";
  if (!same(got.x, want.x)) return fmt("nearest x", got.x, want.x);
  if (!same(got.y, want.y)) return fmt("nearest y", got.y, want.y);
  if (!same(got.d, want.d)) return fmt("nearest d", got.d, want.d);
  return {};
}

// The first and last y inside or outside an interval, and a range's bounds, against a loop.
inline std::string searches_match(const Pyramid& p, const std::vector<double>& xs,
                                  const std::vector<double>& ys, std::int64_t s, std::int64_t e,
                                  double lo, double hi) {
  std::int64_t first[2] = {e, e}, last[2] = {s - 1, s - 1};
  for (std::int64_t i = s; i < e; ++i) {
    const bool in = ys[i] >= lo && ys[i] <= hi;
    if (first[in] == e) first[in] = i;
    last[in] = i;
  }
  for (int inside = 0; inside < 2; ++inside) {
    const std::int64_t got_first = p.first_y(s, e, lo, hi, inside);
    const std::int64_t got_last = p.last_y(s, e, lo, hi, inside);
    if (got_first != first[inside] || got_last != last[inside]) {
      char buf[200];
      std::snprintf(buf, sizeof buf,
                    "first/last y %s [%.17g, %.17g] in [%lld, %lld): %lld %lld, want %lld %lld",
                    inside ? "inside" : "outside", lo, hi, static_cast<long long>(s),
                    static_cast<long long>(e), static_cast<long long>(got_first),
                    static_cast<long long>(got_last), static_cast<long long>(first[inside]),
                    static_cast<long long>(last[inside]));
      return buf;
    }
  }
  return same_bounds(p.range(s, e), linear(xs, ys, s, e)) ? std::string() : "range";
}

// Runs between the points the bytes give, so that a few bytes span several leaves and levels
// (kLeaf * kFan = 4096 points make a second level); with mode & 8, x counts up. Returns the
// last y the bytes gave.
inline double runs(Input& in, std::uint8_t mode, double mx, double my, std::vector<double>& xs,
                   std::vector<double>& ys) {
  double x = mx, y = my;
  while (!in.empty() && xs.size() < 9000) {
    const double nx = near_value(in, x, mx), ny = near_value(in, y, my);
    const int run = 1 + in.byte() % 128 * (mode & 16 ? 8 : 1);
    for (int k = 1; k <= run; ++k) {
      const double t = static_cast<double>(k) / run;
      xs.push_back(mode & 8 ? static_cast<double>(xs.size()) : x + (nx - x) * t);
      ys.push_back(y + (ny - y) * t);
    }
    x = nx, y = ny;
  }
  return y;
}

}  // namespace index_check

inline std::string check_index(const std::uint8_t* data, std::size_t size) {
  using namespace index_check;
  Input in(data, size);
  const std::uint8_t mode = in.byte();
  double mx, my;
  const Mapping map = near_view(in, mode, mx, my);
  std::vector<double> xs, ys;
  const double y = runs(in, mode, mx, my, xs, ys);
  const auto n = static_cast<std::int64_t>(xs.size());
  // Built on a prefix, then grown to all points, it must equal the pyramid built at once.
  const std::int64_t n0 = n == 0 ? 0 : static_cast<std::int64_t>(data[0]) * n / 256;
  Pyramid p;
  if (p.build(strided(xs), strided(ys), n0, n) != Stop::kNone) return "build stopped";
  if (p.extend(n) != Stop::kNone) return "extend stopped";
  std::string failed = check_nodes(p, xs, ys);
  if (failed.empty()) failed = nearest_matches(p, xs, ys, map, mx, my);
  if (!failed.empty() || n == 0) return failed;
  // Points in a range change in place (the bytes' end reused as values): refreshed, the same.
  const std::int64_t a = static_cast<std::int64_t>(data[size - 1]) * n / 256;
  const std::int64_t b = std::min(n, a + 1 + static_cast<std::int64_t>(data[size / 2]) * 8);
  Input again(data + size / 2, size - size / 2);
  for (std::int64_t i = a; i < b; ++i) ys[i] = near_value(again, ys[i], my);
  if (mode & 32) xs[a] = near_value(again, xs[a], mx);
  if (p.refresh(a, b) != Stop::kNone) return "refresh stopped";
  failed = check_nodes(p, xs, ys);
  if (failed.empty()) failed = nearest_matches(p, xs, ys, map, mx, my);
  if (failed.empty()) failed = searches_match(p, xs, ys, a, b, std::min(y, my), std::max(y, my));
  if (failed.empty()) failed = searches_match(p, xs, ys, 0, n, my, my);
  return failed.empty() ? std::string() : "after refresh: " + failed;
}

}  // namespace skyloom::fuzz
