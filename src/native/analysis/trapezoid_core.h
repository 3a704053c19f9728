// The trapezoid integral of a series over an x window, point by point in index order: a segment
// counts when both of its ends lie in [lo, hi]; nothing is interpolated at the window's edges.
// Pure C++: the kernels feed it points from lists or buffers.
#pragma once

#include <cstdint>

#include "source/blocks.h"

namespace skyloom {

struct Trapezoid {
  double lo, hi;
  double total = 0.0;
  double px = 0.0, py = 0.0;  // the last point inside the window
  bool hp = false;            // whether the previous point was inside

  void operator()(double cx, double cy) noexcept {
    if (lo > cx || cx > hi) {  // a NaN x fails both tests: it counts as inside
      hp = false;
      return;
    }
    if (hp) total += ((cx - px) * (py + cy)) * 0.5;
    px = cx;
    py = cy;
    hp = true;
  }
};

// Adds the points 0 ... n - 1 of a source to t, in order.
template <class Source>
Stop integrate(Source& s, typename Source::Count n, Trapezoid& t) noexcept {
  return for_each_point(s, 0, n, t);
}

}  // namespace skyloom
