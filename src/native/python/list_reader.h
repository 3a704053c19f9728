// The one reader of number lists: a pair of lists read at chosen indices, only xs measured and ys
// read at xs's indices, x item before y item. Runs of exact floats take one tight loop with no
// call in it (so that the processor overlaps the cache misses of scattered items); any other item
// takes the general path, which may run Python code, after which the lists are looked at afresh.
// Reads never go past a list's current length, which an item's own conversion code may shrink:
// that raises IndexError instead. ListSource hands the reads to the kernels as a block source.
#pragma once

#include <cstdint>
#include <type_traits>

#include "python/convert.h"
#include "python/signals.h"
#include "source/blocks.h"

namespace skyloom {

// The index of the k-th item read: k itself, or where a kernel chooses.
struct Identity {
  Py_ssize_t operator()(Py_ssize_t k) const noexcept { return k; }
};

class Series {
 public:
  // Which read failed last, for kernels that report x and y items at different lines.
  enum class Failed : std::uint8_t { kNone, kYList, kX, kY, kSignal };

  Series(PyObject* xs, PyObject* ys, const char* xname, const char* yname, std::int32_t n) noexcept
      : xs_(xs), ys_(ys), xname_(xname), yname_(yname), n_(n) {}

  // Items idx(k) of both lists as doubles into x[k - from] and y[k - from], for k = from ...
  // from + count - 1 in order; false with the exception set when an item fails or a pending
  // signal's handler raised.
  template <class Index>
  bool gather_at(Py_ssize_t from, Py_ssize_t count, Index idx, double* x, double* y) noexcept {
    Store put{x, y};
    return read<false>(from, count, idx, put);
  }
  bool gather(Py_ssize_t from, Py_ssize_t count, double* x, double* y) noexcept {
    return gather_at(from, count, Identity{}, x, y);
  }
  // Items from ... from + count - 1 of a sampled curve to a step: step(x, y) for a point,
  // step.hole() for a gap, a None item of ys (its x item is never read). ys's item is fetched
  // before the x item is converted and held while that runs. Once step.more() is false no item
  // that could run Python code is read: the read ends early.
  template <class Step>
  bool for_each_curve(Py_ssize_t from, Py_ssize_t count, Step& step) noexcept {
    return read<true>(from, count, Identity{}, step);
  }
  // Calls step(x, y) with items from ... from + count - 1 of both lists, in order, with no
  // scratch in between: a step of a few doubles keeps them in registers over a run of floats.
  template <class Step>
  bool for_each(Py_ssize_t from, Py_ssize_t count, Step& step) noexcept {
    return read<false>(from, count, Identity{}, step);
  }

  // Item i of one list alone, for kernels that look items up one at a time.
  bool x(Py_ssize_t i, double& out) noexcept { return one(xs_, xname_, i, out, Failed::kX); }
  bool y(Py_ssize_t i, double& out) noexcept { return one(ys_, yname_, i, out, Failed::kY); }

  std::int32_t n() const noexcept { return n_; }
  Failed failed() const noexcept { return failed_; }

 private:
  // Where the items read go, in order: into two arrays, or to a step called with each pair.
  struct Store {
    double* x;
    double* y;
    void operator()(double xv, double yv) noexcept {
      *x++ = xv;
      *y++ = yv;
    }
  };

  // The run loop. put is copied for each run of exact floats, so that its state (a step of a few
  // doubles, or two pointers) stays in registers over the run.
  template <bool kGaps, class Index, class Put>
  bool read(Py_ssize_t from, Py_ssize_t count, Index idx, Put& put) noexcept {
    // A handler may change the lists: they are looked at only after the check.
    if (!signals_ok()) return fail(Failed::kSignal);
    Py_ssize_t k = 0;
    while (k < count) {
      if (xs_ != Py_None && ys_ != Py_None) {
        Py_ssize_t end = PyList_GET_SIZE(xs_);
        if (PyList_GET_SIZE(ys_) < end) end = PyList_GET_SIZE(ys_);
        PyObject* const* xi = reinterpret_cast<PyListObject*>(xs_)->ob_item;
        PyObject* const* yi = reinterpret_cast<PyListObject*>(ys_)->ob_item;
        // With consecutive indices the run's end is known before it starts: one test per item.
        Py_ssize_t stop = count;
        if constexpr (std::is_same_v<Index, Identity>)
          stop = end - from < count ? end - from : count;
        Put local = put;
        for (; k < stop; ++k) {
          const Py_ssize_t j = idx(from + k);
          if (!std::is_same_v<Index, Identity> && j >= end) break;
          PyObject* oy = yi[j];
          if constexpr (kGaps) {
            if (oy == Py_None) {
              local.hole();
              continue;
            }
          }
          PyObject* ox = xi[j];
          if (!PyFloat_CheckExact(ox) || !PyFloat_CheckExact(oy)) break;
          local(PyFloat_AS_DOUBLE(ox), PyFloat_AS_DOUBLE(oy));
        }
        put = local;
        if (k >= count) break;
      }
      const Py_ssize_t j = idx(from + k);
      double x, y;
      if constexpr (kGaps) {
        if (!put.more()) return true;
        unsigned char g;
        if (!read_curve_item(j, x, y, g)) return false;
        if (g) {
          put.hole();
        } else {
          put(x, y);
        }
      } else {
        if (!read_item(j, x, y)) return false;
        put(x, y);
      }
      ++k;
    }
    return true;
  }

