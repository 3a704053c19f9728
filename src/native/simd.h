// Small fixed-width vectors of doubles and 64-bit lane masks for the numeric cores, their
// baseline and AVX2 versions with the entry points that choose between them, the unroll pragma
// and the prefetch hint: the cores' one use of GCC and clang extensions. With SKYLOOM_SIMD=0, or on
// a compiler without vector extensions, the same types and operations are plain arrays and loops.
// Every operation is the scalar IEEE operation lane by lane, so both forms give the same bits.
//
// Masks hold -1 (all bits) in a true lane and 0 in a false one, whichever form is built.
// Everything here is forced inline. Functions outside this header that are not inlined take and
// give vectors by reference: in a function built for AVX a 32-byte vector goes by value in a
// register, in its baseline twin through memory.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#ifndef SKYLOOM_SIMD
#define SKYLOOM_SIMD 1
#endif

#if SKYLOOM_SIMD && (defined(__GNUC__) || defined(__clang__))
#define SKYLOOM_VECTORS 1
#define SKYLOOM_INLINE inline __attribute__((always_inline))
#else
#define SKYLOOM_VECTORS 0
#define SKYLOOM_INLINE inline
#endif

// Versions: a kernel marked SKYLOOM_CLONES(entry) is compiled twice from one body, for the
// baseline and, on x86-64, for AVX2 (`target` attributes: GCC and clang, zig's included); the
// entry calls one of them through a table of two pointers, the one chosen on first use (AVX2
// where cpuid says the CPU has it and xgetbv says the OS saves the YMM registers). No ifunc and
// no compiler runtime are needed. The entry is declared where callers see it:
//
//   extern const simd::Entry<void(double* px, std::int32_t m)> scale;  // in the header
//   SKYLOOM_CLONES(scale) void scale_body(double* px, std::int32_t m) noexcept { ... }
//
// The body is forced inline into each version, and inline helpers it calls are built into each
// with it. Where the two versions need different bodies, SKYLOOM_VERSIONS(entry) stands before
// the definitions of entry_baseline and entry_avx2.
#if SKYLOOM_VECTORS && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define SKYLOOM_HAS_AVX2 1
#define SKYLOOM_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define SKYLOOM_HAS_AVX2 0
#define SKYLOOM_TARGET_AVX2
#endif

// A body's declaration (defined next), and the entry's definition from two bodies.
#define SKYLOOM_BODY(entry, body) \
  static SKYLOOM_INLINE ::skyloom::simd::BodyOf<decltype(entry)> body
#define SKYLOOM_ENTRY(entry, b, a)                                          \
  const decltype(entry) entry(&::skyloom::simd::Versions<&b, &a>::baseline, \
                              &::skyloom::simd::Versions<&b, &a>::avx2)
