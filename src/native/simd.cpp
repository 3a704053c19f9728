// The CPU check behind the kernels' entry points, and the version the C++ tests ask for.
#include "simd.h"

#if SKYLOOM_HAS_AVX2
#include <cpuid.h>
#endif

namespace skyloom::simd {

namespace detail {

std::atomic<int> g_version{-1};

int choose_version() noexcept {
  const int found = static_cast<int>(cpu_runs_avx2() ? Version::kAvx2 : Version::kBaseline);
  // Every thread finds the same; a version set meanwhile by use_version() is kept.
  int expected = -1;
  g_version.compare_exchange_strong(expected, found, std::memory_order_relaxed);
  return g_version.load(std::memory_order_relaxed);
}

}  // namespace detail

bool cpu_runs_avx2() noexcept {
#if SKYLOOM_HAS_AVX2
  unsigned a, b, c, d;
  if (__get_cpuid(1, &a, &b, &c, &d) == 0) return false;
  constexpr unsigned kOsxsave = 1u << 27, kAvx = 1u << 28;
  if ((c & (kOsxsave | kAvx)) != (kOsxsave | kAvx)) return false;
  // XCR0: bit 1 the XMM state, bit 2 the YMM state (xgetbv needs OSXSAVE, checked above).
  unsigned lo, hi;
  __asm__("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0u));
  (void)hi;
  if ((lo & 6u) != 6u) return false;
  if (__get_cpuid_max(0, nullptr) < 7) return false;
  __cpuid_count(7, 0, a, b, c, d);
  constexpr unsigned kAvx2 = 1u << 5;
  return (b & kAvx2) != 0;
#else
  return false;
#endif
}

Version active_version() noexcept {
  int v = detail::g_version.load(std::memory_order_relaxed);
  if (v < 0) v = detail::choose_version();
  return static_cast<Version>(v);
}

bool use_version(Version v) noexcept {
  if (v == Version::kAvx2 && !(SKYLOOM_HAS_AVX2 && cpu_runs_avx2())) return false;
  detail::g_version.store(static_cast<int>(v), std::memory_order_relaxed);
  return true;
}

}  // namespace skyloom::simd
