"""The benchmark suite: all five functions against their floors, numpy and plain Python.

    python bench/suite.py [--only NAME] [--no-chart]

For every row the cases are timed interleaved in the same run (bench/harness.py: warm-up,
interleaved rounds, medians):

- module: the module function;
- floor: the C helper extension skyloom_bench_floor (bench/floor), which does only the part of the
  work that no implementation can avoid, from the same lists and with the same number of
  arguments: every item pointer read straight from the list and its float unboxed once (both
  lists; only the non-None samples of a sampled curve; only the chosen indices for decimation).
  For n = 0 the floor is a METH_FASTCALL|METH_KEYWORDS C function that does nothing, called with
  the same arguments: the cheapest possible call;
- numpy: the same computation written with numpy, converting the lists to arrays first;
- python: the same computation in plain Python: the tests' bit-exact model (tests/surface.py),
  the fit by power sums.

Data: a random walk with sorted x (positive, so that log axes apply), a sampled sine with about
1% None gaps, cursor queries a few pixels off the middle of the curve. Results go to
bench/results/suite.json and the chart to bench/results/chart.png.
"""
import argparse
import json
import math
import os
import platform
import random
import sys
from itertools import accumulate

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import alternatives as alt  # noqa: E402
from harness import Call, fmt_time, measure  # noqa: E402
from skyloom import _cy_utils as cy  # noqa: E402

try:
    import skyloom_bench_floor as floor
except ImportError:
    sys.exit("skyloom_bench_floor is missing: `make bench-suite` builds it from bench/floor")

np = alt.numpy_or_none()
model = alt.model

SIZES = (10**3, 10**5, 10**6)
MAX_PTS = 2000  # decimation output, about one point per pixel column of a wide plot
RECT = (60.0, 560.0, 1200.0, 500.0)  # pl, pb, pw, ph
RESULTS = os.path.join(HERE, "results")

# The most module/floor may be, per (function, row); rows not listed have no target.
TARGETS = {
    ("trapezoid_integral_cy", "n=100000"): 1.5,
    ("decimated_to_screen_cy", "n=100000 linear"): 2.0,
    ("decimated_to_screen_cy", "n=10000000 linear"): 2.0,
    ("polyfit_cy", "n=100000 deg=3"): 5.0,
    ("polyfit_cy", "n=100000 deg=9"): 20.0,
    ("nearest_on_segments_cy", "n=100000 linear"): 12.0,
    ("nearest_on_segments_cy", "n=100000 log x, y"): 30.0,
    ("fn_to_screen_cy", "n=100000"): 12.0,
}
CALL_TARGET = 2.0  # every n = 0 row


def random_walk(n, seed):
    """Sorted, irregularly spaced x from 1 to about 11; y a random walk folded above 100."""
    rnd = random.Random(seed)
    h = 10.0 / n
    xs = list(accumulate([(0.5 + rnd.random()) * h for _ in range(n - 1)], initial=1.0))
    ys = [100.0 + abs(v) for v in accumulate(rnd.random() - 0.5 for _ in range(n))]
    return xs, ys


def sampled_sine(n, seed):
    """sin(x) sampled at n points over [0, 10), None at about 1% of them."""
    rnd = random.Random(seed)
    xs = [10.0 * i / n for i in range(n)]
    ys = [None if rnd.random() < 0.01 else math.sin(x) for x in xs]
    return xs, ys


def views(xs, ys):
    """The view windows that show the whole series: (linear, log x and y)."""
    lo, hi = min(ys), max(ys)
    lin = (xs[0], xs[-1] - xs[0], lo, hi - lo) + RECT
    lx0, ly0 = math.log10(xs[0]), math.log10(lo)
    log = (lx0, math.log10(xs[-1]) - lx0, ly0, math.log10(hi) - ly0) + RECT
    return lin, log


def cursor(xs, ys, view, log):
    """A query 3 pixels right of and 4 above the middle vertex."""
    k = len(xs) // 2
    px, py = model.to_screen(xs[k], ys[k], *view, log, log)
    return px + 3.0, py - 4.0


def row(function, label, n, module, floor_case, numpy_case=None, python_case=None):
    cases = {"module": module, "floor": floor_case}
    if numpy_case is not None and np is not None:
        cases["numpy"] = numpy_case
    if python_case is not None:
        cases["python"] = python_case
    return {"function": function, "row": label, "n": n, "cases": cases}


