// Reading a pair of series a block at a time, the way the kernels read them, from whatever
// holds the numbers. A Source has
//   using Count = ...;                     // the signed integer that counts its points
//   static constexpr std::int32_t kBlock;  // the most points per block
//   bool block(Count from, std::int32_t count, const double*& x, const double*& y);
//   bool poll();
// Count is how wide the cores count the source's points: lists hold at most 2^31 - 1 items and
// count them in 32 bits; buffers of any length count in 64 (every n, index and result count
// of a core is a Count). Counts within one block stay 32-bit. block() delivers the x and y values
// of the points from ... from + count - 1 (count <= kBlock) as doubles, valid until the next call,
// and block_at(from, count, idx, x, y) those of the points idx(from) ... idx(from + count - 1),
// each index below the series' length; false means the source failed and has set its own error.
// poll() is called between blocks; false means stop (an interruption, with its error set).
// visit(from, count, step) calls step(x, y) for each of the points instead (count <= kVisit),
// without a block in between where the source can. A source also has allocate(n, extra): scratch
// for blocks of n points at most and extra arrays of as many doubles for the kernel, work(k) (k <
// extra); and for sampled curves either curve_block(from, count, x, y, gap), which also tells which
// points are gaps, or visit_curve(from, count, step), which calls step(x, y) for a point and
// step.hole() for a gap. A kernel that searches sorted data and reads only what it finds also uses
// x_at(i, x), one x value; y_block(from, count, y), the y values alone (count <= kBlock), valid
// until the next call; and in_place(from, count, x, y) and y_in_place(from, count), both series (or
// ys alone) from point `from` on as arrays read in place, for any count up to the end, or false and
// nullptr where the source does not hold contiguous doubles. Pure C++: the C++ tests drive the
// kernels with sources of their own.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "simd.h"
#include "source/strided.h"

namespace skyloom {

enum class Stop { kNone, kSource, kInterrupted, kMemory };

// Scratch of one call on the native heap (off the C stack, which a conversion that calls back
// into the module may need for a deep chain of calls). Released when it goes out of scope.
class HeapBlock {
 public:
  // False when the bytes can't be had.
  bool allocate(std::size_t bytes) noexcept {
    p_.reset(static_cast<char*>(std::malloc(bytes > 0 ? bytes : 1)));
    return p_ != nullptr;
  }
  char* get() const noexcept { return p_.get(); }

 private:
  struct Free {
    void operator()(char* p) const noexcept { std::free(p); }
  };
  std::unique_ptr<char, Free> p_;
};

// The points of the next block: at most `most`, and no more than the `left` to go (clamped below by
// the caller where it may be none).
template <class Count>
constexpr std::int32_t block_length(std::int32_t most, Count left) noexcept {
  return left < Count{most} ? static_cast<std::int32_t>(left) : most;
}

// The layout of a source's scratch: x and y of a block, the kernel's extra arrays, gap flags.
struct BlockScratch {
  HeapBlock block;
  std::int32_t cap = 0;
  int extra = 0;

  bool allocate(std::int64_t n, std::int32_t max_block, int extra_arrays) noexcept {
    cap = std::max<std::int32_t>(1, block_length(max_block, n));
    extra = extra_arrays;
    const std::size_t doubles = static_cast<std::size_t>(2 + extra) * static_cast<std::size_t>(cap);
    return block.allocate(doubles * sizeof(double) + static_cast<std::size_t>(cap));
  }
  double* array(int k) const noexcept {
    return reinterpret_cast<double*>(block.get()) + static_cast<std::size_t>(k) * cap;
  }
  double* x() const noexcept { return array(0); }
  double* y() const noexcept { return array(1); }
  double* work(int k) const noexcept { return array(2 + k); }
  unsigned char* gaps() const noexcept {
    return reinterpret_cast<unsigned char*>(array(2 + extra));
  }
};

// Calls f(x, y, count, from) for the points from ... n - 1, a block at a time, in order.
template <class Source, class F>
Stop for_each_block(Source& s, typename Source::Count from, typename Source::Count n,
                    F&& f) noexcept {
  for (auto i0 = from; i0 < n;) {
    const std::int32_t m = block_length(Source::kBlock, n - i0);
    const double *x, *y;
    if (!s.block(i0, m, x, y)) return Stop::kSource;
    f(x, y, m, i0);
    i0 += m;
    if (!s.poll()) return Stop::kInterrupted;
  }
  return Stop::kNone;
}

// Calls step(x, y) for the points from ... n - 1, in order, a block at a time.
template <class Source, class Step>
Stop for_each_point(Source& s, typename Source::Count from, typename Source::Count n,
                    Step& step) noexcept {
  for (auto i0 = from; i0 < n;) {
    const std::int32_t m = block_length(Source::kVisit, n - i0);
    if (!s.visit(i0, m, step)) return Stop::kSource;
    i0 += m;
    if (!s.poll()) return Stop::kInterrupted;
  }
  return Stop::kNone;
}

// The same for the points idx(k), k = from ... n - 1, read with block_at(); f gets the block and
// the k of its first point.
template <class Source, class Index, class F>
Stop for_each_block_at(Source& s, typename Source::Count from, typename Source::Count n, Index idx,
                       F&& f) noexcept {
  for (auto k0 = from; k0 < n;) {
    const std::int32_t m = block_length(Source::kBlock, n - k0);
    const double *x, *y;
    if (!s.block_at(k0, m, idx, x, y)) return Stop::kSource;
    f(x, y, m, k0);
    k0 += m;
    if (!s.poll()) return Stop::kInterrupted;
  }
  return Stop::kNone;
}

// Points per block read from buffers: large enough that the per-block work fades, small enough
// for the scratch to stay in the first-level cache.
constexpr std::int32_t kBufferBlock = 1024;
// Visiting points one by one, a step's work is often one long dependent chain (a running sum):
// the data are asked for a block ahead, a cache line at a time.
constexpr std::int32_t kLineItems = 64 / sizeof(double);
constexpr std::size_t kAheadBytes = kBufferBlock * sizeof(double);

// Two series in buffers. Contiguous aligned doubles are handed out in place; anything else is
// converted into scratch. Poll is called with the number of points read since its last call and
// decides itself how often to look for an interruption. In a sampled curve a NaN y is a gap.
// CountT is how wide the cores count its points: the kernels take std::int64_t, for buffers of
// any length; the 32-bit default serves the C++ tests and benchmarks of the cores.
template <class Poll, class CountT = std::int32_t>
class BufferSource {
 public:
  using Count = CountT;
  static constexpr std::int32_t kBlock = kBufferBlock;
  static constexpr std::int32_t kVisit = kBlock;

