// What every kernel of skyloom.kernels does with its two series: opens them (lists, or buffers
// of any length), measures them, and runs its core on the one block source built from them, with
// the interpreter lock released while buffers are read.
#pragma once

#include <cstdint>

#include "kernels/args.h"
#include "kernels/series.h"
#include "kernels/unlocked.h"
#include "python/darray.h"
#include "python/list_reader.h"
#include "source/blocks.h"

namespace skyloom::kernels {

// Runs f(source, n, unlocked) with a block source over the two series of a call (xs holding n
// items, passed on as the source's Count: lists count in 32 bits, buffers in 64), with scratch
// for blocks of up to `points` points and `extra` arrays for the kernel (none for no points:
// nothing is read). On buffers f runs with the interpreter lock released when it reads
// kReleaseFrom points or more, or once it has run for a while (see Unlocked), and must not touch
// Python objects. Returns what f returns, or Stop::kSource with MemoryError set when scratch
// can't be had.
template <class F>
Stop with_source(const SeriesArgs& args, PyObject* xs, PyObject* ys, const char* xname,
                 const char* yname, std::int64_t n, std::int64_t points, int extra,
                 F&& f) noexcept {
  Unlocked unlocked(!args.lists());
  if (args.lists()) {
    const auto count = static_cast<ListSource::Count>(n);  // a list's length fits
    Series s(xs, ys, xname, yname, count);
    ListSource src(s);
    if (points > 0 && !src.allocate(static_cast<ListSource::Count>(points), extra)) {
      return PyErr_NoMemory(), Stop::kSource;
    }
    return f(src, count, unlocked);
  }
  auto poll = [&unlocked](std::int64_t read) { return unlocked.poll(read); };
  BufferSource<decltype(poll), std::int64_t> src(args.x(), args.y(), poll);
  if (points > 0 && !src.allocate(points, extra)) return PyErr_NoMemory(), Stop::kSource;
  unlocked.release_for(points);
  return f(src, n, unlocked);
}

// Opens the series of a call and measures xs: a list's length (None
// raising the len() TypeError), or a buffer's.
inline bool open_series(SeriesArgs& series, const char* function, PyObject* xs, PyObject* ys,
                        const char* xname, const char* yname, std::int64_t& n) noexcept {
  if (!series.open(function, xs, ys, xname, yname)) return false;
  if (series.lists()) {
    std::int32_t len;
    if (!number_list_length(xs, len)) return false;
    n = len;
    return true;
  }
  n = series.n();
  return true;
}

// The items of a double array made by clone_double_array.
inline double* items(PyObject* array) noexcept {
  return reinterpret_cast<double*>(reinterpret_cast<ArrayObject*>(array)->ob_item);
}

// A kernel's Signature table: its name and its parameters, all positional-or-keyword.
#define SIGNATURE(var, fname, ...)                      \
  constexpr const char* var##_params[] = {__VA_ARGS__}; \
  constexpr Signature var = {fname, var##_params, static_cast<int>(std::size(var##_params)), 0}

}  // namespace skyloom::kernels
