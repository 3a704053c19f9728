"""A small benchmark harness: warm-up, interleaved repeats, medians.

Each case is a zero-argument callable. Cases of one row are timed in turn, round after round,
so that a slow phase of the machine hits all of them alike; the median of the per-call times is
reported and ratios are taken against the row's floor measured in the same run.
"""
import json
import statistics
import sys
import time


def _per_call(fn, number):
    t0 = time.perf_counter()
    for _ in range(number):
        fn()
    return (time.perf_counter() - t0) / number


def calibrate(fn, target=0.02):
    """Calls per timing so that one timing takes about `target` seconds."""
    number = 1
    while True:
        t = _per_call(fn, number) * number
        if t >= target or number >= 1 << 22:
            return number
        number *= 2 if t == 0 else max(2, min(10, int(target / t) + 1))


def measure(cases, rounds=15, target=0.02):
    """Median seconds per call for each named case of the dict `cases`, timed interleaved."""
    numbers = {name: calibrate(fn, target) for name, fn in cases.items()}
    samples = {name: [] for name in cases}
    for _ in range(rounds):
        for name, fn in cases.items():
            samples[name].append(_per_call(fn, numbers[name]))
    return {name: statistics.median(v) for name, v in samples.items()}


def fmt_time(s):
    for unit, scale in (("s", 1), ("ms", 1e-3), ("us", 1e-6), ("ns", 1e-9)):
        if s >= scale:
            return "%.3g %s" % (s / scale, unit)
    return "%.3g ns" % (s / 1e-9)


def report(title, rows, floor="floor", out=None):
    """Prints each row's times and ratios to its floor; appends the rows as JSON to `out`."""
    print(title)
    for label, times in rows:
        base = times.get(floor)
        parts = []
        for name, t in times.items():
            ratio = "" if base is None or name == floor else " (%.2fx)" % (t / base)
            parts.append("%s %s%s" % (name, fmt_time(t), ratio))
        print("  %-28s %s" % (label, "; ".join(parts)))
    if out:
        with open(out, "a") as f:
            for label, times in rows:
                f.write(json.dumps({"bench": title, "row": label, "seconds": times}) + "\n")
    sys.stdout.flush()
