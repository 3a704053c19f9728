// Checks that the fuzz targets run on each input, and that the C++ tests replay on the kept
// corpus: the numeric cores against plain scalar transcriptions of their rules, bit for bit, and
// against the properties their callers rely on. Each check returns an empty string when every
// property held, else what failed.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "analysis/nearest_core.h"
#include "analysis/polyfit_core.h"
#include "mapping/data_to_screen.h"
#include "screen/m4.h"
#include "mapping/map_linear.h"
#include "screen/simplify.h"

namespace skyloom::fuzz {

// Values read off the fuzzer's bytes; past the end every read gives zero.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) noexcept : p_(data), end_(data + size) {}

  bool empty() const noexcept { return p_ == end_; }

  std::uint8_t byte() noexcept { return p_ < end_ ? *p_++ : 0; }

  double raw() noexcept {
    std::uint64_t bits = 0;
    for (int k = 0; k < 8; ++k) bits |= static_cast<std::uint64_t>(byte()) << (8 * k);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
  }

  // A number as plotting data tends to be: mostly on a coarse grid (so that ties, collinear
  // points and exact tolerances happen), sometimes any bit pattern or a special value.
  double number() noexcept {
    const std::uint8_t mode = byte();
    switch (mode % 8) {
      case 0:
        return raw();
      case 1: {
        static const double special[] = {0.0,    -0.0,   NAN,   INFINITY, -INFINITY, 1e308,
                                         1e-308, 5e-324, 1e6,   -1e6,     0.25,      0.5,
                                         1e15,   -1e15,  1e150, 1e-150};
        return special[byte() % (sizeof special / sizeof special[0])];
      }
      case 2:
      case 3:
        return static_cast<std::int8_t>(byte()) * 0.5;
      default: {
        const auto hi = static_cast<std::int8_t>(byte());
        return (hi * 256 + byte()) / 64.0;
      }
    }
  }

 private:
  const std::uint8_t* p_;
  const std::uint8_t* end_;
};

// Equal as bit patterns, every NaN alike.
inline bool same(double a, double b) noexcept {
  if (std::isnan(a) || std::isnan(b)) return std::isnan(a) && std::isnan(b);
  return std::memcmp(&a, &b, sizeof a) == 0;
}

inline std::string fmt(const char* what, double got, double want) {
  char buf[160];
  std::snprintf(buf, sizeof buf, "%s: got %.17g, want %.17g", what, got, want);
  return buf;
}

// Data to screen -------------------------------------------------------------------------------

namespace plain {

inline double axis(double v, int log_axis) {
  if (log_axis == 0) return v;
  if (v > 0) return std::log10(v);
  return -1e308;
}

inline double pin(double p) {
  if (p > 1e6) return 1e6;
  if (p < -1e6) return -1e6;
  return p;
}

}  // namespace plain

inline std::string check_data_to_screen(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::uint8_t flags = in.byte();
  const int lx = flags & 1 ? static_cast<std::int8_t>(in.byte()) | 1 : 0;
  const int ly = flags & 2 ? static_cast<std::int8_t>(in.byte()) | 1 : 0;
  double w[8];
  for (double& v : w) v = in.number();
  const double x0 = w[0], dx = w[1], y0 = w[2], dy = w[3], pl = w[4], pb = w[5], pw = w[6],
               ph = w[7];
  double last_x = 0, last_px = 0;
  std::vector<double> xs, ys;
  for (int k = 0; !in.empty() && k < 64; ++k) {
    const double x = in.number(), y = in.number();
    double px, py;
    data_to_screen(x, y, x0, dx, y0, dy, pl, pb, pw, ph, lx, ly, px, py);
    const double X = plain::axis(x, lx), Y = plain::axis(y, ly);
    const double qx = (X - x0) / dx;
    const double want_px = plain::pin(qx * pw + pl);
    const double qy = (Y - y0) / dy;
    const double want_py = plain::pin(pb - qy * ph);
    if (!same(px, want_px)) return fmt("px", px, want_px);
    if (!same(py, want_py)) return fmt("py", py, want_py);
    if (!std::isnan(px) && !(px >= -1e6 && px <= 1e6)) return fmt("px out of range", px, 1e6);
    if (!std::isnan(py) && !(py >= -1e6 && py <= 1e6)) return fmt("py out of range", py, 1e6);
    // On an ordinary window a non-positive x on a log axis lands far left.
    if (lx != 0 && !(x > 0) && pl == 0 && x0 == 0 && dx > 0 && dx < 1e6 && pw >= 1 && pw < 1e300 &&
        px != -1e6) {
      return fmt("a non-positive x on a log axis", px, -1e6);
    }
    // Every step is a correctly rounded, monotone operation: a larger x never maps further left
    // on a linear axis with a positive span and width.
    if (k > 0 && lx == 0 && dx > 0 && pw > 0 && x >= last_x && !(px >= last_px) &&
        !std::isnan(px) && !std::isnan(last_px)) {
      return fmt("mapping not monotone", px, last_px);
    }
    last_x = x;
    last_px = px;
    xs.push_back(x);
    ys.push_back(y);
  }
  // The vector form of the linear mapping: every point as data_to_screen maps it, from any
  // starting offset (unaligned) and any count (partial vectors), writing exactly its outputs.
  const LinearView view{x0, dx, y0, dy, pl, pb, pw, ph};
  const auto m = static_cast<std::int32_t>(xs.size());
  for (std::int32_t from = 0; from <= std::min<std::int32_t>(m, 3); ++from) {
    const std::int32_t count = m - from;
    std::vector<double> inter(2 * static_cast<std::size_t>(count));
    std::vector<double> spx(static_cast<std::size_t>(count)), spy(static_cast<std::size_t>(count));
    map_linear_interleaved(xs.data() + from, ys.data() + from, count, view, inter.data());
    map_linear_split(xs.data() + from, ys.data() + from, count, view, spx.data(), spy.data());
    for (std::int32_t k = 0; k < count; ++k) {
      double px, py;
      data_to_screen(xs[from + k], ys[from + k], x0, dx, y0, dy, pl, pb, pw, ph, 0, 0, px, py);
      if (!same(inter[2 * k], px) || !same(spx[k], px)) return fmt("map_linear px", spx[k], px);
      if (!same(inter[2 * k + 1], py) || !same(spy[k], py)) return fmt("map_linear py", spy[k], py);
    }
  }
  return {};
}