def rows_trapezoid(data):
    f = cy.trapezoid_integral_cy
    out = []
    for n, (xs, ys) in data.items():
        out.append(
            row(
                f.__name__,
                "n=%d" % n,
                n,
                Call(f, xs, ys, None, None),
                Call(floor.read_pairs, xs, ys, None, None),
                lambda xs=xs, ys=ys: alt.trapezoid_np(np, xs, ys, None, None),
                lambda xs=xs, ys=ys: model.trapezoid_integral_cy(xs, ys, None, None),
            )
        )
    return out


def rows_decimate(data):
    f = cy.decimated_to_screen_cy
    out = []
    for n, (xs, ys) in data.items():
        lin, log = views(xs, ys)
        axes = [("linear", lin, False)] + ([("log x, y", log, True)] if n == 10**5 else [])
        for name, v, lg in axes:
            args = (xs, ys, MAX_PTS) + v + (lg, lg)
            out.append(
                row(
                    f.__name__,
                    "n=%d %s" % (n, name),
                    n,
                    Call(f, *args),
                    Call(floor.read_strided_pairs, *args),
                    lambda args=args: alt.decimate_np(np, *args),
                    lambda args=args: model.decimated_to_screen_cy(*args),
                )
            )
    return out


def rows_polyfit(data):
    f = cy.polyfit_cy
    out = []
    for n, (xs, ys) in data.items():
        for deg in (3, 9):
            out.append(
                row(
                    f.__name__,
                    "n=%d deg=%d" % (n, deg),
                    n,
                    Call(f, xs, ys, deg),
                    Call(floor.read_pairs, xs, ys, deg),
                    lambda xs=xs, ys=ys, deg=deg: alt.polyfit_np(np, xs, ys, deg),
                    lambda xs=xs, ys=ys, deg=deg: alt.polyfit_py(xs, ys, deg),
                )
            )
    return out


def rows_nearest(data):
    f = cy.nearest_on_segments_cy
    out = []
    for n, (xs, ys) in data.items():
        lin, log = views(xs, ys)
        for name, v, lg in (("linear", lin, False), ("log x, y", log, True)):
            mx, my = cursor(xs, ys, v, lg)
            args = (mx, my, xs, ys) + v + (lg, lg)
            out.append(
                row(
                    f.__name__,
                    "n=%d %s" % (n, name),
                    n,
                    Call(f, *args),
                    Call(floor.read_pairs, xs, ys, mx, my, *args[4:]),
                    lambda args=args: alt.nearest_np(np, *args),
                    lambda args=args: model.nearest_on_segments_cy(*args),
                )
            )
    return out


def rows_fn_to_screen(data):
    f = cy.fn_to_screen_cy
    out = []
    for n, (xs, ys) in data.items():
        v = (0.0, 10.0, -1.1, 2.2) + RECT
        args = (xs, ys) + v
        out.append(
            row(
                f.__name__,
                "n=%d" % n,
                n,
                Call(f, *args),
                Call(floor.read_defined_pairs, *args),
                lambda args=args: alt.fn_to_screen_np(np, *args),
                lambda args=args: model.fn_to_screen_cy(*args),
            )
        )
    return out


def rows_call():
    """n = 0: each function with empty lists against a C no-op called with the same arguments."""
    e = []
    v = (0.0, 1.0, 0.0, 1.0) + RECT
    calls = [
        (cy.nearest_on_segments_cy, (1.0, 2.0, e, e) + v + (False, False)),
        (cy.decimated_to_screen_cy, (e, e, MAX_PTS) + v + (False, False)),
        (cy.trapezoid_integral_cy, (e, e, None, None)),
        (cy.fn_to_screen_cy, (e, e) + v),
        (cy.polyfit_cy, (e, e, 3)),
    ]
    rows = [row(f.__name__, "n=0", 0, Call(f, *a), Call(floor.noop, *a)) for f, a in calls]
    # What polyfit_cy's result alone costs: a C call that only makes the list of zeros.
    rows[-1]["cases"]["result"] = Call(floor.zeros_list, *calls[-1][1])
    return rows


def same_results(r, module, alternative):
    """Loose agreement of an alternative with the module (a check that it does the same work)."""
    if isinstance(module, tuple) and hasattr(module[0], "tolist"):  # (array, count)
        a, m = module[0].tolist()[: 2 * module[1]], module[1]
        b = list(alternative[0])[: 2 * m]
        return alternative[1] == m and all(math.isclose(p, q, rel_tol=1e-6, abs_tol=1e-6)
                                           for p, q in zip(a, b))
    a = module if isinstance(module, (list, tuple)) else [module]
    b = alternative if isinstance(alternative, (list, tuple)) else [alternative]
    scale = max(1.0, max(abs(v) for v in a))
    return all(math.isclose(p, q, rel_tol=1e-6, abs_tol=1e-6 * scale) for p, q in zip(a, b))


