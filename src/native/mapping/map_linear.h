// data_to_screen on linear axes for many points at once: the same IEEE operations in the same
// order, on whole vectors of points. Pure C++: the screen and analysis kernels call it on blocks
// of converted points, and the C++ tests compare it with data_to_screen point by point.
#pragma once

#include <cstdint>

#include "simd.h"

namespace skyloom {

// The view window and the plot rectangle that a mapping uses.
struct LinearView {
  double x0, dx, y0, dy, pl, pb, pw, ph;
};

// Maps the points (x[k], y[k]), k = 0 ... m - 1, and writes their pixel coordinates interleaved:
// out[2k] = px, out[2k + 1] = py.
extern const simd::Entry<void(const double* x, const double* y, std::int32_t m, const LinearView& v,
                              double* out)>
    map_linear_interleaved;

// The same, writing px[k] and py[k].
extern const simd::Entry<void(const double* x, const double* y, std::int32_t m, const LinearView& v,
                              double* px, double* py)>
    map_linear_split;

}  // namespace skyloom
