// Data coordinates to pixels of the plot area, on linear or base-10 logarithmic axes. Pure C++:
// the screen and analysis kernels call it per point, and the C++ tests drive it directly.
#pragma once

#include <cmath>

namespace skyloom {

// Results beyond this many pixels are pinned to it, so that painting never sees huge values.
constexpr double kPixelLimit = 1e6;
// Axis value of a non-positive (or NaN) data value on a log axis: finite, far off to the left or
// below the plot once scaled.
constexpr double kLogFloor = -1e308;

// Both tests strict and in this order: NaN passes through, infinities are pinned.
inline double clamp_pixel(double p) noexcept {
  if (p > kPixelLimit) return kPixelLimit;
  if (p < -kPixelLimit) return -kPixelLimit;
  return p;
}

inline double axis_value(double v, int log_axis) noexcept {
  if (log_axis == 0) return v;
  return v > 0 ? std::log10(v) : kLogFloor;
}

// Maps the data point (x, y) with the view window x0, dx, y0, dy (in decades on a log axis) onto
// the plot rectangle pl, pb, pw, ph. Pixel y grows downwards from the bottom edge pb. Each
// operation is its own double rounding, in the order written.
inline void data_to_screen(double x, double y, double x0, double dx, double y0, double dy,
                           double pl, double pb, double pw, double ph, int lx, int ly, double& px,
                           double& py) noexcept {
  const double X = axis_value(x, lx);
  px = clamp_pixel((X - x0) / dx * pw + pl);
  const double Y = axis_value(y, ly);
  py = clamp_pixel(pb - (Y - y0) / dy * ph);
}

}  // namespace skyloom
