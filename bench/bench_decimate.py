"""decimated_to_screen_cy on float series of 10^5 and 10^7 items down to 2,000 points.

Only the chosen items are read, so the time should not grow with n. Floor: reading 2,000
strided items of each list from Python, sum(xs[::k]); sum(ys[::k]) with k = n // 2000 (the slice
fetches the chosen slots and touches each chosen float, the sum reads its value)."""
import random
import sys

from harness import measure, report
from skyloom._cy_utils import decimated_to_screen_cy

MAX_PTS = 2000


def main(out=None):
    rows = []
    rnd = random.Random(2)
    for n in (10**5, 10**7):
        xs = [i * 0.001 for i in range(n)]
        ys, y = [], 0.0
        for _ in range(n):
            y += rnd.gauss(0.0, 1.0)
            ys.append(y)
        k = n // MAX_PTS
        view = (0.0, n * 0.001, -500.0, 1000.0, 40.0, 470.0, 1200.0, 430.0)
        log_view = (-1.0, 5.0, -500.0, 1000.0, 40.0, 470.0, 1200.0, 430.0)
        times = measure(
            {
                "floor": lambda: (sum(xs[::k]), sum(ys[::k])),
                "linear": lambda: decimated_to_screen_cy(xs, ys, MAX_PTS, *view, False, False),
                "log x": lambda: decimated_to_screen_cy(xs, ys, MAX_PTS, *log_view, True, False),
            }
        )
        rows.append(("n=%d to %d points" % (n, MAX_PTS), times))
        del xs, ys
    report("decimated_to_screen_cy (floor: sum(xs[::k]); sum(ys[::k]), 2,000 items each)", rows,
           out=out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else None)