// Polyline simplification ---------------------------------------------------------------------

namespace plain {

// Squared distance of point j to the chord s-e as a closed segment, or to point s when the
// chord is (nearly) a point.
inline double chord_d2(const double* px, const double* py, int s, int e, int j) {
  const double ax = px[s], ay = py[s];
  const double cx = px[e] - ax, cy = py[e] - ay;
  const double L = cx * cx + cy * cy;
  if (L < 1e-15) {
    const double ux = px[j] - ax, uy = py[j] - ay;
    return ux * ux + uy * uy;
  }
  double t = ((px[j] - ax) * cx + (py[j] - ay) * cy) / L;
  if (t < 0) {
    t = 0;
  } else if (t > 1) {
    t = 1;
  }
  const double fx = ax + t * cx - px[j], fy = ay + t * cy - py[j];
  return fx * fx + fy * fy;
}

// The subdivision written recursively: the kept set does not depend on the order in which the
// two halves are examined.
inline void subdivide(const double* px, const double* py, int s, int e, double tol2,
                      std::vector<char>& keep) {
  if (e - s <= 1) return;
  double best = -1.0;
  int idx = s + 1;
  for (int j = s + 1; j < e; ++j) {
    const double d2 = chord_d2(px, py, s, e, j);
    if (d2 > best) {
      best = d2;
      idx = j;
    }
  }
  if (!(best > tol2)) return;
  keep[idx] = 1;
  subdivide(px, py, idx, e, tol2, keep);
  subdivide(px, py, s, idx, tol2, keep);
}

// Distance of (x, y) to the segment a-b, in long double.
inline long double segment_distance(double x, double y, double ax, double ay, double bx,
                                    double by) {
  const long double cx = static_cast<long double>(bx) - ax, cy = static_cast<long double>(by) - ay;
  const long double L = cx * cx + cy * cy;
  long double t = 0;
  if (L > 0)
    t = std::clamp(
        ((x - static_cast<long double>(ax)) * cx + (y - static_cast<long double>(ay)) * cy) / L,
        0.0L, 1.0L);
  return std::hypot(static_cast<long double>(ax) + t * cx - x,
                    static_cast<long double>(ay) + t * cy - y);
}

}  // namespace plain

inline double tolerance(Input& in) {
  const std::uint8_t mode = in.byte();
  static const double common[] = {0.25, 0.0, 1.0, -1.0, -2.0, NAN, INFINITY, 1e-300, 4.0, 0.5};
  if (mode % 4 == 0) return in.number();
  return common[in.byte() % (sizeof common / sizeof common[0])];
}

