"""Soak: a million calls of the five functions and of skyloom.kernels (lists and buffers, the
per-column extremes among them), success and failure paths mixed, must leave the
reference counts of their inputs, the interpreter's allocated blocks and the resident memory
flat. Prints the figures of each tenth of the run; exits with status 1 when anything grew.

    python tools/soak.py [--calls N]
"""
import argparse
import array
import gc
import math
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tests"))

import skyloom._cy_utils as cy  # noqa: E402
import skyloom.kernels as k  # noqa: E402
from helpers import Box, Shrinks, refcount  # noqa: E402

VIEW = (0.0, 4.0, -1.0, 2.0, 10.0, 300.0, 640.0, 280.0)


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE") // 1024


def restored(lst, items):
    """lst with its items put back: the conversion of one of them cuts it short at each call."""
    lst[:] = items
    return lst


def cases():
    """(callable, expected exception type or None) pairs; the data they hold is what the
    reference counts are taken of."""
    xs = [i * 0.25 for i in range(24)]
    ys = [math.sin(x) for x in xs]
    gaps = [None if i % 5 == 2 else y for i, y in enumerate(ys)]
    mixed_x = [Box(x) if i % 3 == 0 else (int(x) if i % 3 == 1 else x) for i, x in enumerate(xs)]
    bad = ys[:10] + ["text"] + ys[11:]
    short = ys[:5]
    shrinking = list(ys)
    shrinking[8] = Shrinks(shrinking, keep=3)  # the call then fails with IndexError
    whole = list(shrinking)
    big = [i * 1e-3 for i in range(2000)]
    big_y = [math.cos(v) for v in big]
    data = [xs, ys, gaps, mixed_x, bad, short, shrinking, big, big_y]
    d, t, f, n, p = (cy.decimated_to_screen_cy, cy.trapezoid_integral_cy, cy.fn_to_screen_cy,
                     cy.nearest_on_segments_cy, cy.polyfit_cy)
    calls = [
        (lambda: d(xs, ys, 10, *VIEW, False, False), None),
        (lambda: d(big, big_y, 300, *VIEW, True, False), None),
        (lambda: d(mixed_x, ys, 50, *VIEW, 0, 1), None),
        (lambda: d([], None, 5, *VIEW, False, False), None),
        (lambda: d(xs, short, 50, *VIEW, False, False), IndexError),
        (lambda: d(xs, bad, 50, *VIEW, False, False), TypeError),
        (lambda: d(xs, ys, -1, *VIEW, False, False), SystemError),
        (lambda: t(xs, ys, None, None), None),
        (lambda: t(mixed_x, ys, 0.5, Box(4.0)), None),
        (lambda: t(big, big_y, 0.1, 1.5), None),
        (lambda: t(xs, bad, None, None), TypeError),
        (lambda: t(xs, restored(shrinking, whole), None, None), IndexError),
        (lambda: t(xs, ys, "lo", None), TypeError),
        (lambda: f(xs, gaps, *VIEW), None),
        (lambda: f(big, big_y, *VIEW), None),
        (lambda: f([], None, *VIEW), None),
        (lambda: f(xs, None, *VIEW), TypeError),
        (lambda: f(xs, short, *VIEW), IndexError),
        (lambda: n(300.0, 150.0, xs, ys, *VIEW, False, False), None),
        (lambda: n(300.0, 150.0, big, big_y, *VIEW, True, True), None),
        (lambda: n(1.0, 2.0, [], None, *VIEW, False, False), None),
        (lambda: n(1.0, 2.0, [0.5], [0.5], *VIEW, False, False), None),
        (lambda: n(1.0, 2.0, mixed_x, bad, *VIEW, False, False), TypeError),
        (lambda: p(xs, ys, 3), None),
        (lambda: p(mixed_x, ys, 12), None),
        (lambda: p(big, big_y, 5), None),
        (lambda: p(xs, ys, -2), ValueError),
        (lambda: p(xs, short, 2), IndexError),
        (lambda: p(xs, deg=2), TypeError),  # yn missing
        (lambda: p(xn=xs, yn=ys, deg=1), None),
        (lambda: p(xs, ys, degree=1), TypeError),
        (lambda: p(tuple(xs), ys, 1), TypeError),
        (lambda: p(xs, ys, 2 ** 40), OverflowError),
    ]
    # The kernels on buffers (one long enough for the lock to be released), and on lists.
    bx, by = array.array("d", big), array.array("f", big_y)
    rx = memoryview(array.array("d", big[::-1]))[::-1]
    lx = array.array("d", range(600000))
    m4 = k.m4_to_screen
    calls += [
        (lambda: m4(xs, ys, *VIEW, False, False), None),
        (lambda: m4(mixed_x, ys, *VIEW, True, False, x_sorted=True), None),
        (lambda: m4(xs, bad, *VIEW, False, False), TypeError),
        (lambda: m4(xs, short, *VIEW, False, False, x_sorted=True), IndexError),
        (lambda: m4(bx, by, *VIEW, False, False), None),
        (lambda: m4(bx, by, *VIEW, False, True, x_sorted=True), None),
        (lambda: m4(rx, by, *VIEW, False, False, x_sorted=True), None),
        (lambda: m4(bx, by[:10], *VIEW, False, False), ValueError),
        (lambda: m4(bx, ys, *VIEW, False, False), TypeError),
        (lambda: k.trapezoid_integral(lx, lx, None, 3.0), None),
        (lambda: k.polyfit(rx, by, 4), None),
        (lambda: k.nearest_on_segments(300.0, 150.0, bx, by, *VIEW, False, False), None),
        (lambda: k.decimated_to_screen(bx, by, 500, *VIEW, True, True), None),
        (lambda: k.fn_to_screen(rx, by, *VIEW), None),
        (lambda: k.decimated_to_screen(bx, by, -1, *VIEW, False, False), ValueError),
    ]
    data += [bx, by, lx]
    return calls, data


