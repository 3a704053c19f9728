"""skyloom.kernels.m4_to_screen on a random walk with x = 0, 1, 2, ..., float64, 322 columns.

Buffers of 10^7 points: the general rule against the floor of reading both buffers once, the
sorted-x path (whole view) against the floor of reading ys once and against tsdownsample's
M4Downsampler (single-threaded, n_out = 4 * 322, sorted x assumed, indices only) on the same
arrays, the sorted-x path zoomed to 1 % of the data against the whole view, and log axes.
Lists of 10^6 points: the general rule against the floor of reading both lists once. snap=True
against snap=False for the general and the sorted-x path and for lists. All cases
of a size are timed interleaved in one run; each ratio's target is printed next to it.

numpy and tsdownsample are benchmark-only dependencies (tsdownsample is skipped when missing).
"""
import sys

import numpy as np

import skyloom_bench_floor as floor
from harness import Call, fmt_time, measure, report
from skyloom.kernels import m4_to_screen

COLUMNS = 322


def walk(n):
    return np.cumsum(np.random.default_rng(1).standard_normal(n))


def view(ys, lo=0.0, span=1.0, n=None, log=False):
    """The view of the points [lo * n, (lo + span) * n) of a series of n points."""
    y0, dy = float(ys.min()), float(ys.max() - ys.min())
    if log:
        return (0.0, float(np.log10(n)), float(np.log10(ys.min())),
                float(np.log10(ys.max() / ys.min())), 0.0, 400.0, float(COLUMNS), 400.0, 1, 1)
    return (lo * n, span * n, y0, dy, 0.0, 400.0, float(COLUMNS), 400.0, 0, 0)


def ratios(title, lines):
    print(title)
    for label, value, target, ok in lines:
        print("  %-52s %-8s target %-14s %s" % (label, value, target, "met" if ok else "NOT MET"))


def main(out=None):
    n = 10**7
    x = np.arange(n, dtype=np.float64)
    y = walk(n)
    whole, zoom = view(y, n=n), view(y, 0.4, 0.01, n)
    x1, y1 = x + 1.0, np.abs(y) + 1.0  # log axes: positive data
    logv = view(y1, n=n, log=True)
    cases = {
        "floor xy": Call(floor.read_buffers, x, y),
        "floor y": Call(floor.read_buffers, y),
        "general": Call(m4_to_screen, x, y, *whole),
        "sorted": lambda: m4_to_screen(x, y, *whole, x_sorted=True),
        "sorted 1%": lambda: m4_to_screen(x, y, *zoom, x_sorted=True),
        "general snap": lambda: m4_to_screen(x, y, *whole, snap=True),
        "sorted snap": lambda: m4_to_screen(x, y, *whole, x_sorted=True, snap=True),
        "log general": Call(m4_to_screen, x1, y1, *logv),
        "log sorted": lambda: m4_to_screen(x1, y1, *logv, x_sorted=True),
    }
    try:
        from tsdownsample import M4Downsampler

        ts = M4Downsampler()
        cases["tsdownsample"] = lambda: ts.downsample(x, y, n_out=4 * COLUMNS, parallel=False)
    except ImportError:
        print("tsdownsample is not installed: its comparison is skipped")
    t = measure(cases, rounds=15, budget=30)
    kept = m4_to_screen(x, y, *whole)[1]
    rows = [
        ("general, 10^7 (%d kept)" % kept, {"floor": t["floor xy"], "m4_to_screen": t["general"]}),
        ("x_sorted, whole view", {"floor": t["floor y"], "m4_to_screen": t["sorted"]}),
        ("x_sorted, zoomed to 1%", {"floor": t["sorted"], "m4_to_screen": t["sorted 1%"]}),
        ("general, snap=True", {"floor": t["general"], "snap": t["general snap"]}),
        ("x_sorted, snap=True", {"floor": t["sorted"], "snap": t["sorted snap"]}),
        ("log axes", {"floor": t["floor xy"], "general": t["log general"],
                      "x_sorted": t["log sorted"]}),
    ]
    if "tsdownsample" in t:
        rows.append(("tsdownsample M4, 1 thread", {"floor": t["sorted"],
                                                    "M4Downsampler": t["tsdownsample"]}))
    report("m4_to_screen on float64 arrays, random walk, 322 columns (floor: the row's first)",
           rows, out=out)

    nl = 10**6
    xl, yl = x[:nl].tolist(), y[:nl].tolist()
    lview = view(y[:nl], n=nl)
    tl = measure({"floor": Call(floor.read_pairs, xl, yl),
                  "m4_to_screen": Call(m4_to_screen, xl, yl, *lview),
                  "snap": lambda: m4_to_screen(xl, yl, *lview, snap=True)}, rounds=15)
    report("m4_to_screen on lists (floor: read_pairs, every float of both lists)",
           [("general, 10^6", tl)], out=out)

    lines = [
        ("general rule / reading both buffers", "%.2fx" % (t["general"] / t["floor xy"]),
         "<= 1.5x", t["general"] <= 1.5 * t["floor xy"]),
        ("x_sorted whole view / reading ys", "%.2fx" % (t["sorted"] / t["floor y"]), "<= 1.5x",
         t["sorted"] <= 1.5 * t["floor y"]),
        ("x_sorted zoomed to 1% / whole view", "%.1f%%" % (100 * t["sorted 1%"] / t["sorted"]),
         "<= 5%", t["sorted 1%"] <= 0.05 * t["sorted"]),
        ("lists, general rule / reading both lists", "%.2fx" % (tl["m4_to_screen"] / tl["floor"]),
         "<= 1.5x", tl["m4_to_screen"] <= 1.5 * tl["floor"]),
    ]
    for label, snap, plain in (("general", t["general snap"], t["general"]),
                               ("x_sorted whole view", t["sorted snap"], t["sorted"]),
                               ("lists, general", tl["snap"], tl["m4_to_screen"])):
        lines.append(("%s, snap=True / snap=False" % label, "%.3fx" % (snap / plain),
                      "<= 1.05x", snap <= 1.05 * plain))
    if "tsdownsample" in t:
        lines.insert(2, ("x_sorted whole view / tsdownsample M4 (%s)" % fmt_time(t["tsdownsample"]),
                         "%.2fx" % (t["sorted"] / t["tsdownsample"]), "< 1x",
                         t["sorted"] < t["tsdownsample"]))
    ratios("m4_to_screen targets", lines)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else None)
