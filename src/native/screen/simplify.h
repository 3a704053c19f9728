// Polyline simplification: the points of a run that matter for drawing it, chosen by
// subdividing at the farthest point until every dropped point lies within the tolerance of the
// chord that replaces it. Pure C++: no Python, so the C++ tests and fuzzers drive it directly.
#pragma once

#include <cstddef>
#include <cstdint>

#include "source/interrupt.h"

namespace skyloom {

// What simplify_polyline returns when its interruption hook asked it to stop.
constexpr std::int32_t kSimplifyStopped = -1;

// Distance evaluations between two polls of the interruption hook: about a millisecond of work.
constexpr std::int64_t kSimplifyPollEvery = std::int64_t{1} << 20;

// Scratch integers (of the width that counts the points) that simplifying n points needs: one
// keep flag per point and room for n pairs of indices, 3·n in all (counted in 64 bits: 3·n
// overflows 32); none when fewer than 3 points leave nothing to decide.
constexpr std::uint64_t simplify_scratch_ints(std::int64_t n) noexcept {
  return n >= 3 ? std::uint64_t{3} * static_cast<std::uint64_t>(n) : 0;
}

// Simplifies the n points (px[k], py[k]) with the squared tolerance tol2 and writes the kept
// points to the front of out_px and out_py (room for n each), in input order; returns their
// count (n itself when n < 3). scratch holds at least simplify_scratch_ints(n) integers (it may
// be null when that is 0). The outputs may be the inputs themselves: every point is read before
// the kept ones are compacted to the front; otherwise the inputs are only read. The worst case
// costs about n²/2 distance evaluations: interrupt is polled every kSimplifyPollEvery of them,
// and when it asks to stop, kSimplifyStopped is returned with nothing written to the outputs.
// Points and scratch are counted in 32 bits (lists) or in 64 (buffers of any length).
std::int32_t simplify_polyline(const double* px, const double* py, std::int32_t n, double tol2,
                               double* out_px, double* out_py, std::int32_t* scratch,
                               const Interrupt& interrupt = {}) noexcept;
std::int64_t simplify_polyline(const double* px, const double* py, std::int64_t n, double tol2,
                               double* out_px, double* out_py, std::int64_t* scratch,
                               const Interrupt& interrupt = {}) noexcept;

}  // namespace skyloom
