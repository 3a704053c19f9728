"""skyloom.kernels.SeriesIndex against the full scans it stands in for, on a random walk with
x = 0, 1, 2, ..., float64, a 322 x 246 pixel plot, at 10^7, 10^8 and 10^9 points (10^8 and up in
np.memmap files, kept between runs in the directory given; the first run writes them).

Per size: the build against the floor of reading both buffers once, the bounds' memory against
the data's, nearest_on_segments over 1,000 random cursors within 20 pixels of the curve (median,
99th percentile, and the first, cold query apart), and at 10^7 the full scan in the same run;
m4_to_screen of the whole view and of views zoomed to 10 %, 1 % and 10^-6 of the data, plain and
snapped (median of the repeats after the first, cold call, which is reported apart), against the
sorted full scan kernels.m4_to_screen(..., x_sorted=True) in the same run, the results compared;
extend by 1,000 points on a 10^8-point index; and the worst case built on purpose: a cursor at
the centre of a curve that circles it.

    python bench/bench_index.py [--sizes 1e7,1e8,1e9] [--dir DIR] [--queries 1000]
"""
import argparse
import os
import statistics
import sys
import time

import numpy as np

import skyloom_bench_floor as floor
from harness import fmt_time
from skyloom import kernels

W, H = 322.0, 246.0
CHUNK = 1 << 24


def series(n, where):
    """x = 0, 1, ... and a random walk, in memory below 10^8 points, else memory-mapped files
    written once in chunks."""
    if n < 10**8:
        rng = np.random.default_rng(1)
        return np.arange(n, dtype=np.float64), np.cumsum(rng.standard_normal(n))
    os.makedirs(where, exist_ok=True)
    px, py = (os.path.join(where, "%s-%d.f64" % (k, n)) for k in "xy")
    if not (os.path.exists(px) and os.path.getsize(px) == 8 * n and os.path.exists(py)
            and os.path.getsize(py) == 8 * n):
        t0 = time.perf_counter()
        x = np.memmap(px, np.float64, "w+", shape=(n,))
        y = np.memmap(py, np.float64, "w+", shape=(n,))
        rng, w = np.random.default_rng(1), 0.0
        for s in range(0, n, CHUNK):
            e = min(n, s + CHUNK)
            x[s:e] = np.arange(s, e, dtype=np.float64)
            step = np.cumsum(rng.standard_normal(e - s)) + w
            y[s:e] = step
            w = float(step[-1])
        x.flush()
        y.flush()
        del x, y
        print("  wrote %s and %s in %.0f s" % (px, py, time.perf_counter() - t0), flush=True)
    return np.memmap(px, np.float64, "r", shape=(n,)), np.memmap(py, np.float64, "r", shape=(n,))


def y_range(y):
    lo, hi = np.inf, -np.inf
    for s in range(0, len(y), CHUNK):
        c = y[s : s + CHUNK]
        lo, hi = min(lo, float(c.min())), max(hi, float(c.max()))
    return lo, hi


def cursors(x, y, v, count, rng):
    """Positions within 20 pixels (in x and in y) of random points of the curve."""
    n = len(x)
    out = []
    for i in rng.integers(0, n, size=count):
        px = (float(x[i]) - v[0]) / v[1] * v[6] + v[4]
        py = v[5] - (float(y[i]) - v[2]) / v[3] * v[7]
        out.append((px + rng.uniform(-20, 20), py + rng.uniform(-20, 20)))
    return out


def seconds(f, repeat=3):
    best = None
    for _ in range(repeat):
        t0 = time.perf_counter()
        f()
        t = time.perf_counter() - t0
        best = t if best is None else min(best, t)
    return best


