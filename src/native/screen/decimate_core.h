// Decimation by index striding: of n points, out_n are drawn, point i (i < out_n - 1) being the
// input point (int)(i * step) with step = n / out_n in doubles, and the last the input's last.
// Only the chosen points are read. Pure C++.
#pragma once

#include <cassert>
#include <cstdint>

#include "mapping/mapping.h"
#include "source/blocks.h"

namespace skyloom::decimate {

// The input index of output point i. Output points are counted in 32 bits (max_pts is a 32-bit
// argument); the input index may pass 2^31 - 1 in a longer series.
struct Index {
  double step;
  std::int64_t operator()(std::int64_t i) const noexcept {
    return static_cast<std::int64_t>(static_cast<double>(i) * step);
  }
};

inline Index index_for(std::int64_t n, std::int32_t out_n) noexcept {
  return Index{out_n < n ? static_cast<double>(n) / static_cast<double>(out_n) : 1.0};
}

// Maps output points 0 ... out_n - 2 into out[0 ... 2 * out_n - 3], interleaved.
template <class Source>
Stop strided(Source& s, typename Source::Count n, std::int32_t out_n, const Mapping& map,
             double* out) noexcept {
  const Index idx = index_for(n, out_n);
  // Every index is below n: i * step stays under (out_n - 1) * n / out_n even after rounding
  // (n itself rounded to a double moves it by far less than the n / out_n of one step).
  assert(out_n < 2 || idx(out_n - 2) < n);
  return map.with_axes([&](auto axes) {
    return for_each_block_at(s, 0, out_n - 1, idx,
                             [&](const double* x, const double* y, std::int32_t m, auto i0) {
                               map.interleaved(axes, x, y, m, out + 2 * std::int64_t{i0});
                             });
  });
}

// Maps the last input point into out[2 * out_n - 2 ...].
template <class Source>
bool last(Source& s, typename Source::Count n, std::int32_t out_n, const Mapping& map,
          double* out) noexcept {
  const double *x, *y;
  if (!s.block(n - 1, 1, x, y)) return false;
  map.point(x[0], y[0], out[2 * std::int64_t{out_n} - 2], out[2 * std::int64_t{out_n} - 1]);
  return true;
}

}  // namespace skyloom::decimate