def run(calls, count):
    for k in range(count):
        call, exc = calls[k % len(calls)]
        if exc is None:
            call()
        else:
            try:
                call()
            except exc:
                pass
            else:
                raise AssertionError("%s did not raise %s" % (call, exc))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--calls", type=int, default=10 ** 6)
    args = parser.parse_args()
    calls, data = cases()
    # The lists and their own items (None and small ints are everyone's: left out).
    held = data + [o for lst in data for o in lst[:12] if o is not None and not isinstance(o, int)]
    run(calls, 20 * len(calls))  # warm: caches of traceback entries, free lists
    gc.collect()
    refs = [refcount(o) for o in held]
    blocks0, rss0 = sys.getallocatedblocks(), rss_kib()
    print("soak: %d calls of %d kinds; start: %d blocks, %d KiB resident"
          % (args.calls, len(calls), blocks0, rss0))
    start = time.perf_counter()
    tenth = max(1, args.calls // 10)
    done, first, last = 0, None, None
    while done < args.calls:
        step = min(tenth, args.calls - done)
        run(calls, step)
        done += step
        gc.collect()
        last = sys.getallocatedblocks(), rss_kib()  # replaces (frees) the one before
        first = first or last
        print("soak: %8d calls %7.1f s  blocks %+d  resident %+d KiB"
              % (done, time.perf_counter() - start, last[0] - blocks0, last[1] - rss0))
    # From the first tenth (which still fills caches) to the last.
    blocks, rss = last[0] - first[0], last[1] - first[1]
    now = [refcount(o) for o in held]
    moved = [(i, r, c) for i, (r, c) in enumerate(zip(refs, now)) if r != c]
    # Flat: a path that leaks a block per call shows as tens of thousands of blocks; the odd
    # block is the loop's own.
    grown = bool(moved) or blocks > 100 or rss > 1024
    print("soak: after the first tenth: reference counts %s; blocks %+d; resident %+d KiB -> %s"
          % ("unchanged" if not moved else "changed %s" % moved[:5], blocks, rss,
             "GREW" if grown else "flat"))
    return 1 if grown else 0


if __name__ == "__main__":
    sys.exit(main())
