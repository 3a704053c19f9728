"""nearest_on_segments_cy over 10^6 vertices on linear and log axes, against the floor of
reading every float once (sum(xs); sum(ys)) in the same run."""
import random
import sys

from harness import measure, report
from skyloom._cy_utils import nearest_on_segments_cy


def main(out=None):
    rnd = random.Random(3)
    n = 10**6
    xs = [1.0 + i * 0.01 for i in range(n)]
    ys, y = [], 1000.0
    for _ in range(n):
        y = abs(y + rnd.gauss(0.0, 1.0))
        ys.append(y)
    lin = (0.0, n * 0.01, 0.0, 2000.0, 40.0, 470.0, 1200.0, 430.0)
    log = (0.0, 4.0, 0.0, 4.0, 40.0, 470.0, 1200.0, 430.0)
    times = measure(
        {
            "floor": lambda: (sum(xs), sum(ys)),
            "linear": lambda: nearest_on_segments_cy(600.0, 250.0, xs, ys, *lin, False, False),
            "log x": lambda: nearest_on_segments_cy(600.0, 250.0, xs, ys, *log, True, False),
            "log x, y": lambda: nearest_on_segments_cy(600.0, 250.0, xs, ys, *log, True, True),
        },
        rounds=9,
    )
    report("nearest_on_segments_cy (floor: sum(xs); sum(ys))", [("n=%d" % n, times)], out=out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else None)