inline std::string check_simplify(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const double tol2 = tolerance(in);
  std::vector<double> px, py;
  while (!in.empty() && px.size() < 400) {
    px.push_back(in.number());
    py.push_back(in.number());
  }
  const auto n = static_cast<std::int32_t>(px.size());

  // Separate outputs, with scratch of exactly the advertised size (so that ASan sees any
  // overrun) and outputs with no room to spare.
  const std::uint64_t ints = simplify_scratch_ints(n);
  std::vector<std::int32_t> scratch(static_cast<std::size_t>(ints));
  std::vector<double> ox(px.size()), oy(py.size());
  const std::int32_t m = simplify_polyline(px.data(), py.data(), n, tol2, ox.data(), oy.data(),
                                           ints ? scratch.data() : nullptr);
  // In place, as the sampled-curve kernel runs it.
  std::vector<double> ix = px, iy = py;
  const std::int32_t mi = simplify_polyline(ix.data(), iy.data(), n, tol2, ix.data(), iy.data(),
                                            ints ? scratch.data() : nullptr);

  if (mi != m) return "in-place count differs";
  if (m < 0 || m > n) return "count out of range";
  if (n <= 2 && m != n) return "fewer than three points not returned whole";
  if (n >= 2 && m < 2) return "end points dropped";
  for (int k = 0; k < m; ++k) {
    if (!same(ix[k], ox[k]) || !same(iy[k], oy[k])) return "in-place points differ";
  }
  if (n == 0) return {};

  std::vector<char> keep(px.size(), 0);
  keep.front() = keep.back() = 1;
  plain::subdivide(px.data(), py.data(), 0, n - 1, tol2, keep);
  std::vector<int> kept;
  for (int k = 0; k < n; ++k) {
    if (keep[k]) kept.push_back(k);
  }
  if (static_cast<int>(kept.size()) != m) return "kept count differs from the recursive rule";
  for (int k = 0; k < m; ++k) {
    if (!same(ox[k], px[kept[k]]) || !same(oy[k], py[kept[k]]))
      return "kept points differ from the recursive rule (or out of order)";
  }

  // Every dropped point lies within the tolerance of the kept segment that replaces it: as the
  // rule measures it, and (for finite input that squares without overflow) geometrically.
  bool tame = tol2 >= 0 && std::isfinite(tol2);
  double scale = 1;
  for (int k = 0; k < n; ++k) {
    tame = tame && std::fabs(px[k]) < 1e150 && std::fabs(py[k]) < 1e150;
    scale = std::max({scale, std::fabs(px[k]), std::fabs(py[k])});
  }
  if (!tame) return {};
  for (std::size_t q = 0; q + 1 < kept.size(); ++q) {
    const int s = kept[q], e = kept[q + 1];
    for (int j = s + 1; j < e; ++j) {
      const double d2 = plain::chord_d2(px.data(), py.data(), s, e, j);
      if (!(d2 <= tol2)) return fmt("dropped point beyond the tolerance", d2, tol2);
      const long double d = plain::segment_distance(px[j], py[j], px[s], py[s], px[e], py[e]);
      if (d > std::sqrt(static_cast<long double>(tol2)) + 1e-9L * scale)
        return fmt("dropped point far from the kept polyline", static_cast<double>(d),
                   std::sqrt(tol2));
    }
  }
  return {};
}

// Polynomial fit -------------------------------------------------------------------------------

namespace plain {

inline void accumulate(int d, double x, double y, double* vtv, double* vty) {
  double row[polyfit::kMaxD];
  row[d - 1] = 1.0;
  for (int c = d - 2; c >= 0; --c) row[c] = x * row[c + 1];
  for (int r = 0; r < d; ++r) {
    for (int c = 0; c < d; ++c) {
      const double p = row[r] * row[c];
      vtv[r * d + c] = p + vtv[r * d + c];
    }
    const double q = y * row[r];
    vty[r] = q + vty[r];
  }
}

inline void solve(int d, double* vtv, double* vty) {
  for (int j = 0; j < d; ++j) {
    int e = j;
    double best = std::fabs(vtv[j * d + j]);
    for (int k = j + 1; k < d; ++k) {
      if (std::fabs(vtv[k * d + j]) > best) {
        e = k;
        best = std::fabs(vtv[k * d + j]);
      }
    }
    if (e != j) {
      for (int c = 0; c < d; ++c) std::swap(vtv[j * d + c], vtv[e * d + c]);
      std::swap(vty[j], vty[e]);
    }
    const double piv = vtv[j * d + j];
    if (piv == 0.0) continue;
    for (int c = 0; c < d; ++c) vtv[j * d + c] = vtv[j * d + c] / piv;
    vty[j] = vty[j] / piv;
    for (int l = 0; l < d; ++l) {
      if (l == j) continue;
      const double f = vtv[l * d + j];
      for (int c = 0; c < d; ++c) {
        const double p = f * vtv[j * d + c];
        vtv[l * d + c] = vtv[l * d + c] - p;
      }
      const double q = f * vty[j];
      vty[l] = vty[l] - q;
    }
  }
}

}  // namespace plain