  BufferSource(const Strided& x, const Strided& y, Poll poll) noexcept
      : x_(x), y_(y), poll_(poll) {}

  bool allocate(Count n, int extra) noexcept { return sc_.allocate(n, kBlock, extra); }
  double* work(int k) const noexcept { return sc_.work(k); }

  bool block(Count from, std::int32_t count, const double*& x, const double*& y) noexcept {
    x = read(x_, from, count, sc_.x());
    y = read(y_, from, count, sc_.y());
    read_ += count;
    return true;
  }

  bool x_at(Count i, double& x) noexcept {
    x = x_.at(i);
    ++read_;
    return true;
  }

  bool y_block(Count from, std::int32_t count, const double*& y) noexcept {
    y = read(y_, from, count, sc_.y());
    read_ += count;
    return true;
  }

  bool in_place(Count from, Count count, const double*& x, const double*& y) noexcept {
    const double* px = x_.doubles_at(from);
    const double* py = y_.doubles_at(from);
    if (px == nullptr || py == nullptr) return false;
    x = px;
    y = py;
    read_ += count;
    return true;
  }

  const double* y_in_place(Count from, Count count) noexcept {
    const double* p = y_.doubles_at(from);
    if (p != nullptr) read_ += count;
    return p;
  }

  template <class Index>
  bool block_at(Count from, std::int32_t count, Index idx, const double*& x,
                const double*& y) noexcept {
    x_.gather_at(from, count, idx, sc_.x());
    y_.gather_at(from, count, idx, sc_.y());
    x = sc_.x();
    y = sc_.y();
    read_ += count;
    return true;
  }

  // Calls step(x, y) for the points from ... from + count - 1 (count <= kBlock), in order.
  template <class Step>
  bool visit(Count from, std::int32_t count, Step& step) noexcept {
    const double *x, *y;
    block(from, count, x, y);
    Step local = step;  // its running values in registers
    for (std::int32_t k = 0; k < count; ++k) {
      if (k % kLineItems == 0) {
        simd::prefetch(x + k, kAheadBytes);
        simd::prefetch(y + k, kAheadBytes);
      }
      local(x[k], y[k]);
    }
    step = local;
    return true;
  }

  bool curve_block(Count from, std::int32_t count, const double*& x, const double*& y,
                   const unsigned char*& gap) noexcept {
    block(from, count, x, y);
    unsigned char* g = sc_.gaps();
    for (std::int32_t k = 0; k < count; ++k) g[k] = std::isnan(y[k]);
    gap = g;
    return true;
  }

  bool poll() noexcept {
    const std::int64_t r = read_;
    read_ = 0;
    return poll_(r);
  }

 private:
  static const double* read(const Strided& s, Count from, std::int32_t count,
                            double* scratch) noexcept {
    if (const double* p = s.doubles_at(from)) return p;
    s.gather(from, count, scratch);
    return scratch;
  }

  Strided x_, y_;
  Poll poll_;
  BlockScratch sc_;
  std::int64_t read_ = 0;
};

}  // namespace skyloom
