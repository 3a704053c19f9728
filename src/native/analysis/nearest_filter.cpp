// The nearest-point scan's box test over several segments at a time. Built for AVX2 and for the
// baseline, the version chosen on first use; each lane is the scalar test.
#include "analysis/nearest_core.h"

namespace skyloom::nearest {

SKYLOOM_CLONES(first_candidate)
std::int32_t first_candidate_body(const double* px, const double* py, std::int32_t from,
                                  std::int32_t m, double mx, double my, double bound) noexcept {
  assert(from >= 1);
  using simd::F64x4;
  std::int32_t k = from;
  for (; k + 4 <= m; k += 4) {
    const simd::Mask4 far = box_beyond(F64x4::load(px + k - 1), F64x4::load(px + k),
                                       F64x4::load(py + k - 1), F64x4::load(py + k), mx, my, bound);
    if (simd::any(~far)) {
      for (int l = 0;; ++l) {
        if (far[l] == 0) return k + l;
      }
    }
  }
  for (; k < m; ++k) {
    if (!box_beyond(px[k - 1], px[k], py[k - 1], py[k], mx, my, bound)) return k;
  }
  return m;
}

}  // namespace skyloom::nearest
