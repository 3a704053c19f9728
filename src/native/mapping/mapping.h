// The one data-to-screen mapping of a call: its view window, plot rectangle and log flags, with
// the four axis combinations dispatched in one place so that each kernel's loop is compiled with
// the flags fixed (a linear axis then costs no branch per point, and linear axes map whole
// vectors at a time). Pure C++.
#pragma once

#include <cstdint>
#include <type_traits>

#include "mapping/data_to_screen.h"
#include "mapping/map_linear.h"

namespace skyloom {

template <int LX, int LY>
using Axes = std::integer_sequence<int, LX, LY>;

struct Mapping {
  LinearView w;
  int lx, ly;  // 0 or 1

  // f(Axes<lx, ly>{}): the one place where the flags become compile-time constants.
  template <class F>
  decltype(auto) with_axes(F&& f) const {
    if (lx == 0) return ly == 0 ? f(Axes<0, 0>{}) : f(Axes<0, 1>{});
    return ly == 0 ? f(Axes<1, 0>{}) : f(Axes<1, 1>{});
  }

  void point(double x, double y, double& px, double& py) const noexcept {
    data_to_screen(x, y, w.x0, w.dx, w.y0, w.dy, w.pl, w.pb, w.pw, w.ph, lx, ly, px, py);
  }

  // The pixel x of x alone and the pixel y of y alone: each axis maps its own coordinate, so a
  // kernel that needs one of them does not read the other.
  double px(double x) const noexcept {
    double px, py;
    data_to_screen(x, 0.0, w.x0, w.dx, w.y0, w.dy, w.pl, w.pb, w.pw, w.ph, lx, 0, px, py);
    return px;
  }
  double py(double y) const noexcept {
    double px, py;
    data_to_screen(0.0, y, w.x0, w.dx, w.y0, w.dy, w.pl, w.pb, w.pw, w.ph, 0, ly, px, py);
    return py;
  }

  // One point with the flags fixed at compile time.
  template <int LX, int LY>
  void point(Axes<LX, LY>, double x, double y, double& px, double& py) const noexcept {
    data_to_screen(x, y, w.x0, w.dx, w.y0, w.dy, w.pl, w.pb, w.pw, w.ph, LX, LY, px, py);
  }

  // Points k = 0 ... m - 1 into px[k], py[k].
  template <int LX, int LY>
  void split(Axes<LX, LY>, const double* x, const double* y, std::int32_t m, double* px,
             double* py) const noexcept {
    if constexpr (LX == 0 && LY == 0) {
      map_linear_split(x, y, m, w, px, py);
    } else {
      for (std::int32_t k = 0; k < m; ++k) {
        data_to_screen(x[k], y[k], w.x0, w.dx, w.y0, w.dy, w.pl, w.pb, w.pw, w.ph, LX, LY, px[k],
                       py[k]);
      }
    }
  }

  // Points k = 0 ... m - 1 into out[2k], out[2k + 1].
  template <int LX, int LY>
  void interleaved(Axes<LX, LY>, const double* x, const double* y, std::int32_t m,
                   double* out) const noexcept {
    if constexpr (LX == 0 && LY == 0) {
      map_linear_interleaved(x, y, m, w, out);
    } else {
      for (std::int32_t k = 0; k < m; ++k) {
        data_to_screen(x[k], y[k], w.x0, w.dx, w.y0, w.dy, w.pl, w.pb, w.pw, w.ph, LX, LY,
                       out[2 * k], out[2 * k + 1]);
      }
    }
  }
};

}  // namespace skyloom
