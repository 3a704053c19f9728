"""Smoke run of the native core on a large series: what each call did and how long it took.

    python -m skyloom.demo [--n N]
"""
import argparse
import random
import time

from skyloom import _cy_utils as cy


def random_walk(n, seed=1):
    rnd = random.Random(seed)
    xs = [float(i) for i in range(n)]
    ys, y = [], 0.0
    for _ in range(n):
        y += rnd.gauss(0.0, 1.0)
        ys.append(y)
    return xs, ys


def timed(label, fn, *args):
    t0 = time.perf_counter()
    try:
        result = fn(*args)
    except NotImplementedError as e:
        print("  %-24s not built yet (%s)" % (label, e))
        return None
    print("  %-24s %8.3f ms" % (label, (time.perf_counter() - t0) * 1e3))
    return result


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--n", type=int, default=10**6, help="points in the series")
    args = ap.parse_args(argv)
    xs, ys = random_walk(args.n)
    lo, hi = min(ys), max(ys)
    view = (0.0, float(args.n), lo, hi - lo)
    rect = (60.0, 560.0, 800.0, 500.0)
    print("series: %d points, y from %.2f to %.2f" % (args.n, lo, hi))

    area = timed("trapezoid_integral_cy", cy.trapezoid_integral_cy, xs, ys, args.n * 0.25, args.n * 0.75)
    if area is not None:
        print("    area over the middle half: %.6g" % area)
    r = timed("decimated_to_screen_cy", cy.decimated_to_screen_cy, xs, ys, 800, *view, *rect, False, False)
    if r is not None:
        print("    %d points in -> %d screen points out" % (args.n, r[1]))
    r = timed("nearest_on_segments_cy", cy.nearest_on_segments_cy, 460.0, 300.0, xs, ys, *view, *rect, False, False)
    if r is not None:
        print("    nearest to the cursor (460, 300): x=%.6g y=%.6g at %.3g px" % r)
    r = timed("fn_to_screen_cy", cy.fn_to_screen_cy, xs, ys, *view, *rect)
    if r is not None:
        print("    %d samples in -> %d polyline pairs out" % (args.n, r[1]))
    r = timed("polyfit_cy", cy.polyfit_cy, xs, ys, 3)
    if r is not None:
        print("    cubic fit, highest power first: %s" % ", ".join("%.6g" % c for c in r))


if __name__ == "__main__":
    main()