inline std::string compare(const char* what, const double* got, const double* want, int count) {
  for (int k = 0; k < count; ++k) {
    if (!same(got[k], want[k])) {
      char name[64];
      std::snprintf(name, sizeof name, "%s[%d]", what, k);
      return fmt(name, got[k], want[k]);
    }
  }
  return {};
}

inline std::string check_polyfit(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::uint8_t mode = in.byte();
  const int d = mode % 11;  // 0 only for the solve
  constexpr int D2 = polyfit::kMaxD * polyfit::kMaxD;
  double vtv[D2] = {}, vty[polyfit::kMaxD] = {};
  double want_vtv[D2] = {}, want_vty[polyfit::kMaxD] = {};

  if (mode & 0x80 || d == 0) {
    // Any system at all: pivot ties, NaN, infinities and zero columns.
    for (int k = 0; k < d * d; ++k) vtv[k] = want_vtv[k] = in.number();
    for (int k = 0; k < d; ++k) vty[k] = want_vty[k] = in.number();
  } else {
    // The normal equations of some points, added run by run as the fit converts them; the
    // runs' lengths come from the input too.
    std::vector<double> x, y;
    while (!in.empty() && x.size() < 600) {
      x.push_back(in.number());
      y.push_back(in.number());
    }
    std::size_t i0 = 0, run = 1 + mode % 7 * 40;
    while (i0 < x.size()) {
      const std::size_t m = std::min(run, x.size() - i0);
      polyfit::accumulate(d, x.data() + i0, y.data() + i0, static_cast<int>(m), vtv, vty);
      i0 += m;
      run = run * 3 % 257 + 1;
    }
    for (std::size_t i = 0; i < x.size(); ++i) plain::accumulate(d, x[i], y[i], want_vtv, want_vty);
    std::string r = compare("vtv", vtv, want_vtv, d * d);
    if (r.empty()) r = compare("vty", vty, want_vty, d);
    if (!r.empty()) return "accumulate: " + r;
  }
  for (int j = 0; j < d; ++j) {
    int e = j;
    for (int k = j + 1; k < d; ++k) {
      if (std::fabs(vtv[k * d + j]) > std::fabs(vtv[e * d + j])) e = k;
    }
    // The scan keeps the best value seen; a NaN never replaces nor is replaced: compare with
    // the scan written out only when the column holds no NaN.
    bool nan = false;
    for (int k = j; k < d; ++k) nan = nan || std::isnan(vtv[k * d + j]);
    if (!nan && polyfit::pivot_row(d, vtv, j) != e) return "pivot row";
  }
  polyfit::solve(d, vtv, vty);
  plain::solve(d, want_vtv, want_vty);
  std::string r = compare("coefficient", vty, want_vty, d);
  if (r.empty()) r = compare("eliminated vtv", vtv, want_vtv, d * d);
  return r.empty() ? r : "solve: " + r;
}

// Per-column extremes -------------------------------------------------------------------------

