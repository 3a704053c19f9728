// A pair of number lists as a block source (source/blocks.h): items are converted a block at a
// time into scratch, in index order, x before y, with the interpreter lock held.
#pragma once

#include "frame/convert.h"

namespace skyloom {

class ListSource {
 public:
  static constexpr std::int32_t kBlock = 256;

  // scratch holds 2 * kBlock doubles.
  ListSource(const Series& s, double* scratch) noexcept
      : s_(s), sx_(scratch), sy_(scratch + kBlock) {}

  bool block(std::int32_t from, std::int32_t count, const double*& x, const double*& y) noexcept {
    if (!s_.gather(from, count, sx_, sy_)) return false;
    x = sx_;
    y = sy_;
    return true;
  }
  template <class Index>
  bool block_at(std::int32_t from, std::int32_t count, Index idx, const double*& x,
                const double*& y) noexcept {
    if (!s_.gather_at(from, count, idx, sx_, sy_)) return false;
    x = sx_;
    y = sy_;
    return true;
  }
  bool poll() noexcept { return PyErr_CheckSignals() == 0; }

 private:
  const Series& s_;
  double* sx_;
  double* sy_;
};

}  // namespace skyloom