def run(rows, budget):
    results = []
    for r in rows:
        if r["n"] == 10**3 and r["function"] != "polyfit_cy":  # deg 9 fits are ill-conditioned
            got = r["cases"]["module"]()
            for name in ("numpy", "python"):
                if name in r["cases"] and not same_results(r, got, r["cases"][name]()):
                    sys.exit("%s %s: the %s version disagrees" % (r["function"], r["row"], name))
        times = measure(r["cases"], rounds=15 if r["n"] else 25, budget=budget)
        base = times["floor"]
        res = {k: r[k] for k in ("function", "row", "n")}
        res["seconds"] = times
        res["ratio"] = {k: t / base for k, t in times.items() if k != "floor"}
        target = CALL_TARGET if r["n"] == 0 else TARGETS.get((r["function"], r["row"]))
        if target is not None:
            res["target"] = target
        results.append(res)
        print_row(res)
    return results


def print_header():
    print("%-23s %-18s %10s %10s %7s %7s %9s %9s" % (
        "function", "row", "module", "floor", "ratio", "target", "numpy/fl", "python/fl"))


def print_row(r):
    ratio = r["ratio"]
    target = r.get("target")
    mark = ""
    if target is not None:
        mark = "%5.1fx%s" % (target, " " if ratio["module"] <= target else "!")
    alts = ["%8.1fx" % ratio[k] if k in ratio else "%9s" % "-" for k in ("numpy", "python")]
    extra = "  (a C call making only the result: %.2fx)" % ratio["result"] if "result" in ratio else ""
    print("%-23s %-18s %10s %10s %6.2fx %7s %s %s%s" % (
        r["function"], r["row"], fmt_time(r["seconds"]["module"]), fmt_time(r["seconds"]["floor"]),
        ratio["module"], mark, alts[0], alts[1], extra))
    sys.stdout.flush()


def flatness(results):
    t = {r["n"]: r["seconds"]["module"] for r in results
         if r["function"] == "decimated_to_screen_cy" and r["row"].endswith("linear")}
    if 10**5 in t and 10**7 in t:
        return t[10**7] / t[10**5]
    return None


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--only", action="append", default=[], help="functions whose name has this")
    ap.add_argument("--budget", type=float, default=3.0, help="seconds per row, roughly")
    ap.add_argument("--out", default=os.path.join(RESULTS, "suite.json"))
    ap.add_argument("--no-chart", action="store_true")
    args = ap.parse_args(argv)
    wanted = lambda name: not args.only or any(o in name for o in args.only)  # noqa: E731

    print("CPython %s, numpy %s; times per call, ratios to the floor (same run)" % (
        platform.python_version(), np.__version__ if np is not None else "not installed"))
    print_header()
    results = []
    walks = {n: random_walk(n, 1) for n in SIZES}
    for fn, rows_of in (("trapezoid_integral_cy", rows_trapezoid), ("polyfit_cy", rows_polyfit),
                        ("nearest_on_segments_cy", rows_nearest)):
        if wanted(fn):
            results += run(rows_of(walks), args.budget)
    if wanted("fn_to_screen_cy"):
        results += run(rows_fn_to_screen({n: sampled_sine(n, 2) for n in SIZES}), args.budget)
    if wanted("decimated_to_screen_cy"):
        results += run(rows_decimate(walks), args.budget)
        walks.clear()
        results += run(rows_decimate({10**7: random_walk(10**7, 1)}), args.budget)
    results += run([r for r in rows_call() if wanted(r["function"])], args.budget)

    flat = flatness(results)
    if flat is not None:
        print("decimated_to_screen_cy: time at n=10^7 / time at n=10^5 = %.2f (target <= 1.2)" % flat)
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    with open(args.out, "w") as f:
        json.dump({
            "python": platform.python_version(),
            "numpy": np.__version__ if np is not None else None,
            "machine": platform.machine(),
            "cpus": os.cpu_count(),
            "decimation_flatness": flat,
            "rows": results,
        }, f, indent=1)
    print("results:", args.out)
    if not args.no_chart:
        import chart

        chart.main([args.out])


if __name__ == "__main__":
    main()