namespace plain {

// The mapped points of a series and their runs: each point 'L', 'R', 'C' (in a column) or 'A'
// (alone), its column cut from px (truncated or floored) and compared with left and right.
struct PlainRuns {
  std::vector<double> px, py, col;
  std::vector<char> kind;
  PlainRuns(const std::vector<double>& xs, const std::vector<double>& ys, const Mapping& v,
            bool snap)
      : px(xs.size()), py(xs.size()), col(xs.size()), kind(xs.size()) {
    const double pl = v.w.pl, pr = v.w.pl + v.w.pw;
    const double left = snap ? std::floor(pl) - 1 : std::trunc(pl);
    const double right = snap ? std::floor(pr) + 1 : std::trunc(pr);
    for (std::size_t i = 0; i < xs.size(); ++i) {
      v.point(xs[i], ys[i], px[i], py[i]);
      const double c = col[i] = snap ? std::floor(px[i]) : std::trunc(px[i]);
      kind[i] = std::isnan(px[i]) ? 'A'
                : c < left        ? 'L'
                : c > right       ? 'R'
                : std::isnan(py[i]) ? 'A'
                                    : 'C';
    }
  }
  // The last point of the run that starts at i.
  std::size_t end(std::size_t i) const {
    std::size_t j = i;
    if (kind[i] == 'A') return j;
    while (j + 1 < kind.size() && kind[j + 1] == kind[i] &&
           (kind[i] != 'C' || col[j + 1] == col[i])) {
      ++j;
    }
    return j;
  }
};

// The rule point by point: map, classify, walk each run, keep its first, lowest, highest and
// last points (off the plot: its first and last), a point with NaN px, or NaN py in a column,
// alone.
inline std::vector<double> m4(const std::vector<double>& xs, const std::vector<double>& ys,
                              const Mapping& v) {
  const PlainRuns r(xs, ys, v, false);
  const std::vector<double>&px = r.px, &py = r.py;
  std::vector<double> out;
  auto keep = [&](std::size_t i) {
    out.push_back(px[i]);
    out.push_back(py[i]);
  };
  for (std::size_t i = 0; i < xs.size();) {
    const std::size_t j = r.end(i);
    std::size_t lo = i, hi = i;
    if (r.kind[i] == 'C') {
      for (std::size_t t = i; t <= j; ++t) {
        if (py[t] < py[lo]) lo = t;
        if (py[t] > py[hi]) hi = t;
      }
    }
    std::size_t picks[4] = {i, std::min(lo, hi), std::max(lo, hi), j};
    for (int q = 0; q < 4; ++q) {
      if (q == 0 || picks[q] != picks[q - 1]) keep(picks[q]);
    }
    i = j + 1;
  }
  return out;
}

// The snapped rule point by point: pixels (floor(px), floor(py)), runs keyed by floor(px) within
// floor(pl) - 1 .. floor(pl + pw) + 1; of each run's path of pixels (repeats merged into steps)
// the first, second, penultimate and last step and, in a column, the earliest inner step in its
// lowest and in its highest row; drawn at pixel centres, repeats of one output pair dropped.
inline std::vector<double> m4_snapped(const std::vector<double>& xs, const std::vector<double>& ys,
                                      const Mapping& v) {
  const PlainRuns r(xs, ys, v, true);
  const std::vector<double>&px = r.px, &py = r.py;
  auto same_pixel = [&](std::size_t i, std::size_t j) {
    return r.col[i] == r.col[j] && std::floor(py[i]) == std::floor(py[j]);
  };
  std::vector<double> out;
  for (std::size_t i = 0; i < xs.size();) {
    const std::size_t j = r.end(i);
    std::vector<std::size_t> steps;
    for (std::size_t t = i; t <= j; ++t) {
      if (t == i || !same_pixel(t, t - 1)) steps.push_back(t);
    }
    std::vector<std::size_t> picks = {steps.front(), steps.back()};
    if (steps.size() > 1) {
      picks.push_back(steps[1]);
      picks.push_back(steps[steps.size() - 2]);
    }
    if (r.kind[i] == 'C') {
      double lo = std::floor(py[i]), hi = lo;
      for (std::size_t t : steps) {
        lo = std::min(lo, std::floor(py[t]));
        hi = std::max(hi, std::floor(py[t]));
      }
      for (const double row : {lo, hi}) {
        for (std::size_t q = 1; q + 1 < steps.size(); ++q) {
          if (std::floor(py[steps[q]]) == row) {
            picks.push_back(steps[q]);
            break;
          }
        }
      }
    }
    std::sort(picks.begin(), picks.end());
    for (std::size_t q = 0; q < picks.size(); ++q) {
      if (q > 0 && picks[q] == picks[q - 1]) continue;
      const double cx = m4::centre(px[picks[q]]), cy = m4::centre(py[picks[q]]);
      const std::size_t m = out.size();
      if (m > 0 && out[m - 2] == cx && out[m - 1] == cy) continue;
      out.push_back(cx);
      out.push_back(cy);
    }
    i = j + 1;
  }
  return out;
}

}  // namespace plain

// A Source (source/blocks.h) over two vectors, B points per block, that records any read
// outside [0, n), and can fail or stop on request: the calls counted are blocks, y blocks and x_at
// (fail_at) and polls (stop_at). With contiguous it hands out blocks in place too, as buffers of
// doubles do (those reads are not counted); with no_scratch its allocate() fails.
template <std::int32_t B = 1024>
struct VectorSource {
  using Count = std::int32_t;
  static constexpr std::int32_t kBlock = B;
  const std::vector<double>& x;
  const std::vector<double>& y;
  bool contiguous = false;
  long fail_at = -1, stop_at = -1;
  long calls = 0, polls = 0, x_read = 0, y_read = 0;
  bool out_of_range = false, no_scratch = false;
  std::vector<double> scratch = {};

  bool allocate(std::int32_t, int extra) {
    scratch.assign(static_cast<std::size_t>(2 + extra) * B, 0.0);
    return !no_scratch;
  }
  double* work(int k) { return scratch.data() + static_cast<std::size_t>(2 + k) * B; }

