"""fn_to_screen_cy on a sampled sine with about 1% None gaps (plot 800x600), against the floor of
reading every defined item once (sum of the non-None items of both lists).

Share of the simplification: the row's "core" is the C++ simplification alone, run segment by
segment on the same pixel coordinates the kernel computes, through a small driver compiled here
from the module's own source with the module's flags and called once per row through ctypes;
"line" is the kernel on a straight line with the same gaps, where each segment is scanned once.
The zig-zag rows keep every point (about n*n/2 distance evaluations) and show how that cost grows.
"""
import array
import ctypes
import math
import os
import random
import subprocess
import sys

from harness import measure, report
from skyloom._cy_utils import fn_to_screen_cy

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
VIEW_W, VIEW_H = 800.0, 600.0

DRIVER = r"""
#include <cstdint>
#include "screen/simplify.h"
extern "C" long long simplify_segments(const double* px, const double* py, const int* starts,
                                       const int* lens, int nseg, double* ox, double* oy,
                                       std::int32_t* scratch) {
  long long kept = 0;
  for (int k = 0; k < nseg; ++k) {
    kept += skyloom::simplify_polyline(px + starts[k], py + starts[k], lens[k], 0.25, ox, oy,
                                       scratch);
  }
  return kept;
}
"""


def build_driver():
    out_dir = os.path.join(ROOT, "build", "bench")
    os.makedirs(out_dir, exist_ok=True)
    src, lib = os.path.join(out_dir, "simplify_driver.cpp"), os.path.join(out_dir, "simplify.so")
    with open(src, "w") as f:
        f.write(DRIVER)
    cmd = ["g++", "-std=c++17", "-O3", "-DNDEBUG", "-ffp-contract=off", "-fno-fast-math", "-fPIC",
           "-shared", "-I", os.path.join(ROOT, "src", "native"), src,
           os.path.join(ROOT, "src", "native", "screen", "simplify.cpp"), "-o", lib]
    try:
        subprocess.run(cmd, check=True, capture_output=True)
        return ctypes.CDLL(lib)
    except (OSError, subprocess.CalledProcessError) as e:
        print("  (C++ core not timed: %s)" % e)
        return None


def curve(n, f, rnd):
    xs = [10.0 * i / n for i in range(n)]
    ys = [None if rnd.random() < 0.01 else f(x) for x in xs]
    return xs, ys


def view(xs):
    return (xs[0], xs[-1] - xs[0], -1.1, 2.2, 0.0, VIEW_H, VIEW_W, VIEW_H)


def core_case(lib, xs, ys, v):
    """The simplification alone on the kernel's pixels, segment by segment."""
    x0, dx, y0, dy, pl, pb, pw, ph = v
    n = len(xs)
    px, py = array.array("d", bytes(8 * n)), array.array("d", bytes(8 * n))
    starts, lens, start = array.array("i"), array.array("i"), -1
    for i, (x, y) in enumerate(zip(xs, ys)):
        if y is None:
            if start >= 0:
                starts.append(start), lens.append(i - start)
            start = -1
            continue
        px[i] = min(max((x - x0) / dx * pw + pl, -1e6), 1e6)
        py[i] = min(max(pb - (y - y0) / dy * ph, -1e6), 1e6)
        start = i if start < 0 else start
    if start >= 0:
        starts.append(start), lens.append(n - start)
    ox, oy = array.array("d", bytes(8 * n)), array.array("d", bytes(8 * n))
    scratch = array.array("i", bytes(12 * n))
    ptr = lambda a: ctypes.c_void_p(a.buffer_info()[0])
    args = [ptr(px), ptr(py), ptr(starts), ptr(lens), len(starts), ptr(ox), ptr(oy), ptr(scratch)]
    lib.simplify_segments.restype = ctypes.c_longlong
    kept = lib.simplify_segments(*args)
    # The same work as the kernel: its pairs are the kept points plus one separator per gap.
    assert kept + len(starts) - 1 == fn_to_screen_cy(xs, ys, *v)[1]
    keep = (px, py, starts, lens, ox, oy, scratch)  # the pointers must outlive core_case
    return lambda: lib.simplify_segments(*args) and keep


def main(out=None):
    rows = []
    lib = build_driver()
    rnd = random.Random(1)
    for n in (10**5, 10**6):
        xs, ys = curve(n, math.sin, rnd)
        line = [None if y is None else 0.2 * x - 1.0 for x, y in zip(xs, ys)]
        xs_nn = [x for x, y in zip(xs, ys) if y is not None]
        ys_nn = [y for y in ys if y is not None]
        v = view(xs)
        cases = {
            "floor": lambda: (sum(xs_nn), sum(ys_nn)),
            "module": lambda: fn_to_screen_cy(xs, ys, *v),
            "line": lambda: fn_to_screen_cy(xs, line, *v),
        }
        if lib is not None:
            cases["core"] = core_case(lib, xs, ys, v)
        rows.append(("sine n=%d" % n, measure(cases, rounds=11 if n < 10**6 else 7)))
    for n in (10**4, 10**5):
        xs = [float(i) for i in range(n)]
        # Alternating signs with a shrinking amplitude, samples 2 pixels apart (the window shows
        # the first 400): every range splits next to its start, and nothing is dropped.
        zig = [(1.0 - 0.5 * i / n) * (-1.0 if i % 2 else 1.0) for i in range(n)]
        v = (0.0, 400.0, -1.1, 2.2, 0.0, VIEW_H, VIEW_W, VIEW_H)
        assert fn_to_screen_cy(xs, zig, *v)[1] == n
        cases = {
            "floor": lambda: (sum(xs), sum(zig)),
            "module": lambda: fn_to_screen_cy(xs, zig, *v),
        }
        rows.append(("zig-zag n=%d (all kept)" % n, measure(cases, rounds=5 if n < 10**5 else 3)))
    report("fn_to_screen_cy (floor: sum of the non-None items of xs and ys)", rows, out=out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else None)
