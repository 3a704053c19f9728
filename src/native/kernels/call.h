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

// The two series of a call, opened and measured, and the one block source a kernel's core runs
// on, built from them.
class CallSeries {
 public:
  // Opens xs and ys (named so in messages) of the call to `function` and measures xs: a list's
  // length (None raising the len() TypeError), or a buffer's. False with the exception set.
  bool open(const char* function, PyObject* xs, PyObject* ys, const char* xname = "xs",
            const char* yname = "ys") noexcept {
    xs_ = xs, ys_ = ys, xname_ = xname, yname_ = yname;
    if (!args_.open(function, xs, ys, xname, yname)) return false;
    if (!args_.lists()) {
      n_ = args_.n();
      return true;
    }
    std::int32_t len;
    if (!number_list_length(xs, len)) return false;
    n_ = len;
    return true;
  }

  // The length of xs.
  std::int64_t n() const noexcept { return n_; }

  // Runs f(source, n, unlocked) with a block source over the two series (passing n on as the
  // source's Count: lists count in 32 bits, buffers in 64), with scratch for blocks of up to
  // `points` points and `extra` arrays for the kernel (none for no points: nothing is read). On
  // buffers f runs with the interpreter lock released when it reads kReleaseFrom points or more,
  // or once it has run for a while (see Unlocked), and must not touch Python objects. Returns
  // what f returns, or Stop::kSource with MemoryError set when scratch can't be had.
  // Lists are read in blocks of kListBlock items.
  template <std::int32_t kListBlock = ListSource::kBlock, class F>
  Stop run(std::int64_t points, int extra, F&& f) const noexcept {
    using Lists = BlockListSource<kListBlock>;
    Unlocked unlocked(!args_.lists());
    if (args_.lists()) {
      const auto count = static_cast<typename Lists::Count>(n_);  // a list's length fits
      Series s(xs_, ys_, xname_, yname_, count);
      Lists src(s);
      if (points > 0 && !src.allocate(static_cast<typename Lists::Count>(points), extra)) {
        return PyErr_NoMemory(), Stop::kSource;
      }
      return f(src, count, unlocked);
    }
    auto poll = [&unlocked](std::int64_t read) { return unlocked.poll(read); };
    BufferSource<decltype(poll), std::int64_t> src(args_.x(), args_.y(), poll);
    if (points > 0 && !src.allocate(points, extra)) return PyErr_NoMemory(), Stop::kSource;
    unlocked.release_for(points);
    return f(src, n_, unlocked);
  }

 private:
  SeriesArgs args_;
  PyObject* xs_ = nullptr;
  PyObject* ys_ = nullptr;
  const char* xname_ = "xs";
  const char* yname_ = "ys";
  std::int64_t n_ = 0;
};

// The items of a double array made by clone_double_array.
inline double* items(PyObject* array) noexcept {
  return reinterpret_cast<double*>(reinterpret_cast<ArrayObject*>(array)->ob_item);
}

// A kernel's Signature table: its name and its parameters, all positional-or-keyword.
#define SIGNATURE(var, fname, ...)                      \
  constexpr const char* var##_params[] = {__VA_ARGS__}; \
  constexpr Signature var = {fname, var##_params, static_cast<int>(std::size(var##_params)), 0}

}  // namespace skyloom::kernels