  bool in_range(std::int64_t from, std::int64_t count, std::int64_t most) {
    const auto n = static_cast<std::int64_t>(x.size());
    if (from < 0 || count < 1 || count > most || from + count > n) {
      out_of_range = true;
      return false;
    }
    return true;
  }
  bool ok(std::int64_t from, std::int64_t count) {
    return in_range(from, count, B) && calls++ != fail_at;
  }
  const double* read(const std::vector<double>& v, std::int32_t from, std::int32_t count,
                     double* out, long& counter) {
    if (contiguous) return v.data() + from;
    std::memcpy(out, v.data() + from, count * sizeof(double));
    counter += count;
    return out;
  }
  bool block(std::int32_t from, std::int32_t count, const double*& ox, const double*& oy) {
    if (!contiguous && !ok(from, count)) return false;
    if (contiguous && !in_range(from, count, B)) return false;
    ox = read(x, from, count, scratch.data(), x_read);
    oy = read(y, from, count, scratch.data() + B, y_read);
    return true;
  }
  bool y_block(std::int32_t from, std::int32_t count, const double*& oy) {
    if (!contiguous && !ok(from, count)) return false;
    if (contiguous && !in_range(from, count, B)) return false;
    oy = read(y, from, count, scratch.data() + B, y_read);
    return true;
  }
  bool in_place(std::int32_t from, std::int32_t count, const double*& ox, const double*& oy) {
    if (!contiguous || !in_range(from, count, INT32_MAX)) return false;
    ox = x.data() + from;
    oy = y.data() + from;
    return true;
  }
  const double* y_in_place(std::int32_t from, std::int32_t count) {
    if (!contiguous || !in_range(from, count, INT32_MAX)) return nullptr;
    return y.data() + from;
  }
  bool x_at(std::int32_t i, double& ox) {
    if (!ok(i, 1)) return false;
    ox = x[i];
    ++x_read;
    return true;
  }
  bool poll() { return polls++ != stop_at; }
};

// A Sink into a vector that refuses points beyond a limit.
struct VectorSink {
  std::vector<double> out;
  std::size_t limit = SIZE_MAX;
  bool push(double px, double py) {
    if (out.size() / 2 >= limit) return false;
    out.push_back(px);
    out.push_back(py);
    return true;
  }
};

// Runs the core (B points per block); an empty string when it returned kNone with the plain
// rule's points.
template <std::int32_t B = 1024>
inline std::string m4_matches(const std::vector<double>& xs, const std::vector<double>& ys,
                              const Mapping& v, bool x_sorted, bool in_place = false,
                              bool snap = false) {
  VectorSource<B> r{xs, ys, in_place};
  VectorSink sink;
  const Stop s = m4_to_screen(r, static_cast<std::int32_t>(xs.size()), v, x_sorted, sink, snap);
  if (r.out_of_range) return "read out of range";
  if (s != Stop::kNone) return "status not ok";
  const std::vector<double> want = snap ? plain::m4_snapped(xs, ys, v) : plain::m4(xs, ys, v);
  if (sink.out.size() != want.size()) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%zu points kept, want %zu", sink.out.size() / 2,
                  want.size() / 2);
    return buf;
  }
  return compare(snap ? (x_sorted ? "snapped sorted point" : "snapped point")
                      : (x_sorted ? "sorted point" : "point"),
                 sink.out.data(), want.data(), static_cast<int>(want.size()));
}

inline std::string check_m4(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  const std::uint8_t mode = in.byte();
  Mapping v{};
  double* f[] = {&v.w.x0, &v.w.dx, &v.w.y0, &v.w.dy, &v.w.pl, &v.w.pb, &v.w.pw, &v.w.ph};
  static const double plain_view[] = {0, 1, 0, 1, 0, 0, 64, 64};
  for (int k = 0; k < 8; ++k) *f[k] = mode & 0x80 ? in.number() : plain_view[k];
  v.lx = mode & 1;
  v.ly = (mode >> 1) & 1;
  std::vector<double> xs, ys;
  while (!in.empty() && xs.size() < 512) {
    xs.push_back(in.number());
    ys.push_back(in.number());
  }
  // Stretched past a block: each point repeated, y nudged, so that long runs cross blocks.
  if (mode & 4) {
    const std::size_t r = 2 + (mode >> 3) % 8 * 300;
    std::vector<double> sx, sy;
    for (std::size_t i = 0; i < xs.size() && sx.size() < 20000; ++i) {
      for (std::size_t k = 0; k < r; ++k) {
        sx.push_back(xs[i]);
        sy.push_back(ys[i] + static_cast<double>((k * 7) % 13) / 8);
      }
    }
    xs.swap(sx);
    ys.swap(sy);
  }
  // Snapped too, read in blocks or in place.
  const bool in_place = mode & 0x40;
  for (const bool snap : {false, true}) {
    std::string r = m4_matches(xs, ys, v, false, snap && in_place, snap);
    if (!r.empty()) return r;
    // A broken promise: unsorted x may give any polyline, but reads stay in range.
    VectorSource<> rd{xs, ys};
    VectorSink sink;
    m4_to_screen(rd, static_cast<std::int32_t>(xs.size()), v, true, sink, snap);
    if (rd.out_of_range) return "unsorted x with x_sorted: read out of range";
  }
  for (double& x : xs) x = std::isnan(x) ? 0.0 : x;
  std::sort(xs.begin(), xs.end());
  std::string r = m4_matches(xs, ys, v, true);
  return r.empty() ? m4_matches(xs, ys, v, true, in_place, true) : r;
}

