"""A small benchmark harness: warm-up, interleaved repeats, medians.

Each case is a zero-argument callable, or a Call (the function and its arguments, timed by a
generated loop that adds nothing to each call). Cases of one row are timed in turn, round after round,
so that a slow phase of the machine hits all of them alike; the median of the per-call times is
reported and ratios are taken against the row's floor measured in the same run.
"""
import itertools
import json
import statistics
import sys
import time


class Call:
    """A case that calls fn(*args) directly: timed by a generated loop with the arguments in local
    variables, so that no lambda, tuple unpacking or attribute lookup is added to each call. Use
    it wherever the call itself is what is measured (cheap calls and their floors)."""

    _loops = {}

    def __init__(self, fn, *args):
        self.fn, self.args = fn, args

    def __call__(self):
        return self.fn(*self.args)

    def timer(self):
        k = len(self.args)
        loop = Call._loops.get(k)
        if loop is None:
            names = ", ".join("a%d" % i for i in range(k))
            src = (
                "def loop(number, f%s):\n"
                "    t0 = perf_counter()\n"
                "    for _ in repeat(None, number):\n"
                "        f(%s)\n"
                "    return perf_counter() - t0\n" % (", " + names if k else "", names)
            )
            ns = {"perf_counter": time.perf_counter, "repeat": itertools.repeat}
            exec(src, ns)
            loop = Call._loops[k] = ns["loop"]
        fn, args = self.fn, self.args
        return lambda number: loop(number, fn, *args)


def _timer(case):
    if isinstance(case, Call):
        return case.timer()

    def timed(number):
        t0 = time.perf_counter()
        for _ in itertools.repeat(None, number):
            case()
        return time.perf_counter() - t0

    return timed


def calibrate(timer, target=0.02):
    """Calls per timing so that one timing takes about `target` seconds (the first calls are the
    warm-up). Returns the count and the seconds per call seen last."""
    number = 1
    while True:
        t = timer(number)
        if t >= target or number >= 1 << 22:
            return number, t / number
        number *= 2 if t == 0 else max(2, min(10, int(target / t) + 1))


def measure(cases, rounds=15, target=0.02, budget=None, min_rounds=3):
    """Median seconds per call for each named case of the dict `cases` (zero-argument callables
    or Call objects), timed interleaved: each round times every case once, in turn. With a
    `budget` in seconds, fewer rounds are run when the cases are slow (never fewer than
    `min_rounds`)."""
    timers = {name: _timer(fn) for name, fn in cases.items()}
    numbers, per_round = {}, 0.0
    for name, timer in timers.items():
        numbers[name], per_call = calibrate(timer, target)
        per_round += per_call * numbers[name]
    if budget is not None and per_round > 0:
        rounds = max(min_rounds, min(rounds, int(budget / per_round)))
    samples = {name: [] for name in cases}
    for _ in range(rounds):
        for name, timer in timers.items():
            samples[name].append(timer(numbers[name]) / numbers[name])
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
