// Times the per-column extremes core alone on 10^7 points of a random walk (x = 0, 1, 2, ...,
// 322 columns, linear axes) against the floors of reading the buffers, in ns per point. Built
// with -DSKYLOOM_CPP_BENCH=ON (target m4_bench); not part of the default build.
#include <sys/mman.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "screen/m4.h"
#include "source/blocks.h"
#include "source/strided.h"

namespace {

// Buffers read as the module's buffer glue reads contiguous float64 arrays: in place, through the
// kernels' buffer source, never asked to stop.
struct NoPoll {
  bool operator()(std::int64_t) const noexcept { return true; }
};
using Source = skyloom::BufferSource<NoPoll>;

volatile std::uint64_t g_sink;

// The cheapest complete read of the m values, as bench/floor's read_buffers does it: their bits
// folded with XOR in four lanes (a floating-point sum would be bound by its adds).
std::uint64_t fold(const double* v, std::int64_t m) {
  std::uint64_t lanes[4] = {};
  const std::int64_t whole = m - m % 4;
  for (std::int64_t i = 0; i < whole; i += 4) {
    for (int l = 0; l < 4; ++l) {
      std::uint64_t b;
      std::memcpy(&b, v + i + l, sizeof b);
      lanes[l] ^= b;
    }
  }
  for (std::int64_t i = whole; i < m; ++i) {
    std::uint64_t b;
    std::memcpy(&b, v + i, sizeof b);
    lanes[0] ^= b;
  }
  return lanes[0] ^ lanes[1] ^ lanes[2] ^ lanes[3];
}

// n doubles on huge pages where the system gives them on request, as numpy asks for its large
// arrays: on 4 KiB pages the scan's reads away from the stream it is on cost far more.
struct Doubles {
  explicit Doubles(std::int64_t n) {
    const std::size_t bytes =
        (static_cast<std::size_t>(n) * sizeof(double) + kHuge - 1) / kHuge * kHuge;
    p = static_cast<double*>(std::aligned_alloc(kHuge, bytes));
    if (p == nullptr) std::abort();
#ifdef MADV_HUGEPAGE
    madvise(p, bytes, MADV_HUGEPAGE);
#endif
  }
  Doubles(const Doubles&) = delete;
  Doubles& operator=(const Doubles&) = delete;
  ~Doubles() {
    std::free(p);
  }
  static constexpr std::size_t kHuge = 2 << 20;
  double* p;
};

template <class F>
double best_ns(F f, std::int64_t n) {
  double best = 1e300;
  for (int r = 0; r < 7; ++r) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    const auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double, std::nano>(t1 - t0).count());
  }
  return best / n;
}

}  // namespace

int main() {
  const std::int64_t n = 10000000;
  Doubles xs(n), ys(n);
  double *x = xs.p, *y = ys.p;
  std::mt19937_64 rng(1);
  std::normal_distribution<double> g;
  double w = 0;
  for (std::int64_t i = 0; i < n; ++i) {
    x[i] = static_cast<double>(i);
    y[i] = w += g(rng);
  }
  const auto [lo, hi] = std::minmax_element(y, y + n);
  const skyloom::Mapping whole{{0, static_cast<double>(n), *lo, *hi - *lo, 0, 400, 322, 400}, 0, 0};
  skyloom::Mapping zoom = whole;
  zoom.w.x0 = 0.4 * n;
  zoom.w.dx = 0.01 * n;
  const skyloom::Strided sx{reinterpret_cast<const char*>(x), sizeof(double),
                            skyloom::ElementType::F64};
  const skyloom::Strided sy{reinterpret_cast<const char*>(y), sizeof(double),
                            skyloom::ElementType::F64};
  std::int64_t kept = 0;
  auto run = [&](const skyloom::Mapping& v, bool sorted) {
    return [&, v, sorted] {
      Source src(sx, sy, NoPoll{});
      skyloom::PointBuffer out;
      if (skyloom::m4_to_screen(src, static_cast<std::int32_t>(n), v, sorted, out) !=
          skyloom::Stop::kNone) {
        std::abort();
      }
      kept = out.count();
    };
  };
  const double floor_xy = best_ns([&] { g_sink = fold(x, n) ^ fold(y, n); }, n);
  const double floor_y = best_ns([&] { g_sink = fold(y, n); }, n);
  const double general = best_ns(run(whole, false), n);
  const std::int64_t kept_general = kept;
  const double sorted = best_ns(run(whole, true), n);
  const double zoomed = best_ns(run(zoom, true), n);
  std::printf("10^7 points, 322 columns, ns per point (best of 7)\n");
  std::printf("floor, both buffers read once   %6.3f\n", floor_xy);
  std::printf("general rule                    %6.3f  (%.2fx the floor, %lld kept)\n", general,
              general / floor_xy, static_cast<long long>(kept_general));
  std::printf("floor, y read once              %6.3f\n", floor_y);
  std::printf("sorted x, whole view            %6.3f  (%.2fx the floor)\n", sorted,
              sorted / floor_y);
  std::printf("sorted x, zoomed to 1%%          %6.3f  (%.1f%% of the whole view)\n", zoomed,
              100 * zoomed / sorted);
  return 0;
}