// Nearest point on a polyline ----------------------------------------------------------------

// A block source over two arrays of n points, B points per block, that records any read outside
// what a scan may ask for.
template <std::int32_t B>
struct ArraySource {
  using Count = std::int32_t;
  static constexpr std::int32_t kBlock = B;
  const double* xs;
  const double* ys;
  std::int32_t n;
  std::vector<double> scratch = std::vector<double>(2 * static_cast<std::size_t>(B));
  bool out_of_range = false;

  double* work(int k) noexcept { return scratch.data() + static_cast<std::size_t>(k) * B; }
  bool block(std::int32_t from, std::int32_t count, const double*& x, const double*& y) noexcept {
    if (from < 0 || count < 1 || count > B || from > n - count) {
      out_of_range = true;
      return false;
    }
    x = xs + from;
    y = ys + from;
    return true;
  }
  bool poll() noexcept { return true; }
};

// Which of the filters' hard cases an input reached, for the corpus test to require.
struct NearestReach {
  bool tiny = false;        // a best distance near 1e-150, where the squared bound switches off
  bool huge = false;        // ... near 1e150
  bool tie = false;         // a later segment exactly as near as the best so far
  bool nan = false;         // a NaN pixel or query coordinate
  bool inf_query = false;   // an infinite query coordinate
  bool degenerate = false;  // sl2 < 1e-10 with at least one finite distance
  bool clamp = false;       // a pixel pinned at +-1e6
  bool far_run = false;     // a new best after 64 or more segments that were no nearer

  // The names of the cases not reached, or "" when all were.
  std::string missing() const {
    const std::pair<bool, const char*> cases[] = {
        {tiny, " tiny"},   {huge, " huge"},           {tie, " tie"},
        {nan, " nan"},     {inf_query, " inf_query"}, {degenerate, " degenerate"},
        {clamp, " clamp"}, {far_run, " far_run"}};
    std::string m;
    for (const auto& [hit, name] : cases) {
      if (!hit) m += name;
    }
    return m;
  }
};

// The scan of the series through the block source (B points per block) against the unfiltered
// visit of each segment in turn, mapped point by point: bd, bxi and byi equal to the bit. Also
// that the filters do their job: with a best distance that they handle (0 or within 1e-150 ...
// 1e150), a segment whose box lies 2 bd + 1 pixels off is skipped by the box alone.
template <std::int32_t B>
std::string nearest_matches(const std::vector<double>& xs, const std::vector<double>& ys,
                            const Mapping& map, double mx, double my, NearestReach* reach) {
  const auto n = static_cast<std::int32_t>(xs.size());
  if (n == 0) return {};
  std::vector<nearest::Vertex> v(xs.size());
  for (std::size_t i = 0; i < xs.size(); ++i) {
    v[i] = {xs[i], ys[i], 0.0, 0.0};
    map.point(xs[i], ys[i], v[i].px, v[i].py);
  }
  ArraySource<B> src{xs.data(), ys.data(), n};
  nearest::Best got;
  if (nearest::scan(src, n, map, mx, my, v[0], got) != Stop::kNone)
    return "scan stopped";
  if (src.out_of_range) return "scan read out of range";

  nearest::Best want;
  NearestReach unused;
  NearestReach& r = reach != nullptr ? *reach : unused;
  r.nan = r.nan || std::isnan(mx) || std::isnan(my);
  r.inf_query = r.inf_query || std::isinf(mx) || std::isinf(my);
  std::int32_t since = 0;  // segments since the best last improved
  for (std::int32_t i = 0; i + 1 < n; ++i) {
    const nearest::Vertex &a = v[i], &b = v[i + 1];
    const double gap = std::max({std::min(a.px, b.px) - mx, mx - std::max(a.px, b.px),
                                 std::min(a.py, b.py) - my, my - std::max(a.py, b.py)});
    const bool handled = want.bd == 0 || (want.bd >= 1e-150 && want.bd <= 1e150);
    if (handled && std::isfinite(mx) && std::isfinite(my) && gap >= 2 * want.bd + 1 &&
        !std::isnan(a.px + a.py + b.px + b.py) && !nearest::beyond(mx, my, a, b, want.bound)) {
      return fmt("a far segment not skipped: its box's distance, the best so far", gap, want.bd);
    }
    const double d = nearest::distance(mx, my, a, b);
    const double sx = b.px - a.px, sy = b.py - a.py;
    r.nan = r.nan || std::isnan(b.px) || std::isnan(b.py) || std::isnan(a.px) || std::isnan(a.py);
    r.clamp = r.clamp || std::fabs(b.px) == 1e6 || std::fabs(b.py) == 1e6;
    r.degenerate = r.degenerate || (sx * sx + sy * sy < 1e-10 && std::isfinite(d));
    r.tie = r.tie || (d == want.bd && std::isfinite(d));
    const double before = want.bd;
    nearest::visit_plain(mx, my, a, b, want);
    r.far_run = r.far_run || (want.bd < before && since >= 64 && std::isfinite(before));
    since = want.bd < before ? 0 : since + 1;
    r.tiny = r.tiny || (want.bd >= 1e-151 && want.bd <= 1e-149);
    r.huge = r.huge || (want.bd >= 1e149 && want.bd <= 1e151);
  }
  if (!same(got.bd, want.bd)) return fmt("bd", got.bd, want.bd);
  if (!same(got.bxi, want.bxi)) return fmt("bxi", got.bxi, want.bxi);
  if (!same(got.byi, want.byi)) return fmt("byi", got.byi, want.byi);
  return {};
}

