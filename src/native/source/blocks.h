// Reading a pair of series a block at a time, the way the kernels read them, from whatever
// holds the numbers. A Source has
//   static constexpr std::int32_t kBlock;  // the most points per block
//   bool block(std::int32_t from, std::int32_t count, const double*& x, const double*& y);
//   bool poll();
// block() delivers the x and y values of the points from ... from + count - 1 (count <= kBlock)
// as doubles, valid until the next call, and block_at(from, count, idx, x, y) those of the points
// idx(from) ... idx(from + count - 1), each index below the series' length;
// false means the source failed and has set its own
// error. poll() is called between blocks; false means stop (an interruption, with its error
// set). Pure C++: the C++ tests drive the kernels with sources of their own.
#pragma once

#include <algorithm>
#include <cstdint>

#include "source/strided.h"

namespace skyloom {

enum class Stop { kNone, kSource, kInterrupted };

// Calls f(x, y, count, from) for the points from ... n - 1, a block at a time, in order.
template <class Source, class F>
Stop for_each_block(Source& s, std::int32_t from, std::int32_t n, F&& f) noexcept {
  for (std::int32_t i0 = from; i0 < n;) {
    const std::int32_t m = std::min<std::int32_t>(Source::kBlock, n - i0);
    const double *x, *y;
    if (!s.block(i0, m, x, y)) return Stop::kSource;
    f(x, y, m, i0);
    i0 += m;
    if (!s.poll()) return Stop::kInterrupted;
  }
  return Stop::kNone;
}

// The same for the points idx(k), k = from ... n - 1, read with block_at(); f gets the block and
// the k of its first point.
template <class Source, class Index, class F>
Stop for_each_block_at(Source& s, std::int32_t from, std::int32_t n, Index idx, F&& f) noexcept {
  for (std::int32_t k0 = from; k0 < n;) {
    const std::int32_t m = std::min<std::int32_t>(Source::kBlock, n - k0);
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

// Two series in buffers. Contiguous doubles are handed out in place; anything else is converted
// into scratch of 2 * kBlock doubles. Poll is called with the number of points read since its
// last call and decides itself how often to look for an interruption.
template <class Poll>
class BufferSource {
 public:
  static constexpr std::int32_t kBlock = kBufferBlock;

  BufferSource(const Strided& x, const Strided& y, double* scratch, Poll poll) noexcept
      : x_(x), y_(y), sx_(scratch), sy_(scratch + kBlock), poll_(poll) {}

  bool block(std::int32_t from, std::int32_t count, const double*& x, const double*& y) noexcept {
    x = read(x_, from, count, sx_);
    y = read(y_, from, count, sy_);
    read_ += count;
    return true;
  }

  template <class Index>
  bool block_at(std::int32_t from, std::int32_t count, Index idx, const double*& x,
                const double*& y) noexcept {
    x_.gather_at(from, count, idx, sx_);
    y_.gather_at(from, count, idx, sy_);
    x = sx_;
    y = sy_;
    read_ += count;
    return true;
  }

  bool poll() noexcept {
    const std::int64_t r = read_;
    read_ = 0;
    return poll_(r);
  }

 private:
  static const double* read(const Strided& s, std::int32_t from, std::int32_t count,
                            double* scratch) noexcept {
    if (const double* p = s.doubles_at(from)) return p;
    s.gather(from, count, scratch);
    return scratch;
  }

  Strided x_, y_;
  double* sx_;
  double* sy_;
  Poll poll_;
  std::int64_t read_ = 0;
};

}  // namespace skyloom