#define SKYLOOM_CLONES(entry)        \
  SKYLOOM_BODY(entry, entry##_body); \
  SKYLOOM_ENTRY(entry, entry##_body, entry##_body);
#define SKYLOOM_VERSIONS(entry)          \
  SKYLOOM_BODY(entry, entry##_baseline); \
  SKYLOOM_BODY(entry, entry##_avx2);     \
  SKYLOOM_ENTRY(entry, entry##_baseline, entry##_avx2);

// Unrolls the next loop fully when its trip count is a constant up to 16.
#if defined(__GNUC__) || defined(__clang__)
#define SKYLOOM_UNROLL _Pragma("GCC unroll 16")
#else
#define SKYLOOM_UNROLL
#endif

namespace skyloom::simd {

// Asks for the cache line holding the byte `offset` bytes past p: a hint, which never faults,
// so the address may lie past the end of the data (it is computed as an integer for that
// reason). A loop whose work per item is a dependent chain cannot run far enough ahead of its
// loads to keep memory busy; one hint per line, well ahead, does that for it.
inline void prefetch(const void* p, std::size_t offset) noexcept {
#if defined(__GNUC__) || defined(__clang__)
  __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(p) + offset));
#else
  (void)p;
  (void)offset;
#endif
}

// The versions of the marked kernels, in the order of an entry's table.
enum class Version : int { kBaseline = 0, kAvx2 = 1 };

// Whether this CPU and its OS run AVX2 code: cpuid's AVX and AVX2 bits, and the XMM and YMM
// state enabled in XCR0 (an OS that does not save the YMM registers would corrupt them).
bool cpu_runs_avx2() noexcept;

// The version that every entry calls, chosen on first use: AVX2 where it is built and runs.
Version active_version() noexcept;

// For the C++ tests, which run once per version: every entry calls `v` from now on. False, and
// nothing changed, when v is not built or this CPU cannot run it. Nothing in the modules calls
// it, and nothing outside a test can reach it (no environment variable picks a version).
bool use_version(Version v) noexcept;

namespace detail {
// -1 until the first call of an entry (or use_version) sets it.
extern std::atomic<int> g_version;
int choose_version() noexcept;
}  // namespace detail

// The entry point of a kernel with signature R(A...): its versions' table, constant-initialised,
// and a call through the chosen one (a load, a predictable branch and an indirect call, as a
// PLT call costs; the kernels are called once per block or run of points).
template <class Sig>
class Entry;

template <class R, class... A>
class Entry<R(A...)> {
 public:
  using Fn = R (*)(A...) noexcept;

  constexpr Entry(Fn baseline, Fn avx2) noexcept : table_{baseline, avx2} {}
  Entry(const Entry&) = delete;
  Entry& operator=(const Entry&) = delete;

  SKYLOOM_INLINE R operator()(A... a) const noexcept {
    int v = detail::g_version.load(std::memory_order_relaxed);
    if (v < 0) v = detail::choose_version();
    return table_[v](a...);
  }

  // The version v itself, whatever is active.
  Fn version(Version v) const noexcept { return table_[static_cast<int>(v)]; }

 private:
  Fn table_[2];
};

template <class E>
struct BodyOfEntry;
template <class R, class... A>
struct BodyOfEntry<const Entry<R(A...)>> {
  using type = R(A...) noexcept;
};
// The function type of an entry's bodies.
template <class E>
using BodyOf = typename BodyOfEntry<E>::type;

// The two versions of an entry: each body forced inline into a function built for its target.
// With no AVX2 build, both are the baseline.
template <auto Baseline, auto Avx2>
struct Versions;
template <class R, class... A, R (*Baseline)(A...) noexcept, R (*Avx2)(A...) noexcept>
struct Versions<Baseline, Avx2> {
  static R baseline(A... a) noexcept { return Baseline(a...); }
#if SKYLOOM_HAS_AVX2
  SKYLOOM_TARGET_AVX2 static R avx2(A... a) noexcept {
    return Avx2(a...);
  }
#else
  static R avx2(A... a) noexcept {
    return Baseline(a...);
  }
#endif
};

// N lanes of T (double or long long), N * sizeof(T) bytes. The operators work lane by lane, a
// scalar operand standing for every lane; comparisons give masks.
template <class T, int N>
struct Vec {
#if SKYLOOM_VECTORS
  typedef T Native __attribute__((vector_size(N * sizeof(T))));
  Native v;
#else
  T v[N];
#endif

  Vec() noexcept = default;

  // Every lane x.
  SKYLOOM_INLINE Vec(T x) noexcept  // implicit: a scalar where a vector is due
      : Vec(x, std::make_index_sequence<N>()) {}

  // Lanes a, b, rest... in order.
  template <class... Ts>
  SKYLOOM_INLINE Vec(T a, T b, Ts... rest) noexcept {
    static_assert(sizeof...(Ts) + 2 == N, "one value per lane");
#if SKYLOOM_VECTORS
    v = Native{a, b, static_cast<T>(rest)...};
#else
    const T lanes[N] = {a, b, static_cast<T>(rest)...};
    for (int l = 0; l < N; ++l) v[l] = lanes[l];
#endif
  }

  SKYLOOM_INLINE T operator[](int l) const noexcept {
    return v[l];
  }

  static SKYLOOM_INLINE Vec load(const T* p) noexcept {
    Vec r;
    std::memcpy(&r.v, p, sizeof r.v);
    return r;
  }

  SKYLOOM_INLINE void store(T* p) const noexcept {
    std::memcpy(p, &v, sizeof v);
  }

#if SKYLOOM_VECTORS
#define SKYLOOM_LANEWISE(R, r, expr) \
  R r;                               \
  r.v = expr;                        \
  return r
#define SKYLOOM_LANE(x) x.v
#else
#define SKYLOOM_LANEWISE(R, r, expr)         \
  R r;                                       \
  for (int l = 0; l < N; ++l) r.v[l] = expr; \
  return r
#define SKYLOOM_LANE(x) x.v[l]
#endif

  // A true lane is -1, as the vector extensions give it.
  using Mask = Vec<long long, N>;
#if SKYLOOM_VECTORS
#define SKYLOOM_TRUTH(cond) (cond)
#else
#define SKYLOOM_TRUTH(cond) (-static_cast<long long>(cond))
#endif

#define SKYLOOM_ARITHMETIC(op)                                                 \
  friend SKYLOOM_INLINE Vec operator op(const Vec& a, const Vec& b) noexcept { \
    SKYLOOM_LANEWISE(Vec, r, SKYLOOM_LANE(a) op SKYLOOM_LANE(b));              \
  }                                                                            \
  friend SKYLOOM_INLINE Vec operator op(const Vec& a, T b) noexcept {          \
    SKYLOOM_LANEWISE(Vec, r, SKYLOOM_LANE(a) op b);                            \
  }                                                                            \
  friend SKYLOOM_INLINE Vec operator op(T a, const Vec& b) noexcept {          \
    SKYLOOM_LANEWISE(Vec, r, a op SKYLOOM_LANE(b));                            \
  }                                                                            \
  SKYLOOM_INLINE Vec& operator op##=(const Vec& b) noexcept {                  \
    return *this = *this op b;                                                 \
  }
  SKYLOOM_ARITHMETIC(+)
  SKYLOOM_ARITHMETIC(-)
  SKYLOOM_ARITHMETIC(*)
  SKYLOOM_ARITHMETIC(/)
  SKYLOOM_ARITHMETIC(&)
  SKYLOOM_ARITHMETIC(|)
#undef SKYLOOM_ARITHMETIC

#define SKYLOOM_COMPARISON(op)                                                    \
  friend SKYLOOM_INLINE Mask operator op(const Vec& a, const Vec& b) noexcept {   \
    SKYLOOM_LANEWISE(Mask, r, SKYLOOM_TRUTH(SKYLOOM_LANE(a) op SKYLOOM_LANE(b))); \
  }                                                                               \
  friend SKYLOOM_INLINE Mask operator op(const Vec& a, T b) noexcept {            \
    SKYLOOM_LANEWISE(Mask, r, SKYLOOM_TRUTH(SKYLOOM_LANE(a) op b));               \
  }
  SKYLOOM_COMPARISON(<)
  SKYLOOM_COMPARISON(<=)
  SKYLOOM_COMPARISON(>)
  SKYLOOM_COMPARISON(>=)
  SKYLOOM_COMPARISON(==)
  SKYLOOM_COMPARISON(!=)
#undef SKYLOOM_COMPARISON

  friend SKYLOOM_INLINE Vec operator-(const Vec& a) noexcept {
    SKYLOOM_LANEWISE(Vec, r, -SKYLOOM_LANE(a));
  }

  friend SKYLOOM_INLINE Vec operator~(const Vec& a) noexcept {
    SKYLOOM_LANEWISE(Vec, r, ~SKYLOOM_LANE(a));
  }

  // Lane by lane, a's lane where m is true, else b's.
  friend SKYLOOM_INLINE Vec select(const Mask& m, const Vec& a, const Vec& b) noexcept {
#if SKYLOOM_VECTORS
    SKYLOOM_LANEWISE(Vec, r, m.v ? a.v : b.v);
#else
    SKYLOOM_LANEWISE(Vec, r, m.v[l] != 0 ? a.v[l] : b.v[l]);
#endif
  }

#undef SKYLOOM_LANEWISE
#undef SKYLOOM_LANE
#undef SKYLOOM_TRUTH

 private:
  // A list of N copies that the compiler sees as one broadcast.
  template <std::size_t... L>
  SKYLOOM_INLINE Vec(T x, std::index_sequence<L...>) noexcept : Vec(((void)L, x)...) {}
};

using F64x4 = Vec<double, 4>;
using F64x2 = Vec<double, 2>;
using Mask4 = Vec<long long, 4>;
using I64x4 = Mask4;

// Whether any lane of m is true.
template <int N>
SKYLOOM_INLINE bool any(const Vec<long long, N>& m) noexcept {
  long long a = 0;
  for (int l = 0; l < N; ++l) a |= m[l];
  return a != 0;
}

// Lanes I, J, K, L of the eight in a then b.
template <int I, int J, int K, int L>
SKYLOOM_INLINE F64x4 shuffle(const F64x4& a, const F64x4& b) noexcept {
  static_assert(0 <= I && I < 8 && 0 <= J && J < 8 && 0 <= K && K < 8 && 0 <= L && L < 8,
                "lanes of a and b");
  F64x4 r;
#if SKYLOOM_VECTORS && defined(__clang__)
  r.v = __builtin_shufflevector(a.v, b.v, I, J, K, L);
#elif SKYLOOM_VECTORS
  r.v = __builtin_shuffle(a.v, b.v, Mask4::Native{I, J, K, L});
#else
  const double both[8] = {a[0], a[1], a[2], a[3], b[0], b[1], b[2], b[3]};
  r = F64x4(both[I], both[J], both[K], both[L]);
#endif
  return r;
}

}  // namespace skyloom::simd