  bool one(PyObject* list, const char* name, Py_ssize_t i, double& out, Failed f) noexcept {
    if (list != Py_None && i < PyList_GET_SIZE(list)) {
      PyObject* o = PyList_GET_ITEM(list, i);
      if (PyFloat_CheckExact(o)) {
        out = PyFloat_AS_DOUBLE(o);
        return true;
      }
    }
    return read_one(list, name, i, out) || fail(f);
  }
  bool read_item(Py_ssize_t j, double& x, double& y) noexcept;
  bool read_curve_item(Py_ssize_t j, double& x, double& y, unsigned char& gap) noexcept;
  bool read_one(PyObject* list, const char* name, Py_ssize_t i, double& out) const noexcept;
  bool check_index(PyObject* list, const char* name, Py_ssize_t i) const noexcept;
  bool fail(Failed f) noexcept {
    failed_ = f;
    return false;
  }

  PyObject* xs_;
  PyObject* ys_;
  const char* xname_;
  const char* yname_;
  std::int32_t n_;
  Failed failed_ = Failed::kNone;
};

// A pair of number lists as a block source (source/blocks.h), converted a block at a time into
// scratch with the interpreter lock held. Signals are looked for as each block starts, and by
// poll() once items were read one at a time since the last look. Lists are never read in place.
// Blocks of B points: a kernel whose work per block is tuned to a block length of its own reads
// lists in blocks of that length.
template <std::int32_t B>
class BlockListSource {
 public:
  using Count = std::int32_t;  // lists hold at most 2^31 - 1 items
  static constexpr std::int32_t kBlock = B;
  static constexpr std::int32_t kVisit = kSignalStride;  // visited without scratch

  explicit BlockListSource(Series& s) noexcept : s_(s) {}

  bool allocate(std::int32_t n, int extra) noexcept { return sc_.allocate(n, kBlock, extra); }
  double* work(int k) const noexcept { return sc_.work(k); }

  bool block(std::int32_t from, std::int32_t count, const double*& x, const double*& y) noexcept {
    return block_at(from, count, Identity{}, x, y);
  }
  template <class Index>
  bool block_at(std::int32_t from, std::int32_t count, Index idx, const double*& x,
                const double*& y) noexcept {
    x = sc_.x();
    y = sc_.y();
    return s_.gather_at(from, count, idx, sc_.x(), sc_.y());
  }
  template <class Step>
  bool visit(std::int32_t from, std::int32_t count, Step& step) noexcept {
    return s_.for_each(from, count, step);
  }
  template <class Step>
  bool visit_curve(std::int32_t from, std::int32_t count, Step& step) noexcept {
    return s_.for_each_curve(from, count, step);
  }

  bool x_at(std::int32_t i, double& x) noexcept {
    ++singles_;
    return s_.x(i, x);
  }
  bool y_block(std::int32_t from, std::int32_t count, const double*& y) noexcept {
    singles_ += count;
    double* out = sc_.y();
    y = out;
    for (std::int32_t k = 0; k < count; ++k) {
      if (!s_.y(from + k, out[k])) return false;
    }
    return true;
  }
  bool in_place(std::int32_t, std::int32_t, const double*&, const double*&) noexcept {
    return false;
  }
  const double* y_in_place(std::int32_t, std::int32_t) noexcept { return nullptr; }

  bool poll() noexcept {
    if (singles_ == 0) return true;
    singles_ = 0;
    return signals_ok();
  }

 private:
  Series& s_;
  BlockScratch sc_;
  std::int64_t singles_ = 0;  // items read one at a time since signals were last looked for
};

using ListSource = BlockListSource<256>;

}  // namespace skyloom
