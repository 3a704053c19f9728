"""Two builds of skyloom._cy_utils against each other: every row of the benchmark suite timed for
this build and for another one (its shared object given by path), interleaved in one run, so that
a change can be shown to slow no row down. Prints each row's medians and this build's ratio.

    python bench/ab.py path/to/other/_cy_utils.cpython-38-x86_64-linux-gnu.so [--only polyfit]
"""
import argparse
import importlib.util
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import suite  # noqa: E402
from harness import Call, fmt_time, measure  # noqa: E402


def load(path):
    """The other build as a module of its own name (each build keeps its own process state)."""
    spec = importlib.util.spec_from_file_location("other_build._cy_utils", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("other", help="the other build's _cy_utils shared object")
    ap.add_argument("--only", action="append", default=[], help="functions whose name has this")
    ap.add_argument("--budget", type=float, default=3.0, help="seconds per row, roughly")
    args = ap.parse_args(argv)
    other = load(args.other)
    wanted = lambda name: not args.only or any(o in name for o in args.only)  # noqa: E731

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

    print("%-24s %-22s %12s %12s %8s" % ("function", "row", "this", "other", "ratio"))
    worst = 0.0
    for r in rows:
        this = r["cases"]["module"]
        that = Call(getattr(other, this.fn.__name__), *this.args)
        t = measure({"this": this, "other": that}, rounds=21, budget=args.budget)
        ratio = t["this"] / t["other"]
        worst = max(worst, ratio)
        print("%-24s %-22s %12s %12s %7.3fx" % (r["function"], r["row"], fmt_time(t["this"]),
                                                 fmt_time(t["other"]), ratio))
        sys.stdout.flush()
    print("slowest row: %.3fx the other build" % worst)


if __name__ == "__main__":
    main()
