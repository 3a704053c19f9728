// The series index's check, for its fuzz target and the corpus replay: bounds pyramids built,
// grown and refreshed from the fuzzer's series must hold exactly the bounds of the points under
// each node, and the nearest point and the per-column extremes found through them must be the
// full scans', bit for bit, for any view the bytes give (log axes, clamped pixels, spans that are
// zero, NaN or infinite) and for views a few pixels wide over the whole series (long columns).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "checks.h"
#include "index/m4_index.h"
#include "index/nearest_index.h"
#include "index/y_search.h"

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

// The per-column extremes through the index against the full scan (sorted when x ascends), both
// rules.
inline std::string redraw_matches(const Pyramid& p, const std::vector<double>& xs,
                              const std::vector<double>& ys, const Mapping& map) {
  const auto n = static_cast<std::int32_t>(p.count());
  auto go_on = [](std::int64_t) { return true; };
  for (const bool snap : {false, true}) {
    BufferSource<decltype(go_on)> src(strided(xs), strided(ys), go_on);
    VectorSink want, got;
    if (m4_to_screen(src, n, map, p.x_ascends(), want, snap) != Stop::kNone) return "m4 scan stopped";
    if (index::m4_to_screen(p, map, snap, got, go_on) != Stop::kNone) return "m4 query stopped";
    const char* what = snap ? "snapped m4 point" : "m4 point";
    if (got.out.size() != want.out.size()) {
      return fmt(what, static_cast<double>(got.out.size() / 2),
                 static_cast<double>(want.out.size() / 2));
    }
    const std::string r =
        compare(what, got.out.data(), want.out.data(), static_cast<int>(want.out.size()));
    if (!r.empty()) return r;
  }
  return {};
}

// A view of all the points over a plot w pixels wide, its y span that of the finite y.
inline Mapping whole_view(const std::vector<double>& xs, const std::vector<double>& ys, double w) {
  double y_lo = 0, y_hi = 1;
  for (double y : ys) {
    if (std::isfinite(y)) y_lo = std::min(y_lo, y), y_hi = std::max(y_hi, y);
  }
  const double x0 = xs.empty() ? 0 : xs.front(), dx = xs.empty() ? 1 : xs.back() - xs.front();
  Mapping map{};
  map.w = {x0, dx > 0 ? dx : 1, y_lo, y_hi - y_lo, 0.5, 200, w, 180};
  return map;
}

// The first and last y inside or outside an interval, and a range's bounds, against a loop:
// the pyramid's searches and the top-down ones of the redraw.
inline std::string searches_match(const Pyramid& p, const std::vector<double>& xs,
                                  const std::vector<double>& ys, std::int64_t s, std::int64_t e,
                                  double lo, double hi) {
  std::int64_t first[2] = {e, e}, last[2] = {s - 1, s - 1};
  for (std::int64_t i = s; i < e; ++i) {
    const bool in = ys[i] >= lo && ys[i] <= hi;
    if (first[in] == e) first[in] = i;
    last[in] = i;
  }
  const index::YSearch ys_search(p);
  for (int inside = 0; inside < 4; ++inside) {
    const bool in = inside & 1, top_down = inside & 2;
    const std::int64_t got_first =
        top_down ? ys_search.first(s, e, lo, hi, in) : p.first_y(s, e, lo, hi, in);
    const std::int64_t got_last =
        top_down ? ys_search.last(s, e, lo, hi, in) : p.last_y(s, e, lo, hi, in);
    if (got_first != first[in] || got_last != last[in]) {
      char buf[200];
      std::snprintf(buf, sizeof buf,
                    "first/last y %s [%.17g, %.17g] in [%lld, %lld): %lld %lld, want %lld %lld",
                    in ? "inside" : "outside", lo, hi, static_cast<long long>(s),
                    static_cast<long long>(e), static_cast<long long>(got_first),
                    static_cast<long long>(got_last), static_cast<long long>(first[in]),
                    static_cast<long long>(last[in]));
      return buf;
    }
  }
  const Bounds want = linear(xs, ys, s, e);
  if (!same_bounds(p.range(s, e), want)) return "range";
  const index::YSearch::Range r = ys_search.range(s, e);
  // By value: of -0.0 and 0.0 either is the smallest, and both map alike.
  const bool same_y = r.nan == want.y_nan && (want.y_lo > want.y_hi
                                                  ? r.lo > r.hi
                                                  : r.lo == want.y_lo && r.hi == want.y_hi);
  return same_y ? std::string() : "top-down y range";
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
  // Narrow plots make columns of hundreds to thousands of points.
  const Mapping narrow = whole_view(xs, ys, 1 + mode % 4 * 5);
  std::string failed = check_nodes(p, xs, ys);
  if (failed.empty()) failed = nearest_matches(p, xs, ys, map, mx, my);
  if (failed.empty()) failed = redraw_matches(p, xs, ys, map);
  if (failed.empty()) failed = redraw_matches(p, xs, ys, narrow);
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
  if (failed.empty()) failed = redraw_matches(p, xs, ys, narrow);
  if (failed.empty()) failed = searches_match(p, xs, ys, a, b, std::min(y, my), std::max(y, my));
  if (failed.empty()) failed = searches_match(p, xs, ys, 0, n, my, my);
  return failed.empty() ? std::string() : "after refresh: " + failed;
}

}  // namespace skyloom::fuzz
