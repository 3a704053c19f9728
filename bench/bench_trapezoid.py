"""trapezoid_integral_cy against the floor of reading every float once (sum of both lists),
and the cost of a call with empty lists against a plain Python function of the same parameters."""
import random
import sys

from harness import measure, report
from skyloom._cy_utils import trapezoid_integral_cy

try:
    import skyloom_bench_floor as cfloor
except ImportError:  # built by `make bench`
    cfloor = None


def python_noop(xs, ys, x_lo, x_hi):
    return 0.0


def main(out=None):
    rows = []
    rnd = random.Random(1)
    for n in (10**3, 10**5, 10**6):
        xs = [float(i) for i in range(n)]
        ys, y = [], 0.0
        for _ in range(n):
            y += rnd.gauss(0.0, 1.0)
            ys.append(y)
        times = measure(
            {
                "floor": lambda: (sum(xs), sum(ys)),
                **({"C floor": lambda: cfloor.read_pairs(xs, ys)} if cfloor else {}),
                "module": lambda: trapezoid_integral_cy(xs, ys, None, None),
                "window": lambda: trapezoid_integral_cy(xs, ys, n * 0.25, n * 0.75),
            },
            rounds=11 if n < 10**6 else 7,
        )
        rows.append(("n=%d" % n, times))
    empty = []
    rows.append(
        (
            "n=0 call overhead",
            measure(
                {
                    "floor": lambda: python_noop(empty, empty, None, None),
                    "module": lambda: trapezoid_integral_cy(empty, empty, None, None),
                }
            ),
        )
    )
    report("trapezoid_integral_cy (floor: sum(xs); sum(ys), or a Python no-op)", rows, out=out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else None)