// A coordinate for the nearest-point check: mostly Input::number(), else the previous value
// again or a few steps off it or off the query (degenerate segments, near-ties, feet rounded
// just outside their box), or a value at the scales where the squared bound switches off.
inline double near_value(Input& in, double prev, double query) {
  const std::uint8_t mode = in.byte();
  switch (mode % 8) {
    case 4:
      return prev;
    case 5: {
      const double step = std::ldexp(static_cast<std::int8_t>(in.byte()), 20 - in.byte() % 80);
      return (mode & 8 ? query : prev) + step;
    }
    case 6: {
      // 1e-150 and 1e150 over the square root of two: distances at the edges, x and y alike.
      static const double scale[] = {1e-150, 1e150,    7.07e-151, 7.07e149, 1e-155,
                                     1e155,  0x1p-500, 1e6,       1.0,      3e-6};
      const double s = scale[in.byte() % (sizeof scale / sizeof scale[0])];
      const auto m = static_cast<std::int8_t>(in.byte());
      return mode & 8 ? s * (1.0 + m * 0x1p-52) : s * m * 0.25;
    }
    case 7:
      return prev + static_cast<std::int8_t>(in.byte()) * 1e-7;
    default:
      return in.number();
  }
}

// The view and cursor of a nearest-point check: log axes by the mode's bits 0 and 1; mostly
// pixels = data (py = 0 - (y - 0) / 1 * -1), so that the bytes place the pixels, with mode & 4
// any numbers.
inline Mapping near_view(Input& in, std::uint8_t mode, double& mx, double& my) noexcept {
  Mapping map{};
  map.lx = mode & 1;
  map.ly = (mode >> 1) & 1;
  map.w = {0, 1, 0, 1, 0, 0, 1, -1};
  if (mode & 4) {
    for (double* w :
         {&map.w.x0, &map.w.dx, &map.w.y0, &map.w.dy, &map.w.pl, &map.w.pb, &map.w.pw, &map.w.ph})
      *w = in.number();
  }
  mx = near_value(in, 0.0, 0.0);
  my = near_value(in, mx, 0.0);
  return map;
}

inline std::string check_nearest(const std::uint8_t* data, std::size_t size, NearestReach* reach) {
  Input in(data, size);
  const std::uint8_t mode = in.byte();
  double mx, my;
  const Mapping map = near_view(in, mode, mx, my);
  std::vector<double> xs, ys;
  double x = mx, y = my;
  while (!in.empty() && xs.size() < 256) {
    x = near_value(in, x, mx);
    y = near_value(in, y, my);
    xs.push_back(x);
    ys.push_back(y);
    // A long run of the second segment back and forth (far, as the fuzzer finds out) before
    // what follows.
    if (mode & 8 && xs.size() == 3) {
      const int run = 32 * (1 + in.byte() % 64);
      for (int k = 0; k < run; ++k) {
        xs.push_back(xs[1 + k % 2]);
        ys.push_back(ys[1 + k % 2]);
      }
    }
  }
  // The series again, mirrored about the query: ties with the segments already seen.
  if (mode & 16) {
    const std::size_t m = xs.size();
    for (std::size_t i = 0; i < m; ++i) {
      xs.push_back(mx + (mx - xs[i]));
      ys.push_back(my - (ys[i] - my));
    }
  }
  return mode & 32 ? nearest_matches<3>(xs, ys, map, mx, my, reach)
                   : nearest_matches<64>(xs, ys, map, mx, my, reach);
}

inline std::string check_nearest(const std::uint8_t* data, std::size_t size) {
  return check_nearest(data, size, nullptr);
}

}  // namespace skyloom::fuzz