def run_size(n, where, queries):
    x, y = series(n, where)
    lo, hi = y_range(y)
    v = (0.0, float(n), lo, hi - lo, 0.0, H, W, H, False, False)
    read = seconds(lambda: floor.read_buffer_pairs(x, y))
    t0 = time.perf_counter()
    ix = kernels.SeriesIndex(x, y)
    build = time.perf_counter() - t0
    data = 16 * n
    print("n=%.0e: build %s, reading both buffers %s (%.2fx; target at most 2x at 10^9); bounds "
          "%.1f MB, %.2f %% of the data (target at most 2 %%)" % (
              n, fmt_time(build), fmt_time(read), build / read, ix.nbytes / 1e6,
              100.0 * ix.nbytes / data), flush=True)
    rng = np.random.default_rng(2)
    pos = cursors(x, y, v, queries, rng)
    t0 = time.perf_counter()
    ix.nearest_on_segments(*pos[0], *v)
    cold = time.perf_counter() - t0
    times = []
    for mx, my in pos:
        t0 = time.perf_counter()
        ix.nearest_on_segments(mx, my, *v)
        times.append(time.perf_counter() - t0)
    times.sort()
    med, p99 = times[len(times) // 2], times[int(len(times) * 0.99)]
    line = "  nearest, %d cursors within 20 px: median %s, p99 %s, max %s, first (cold) %s" % (
        queries, fmt_time(med), fmt_time(p99), fmt_time(times[-1]), fmt_time(cold))
    if n <= 10**7:
        full = [seconds(lambda: kernels.nearest_on_segments(mx, my, x, y, *v), 1)
                for mx, my in pos[:9]]
        line += "; full scan %s (%.0fx; target at least 20x)" % (
            fmt_time(statistics.median(full)), statistics.median(full) / med)
        for mx, my in pos[:50]:
            assert ix.nearest_on_segments(mx, my, *v) == kernels.nearest_on_segments(
                mx, my, x, y, *v)
    print(line, flush=True)
    redraws(ix, x, y, v, n)
    return ix, x, y, v


def redraws(ix, x, y, v, n, repeat=21):
    """m4_to_screen through the index and by the sorted full scan, views centred on the data."""
    for frac in (1.0, 0.1, 0.01, 1e-6):
        w = n * frac
        view = (n / 2 - w / 2, w) + v[2:]
        for snap in (False, True):
            t0 = time.perf_counter()
            got = ix.m4_to_screen(*view, snap=snap)
            cold = time.perf_counter() - t0
            times = []
            for _ in range(repeat):
                t0 = time.perf_counter()
                ix.m4_to_screen(*view, snap=snap)
                times.append(time.perf_counter() - t0)
            med = statistics.median(times)
            # The full scan reads the visible y: a few runs where that is seconds.
            k = 1 if w > 10**8 else (3 if w > 10**7 else 9)
            t0 = time.perf_counter()
            want = kernels.m4_to_screen(x, y, *view, x_sorted=True, snap=snap)
            full = [time.perf_counter() - t0]
            full += [seconds(lambda: kernels.m4_to_screen(x, y, *view, x_sorted=True, snap=snap), 1)
                     for _ in range(k - 1)]
            assert got[1] == want[1] and got[0].tobytes() == want[0].tobytes(), (frac, snap)
            fs = statistics.median(full)
            print("  m4 %-7s of the view%s: index median %s, max %s, first (cold) %s; sorted full "
                  "scan %s (%.1fx); %d points%s" % (
                      "%g" % frac, " snapped" if snap else "", fmt_time(med),
                      fmt_time(max(times)), fmt_time(cold), fmt_time(fs), fs / med, got[1],
                      "" if med < 1e-3 else " (target under 1 ms)"), flush=True)


def extend_case(n=10**8):
    """extend by 1,000 points on an index of n points, of a buffer that holds n + 10^6."""
    x = np.arange(n + 10**6, dtype=np.float64)
    y = np.cumsum(np.random.default_rng(3).standard_normal(n + 10**6))
    ix = kernels.SeriesIndex(x, y, n=n)
    times = []
    for k in range(200):
        t0 = time.perf_counter()
        ix.extend(n + 1000 * (k + 1))
        times.append(time.perf_counter() - t0)
    times.sort()
    print("extend by 1,000 points on a 10^8-point index: median %s, max %s (target under 50 us)"
          % (fmt_time(times[len(times) // 2]), fmt_time(times[-1])), flush=True)


def worst_case(n=10**7):
    """A curve circling the cursor at the plot's centre: every block's box holds points near the
    cursor's distance, so none can be ruled out early."""
    t = np.linspace(0.0, 2000 * np.pi, n)
    r = 100.0 + np.sin(t * 7.3)  # a ring 99 to 101 pixels from the centre
    x, y = np.cos(t) * r, np.sin(t) * r
    v = (-200.0, 400.0, -200.0, 400.0, 0.0, 400.0, 400.0, 400.0, False, False)
    ix = kernels.SeriesIndex(x, y)
    q = seconds(lambda: ix.nearest_on_segments(200.0, 200.0, *v), 3)
    f = seconds(lambda: kernels.nearest_on_segments(200.0, 200.0, x, y, *v), 1)
    assert ix.nearest_on_segments(200.0, 200.0, *v) == kernels.nearest_on_segments(
        200.0, 200.0, x, y, *v)
    print("worst case, a curve circling the cursor, 10^7 points: index %s, full scan %s (%.2fx)"
          % (fmt_time(q), fmt_time(f), q / f), flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sizes", default="1e7,1e8,1e9")
    parser.add_argument("--dir", default=os.path.join("build", "bench-index"))
    parser.add_argument("--queries", type=int, default=1000)
    args = parser.parse_args()
    for n in (int(float(s)) for s in args.sizes.split(",")):
        run_size(n, args.dir, args.queries)
    extend_case()
    worst_case()


if __name__ == "__main__":
    sys.exit(main())
