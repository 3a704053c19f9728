"""Two builds of the modules against each other: every row of the benchmark suite (skyloom._cy_utils
on lists) and, with --kernels, a row per buffer function of skyloom.kernels on float64 arrays
(m4_to_screen included), timed for this build and for another one (its shared objects given by
path), interleaved in one run, so that a change can be shown to slow no row down. Prints each
row's medians and this build's ratio; with --runs N, all rows N times and each run's ratio.

    python bench/ab.py path/to/other/_cy_utils.cpython-38-x86_64-linux-gnu.so \\
        [--kernels path/to/other/kernels.cpython-38-x86_64-linux-gnu.so] [--only polyfit] [--runs 3]
"""
import argparse
import functools
import importlib.util
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import suite  # noqa: E402
from harness import Call, fmt_time, measure  # noqa: E402

KERNEL_SIZES = (10**3, 10**5, 10**6)


def load(path, name):
    """The other build's module `name` under a name of its own (each build keeps its own state)."""
    spec = importlib.util.spec_from_file_location("other_build." + name, path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def list_rows(other, wanted):
    """The suite's rows of _cy_utils: (function, row, this call, the other build's call)."""
    walks = {n: suite.random_walk(n, 1) for n in suite.SIZES}
    rows = []
    for fn, rows_of in (("trapezoid_integral_cy", suite.rows_trapezoid),
                        ("polyfit_cy", suite.rows_polyfit),
                        ("nearest_on_segments_cy", suite.rows_nearest),
                        ("decimated_to_screen_cy", suite.rows_decimate)):
        if wanted(fn):
            rows += rows_of(walks)
    if wanted("fn_to_screen_cy"):
        rows += suite.rows_fn_to_screen({n: suite.sampled_sine(n, 2) for n in suite.SIZES})
    rows += [r for r in suite.rows_call() if wanted(r["function"])]
    out = []
    for r in rows:
        this = r["cases"]["module"]
        out.append((r["function"], r["row"], this, Call(getattr(other, this.fn.__name__),
                                                        *this.args)))
    return out


def kernel_rows(this, other, wanted):
    """A row per buffer function of skyloom.kernels and size, on float64 arrays: the data of
    bench/bench_kernels.py (random walk over irregular sorted x, sine with NaN gaps, cursor off
    the middle) and of bench/bench_m4.py (walk over x = 0, 1, 2, ..., 322 columns; also over
    those x shuffled)."""
    import bench_kernels as bk
    import bench_m4 as bm
    import numpy as np

    cases = []
    for n in KERNEL_SIZES:
        x, y = bk.walk(n)
        v = bk.view(x, y)
        mx, my = bk.cursor(x, y, v)
        sx, sy = bk.sine(n)
        sv = bk.view(sx, sy)[:8]
        mxs, mys = np.arange(n, dtype=np.float64), bm.walk(n)
        shuffled = np.random.default_rng(3).permutation(mxs)
        whole = bm.view(mys, n=n)
        tag = "n=%d" % n
        cases += [
            ("trapezoid_integral", tag, (x, y, None, None), {}),
            ("polyfit", tag + " deg=3", (x, y, 3), {}),
            ("polyfit", tag + " deg=9", (x, y, 9), {}),
            ("nearest_on_segments", tag + " linear", (mx, my, x, y) + v + (False, False), {}),
            ("decimated_to_screen", tag, (x, y, bk.MAX_PTS) + v + (False, False), {}),
            ("fn_to_screen", tag, (sx, sy) + sv, {}),
            ("m4_to_screen", tag + " general", (mxs, mys) + whole, {}),
            ("m4_to_screen", tag + " x_sorted", (mxs, mys) + whole, {"x_sorted": True}),
            # Unsorted x: a run per point or two, so a kernel call per run is on the path.
            ("m4_to_screen", tag + " shuffled x", (shuffled, mys) + whole, {}),
        ]
    rows = []
    for name, label, args, kwargs in cases:
        if not wanted(name):
            continue
        a, b = getattr(this, name), getattr(other, name)
        if kwargs:  # the same wrapper on both sides
            a, b = functools.partial(a, **kwargs), functools.partial(b, **kwargs)
        rows.append(("kernels." + name, label, Call(a, *args), Call(b, *args)))
    return rows


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("other", help="the other build's _cy_utils shared object")
    ap.add_argument("--kernels", help="the other build's kernels shared object: adds its rows")
    ap.add_argument("--only", action="append", default=[], help="functions whose name has this")
    ap.add_argument("--budget", type=float, default=3.0, help="seconds per row, roughly")
    ap.add_argument("--runs", type=int, default=1, help="times to time every row")
    ap.add_argument("--slower", type=float, default=1.05,
                    help="a row is slower when its ratio exceeds this in every run")
    args = ap.parse_args(argv)
    wanted = lambda name: not args.only or any(o in name for o in args.only)  # noqa: E731

    rows = list_rows(load(args.other, "_cy_utils"), wanted)
    if args.kernels:
        from skyloom import kernels

        rows += kernel_rows(kernels, load(args.kernels, "kernels"), wanted)

    ratios = {}
    for run in range(args.runs):
        print("run %d of %d" % (run + 1, args.runs))
        print("%-30s %-22s %12s %12s %8s" % ("function", "row", "this", "other", "ratio"))
        worst = 0.0
        for fn, label, this, that in rows:
            t = measure({"this": this, "other": that}, rounds=21, budget=args.budget)
            ratio = t["this"] / t["other"]
            ratios.setdefault((fn, label), []).append(ratio)
            worst = max(worst, ratio)
            print("%-30s %-22s %12s %12s %7.3fx" % (fn, label, fmt_time(t["this"]),
                                                     fmt_time(t["other"]), ratio))
            sys.stdout.flush()
        print("slowest row: %.3fx the other build" % worst)
    if args.runs > 1:
        print("each run's ratio (this / other)")
        for (fn, label), rs in ratios.items():
            print("%-30s %-22s %s" % (fn, label, "  ".join("%.3fx" % r for r in rs)))
    slower = [k for k, rs in ratios.items() if min(rs) > args.slower]
    print("rows slower than %.2fx in every run: %s" % (
        args.slower, ", ".join("%s %s" % k for k in slower) if slower else "none"))


if __name__ == "__main__":
    main()
