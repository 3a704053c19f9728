"""polyfit_cy against the floor of reading every float once (sum of both lists) and, when numpy
is installed, against numpy.polyfit including the conversion of the lists to arrays."""
import random
import sys
import warnings

from harness import measure, report
from skyloom._cy_utils import polyfit_cy

try:
    import numpy
except ImportError:  # the numpy column is optional; the package never needs numpy
    numpy = None


def numpy_fit(xs, ys, deg):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return numpy.polyfit(numpy.array(xs), numpy.array(ys), deg)


def main(out=None):
    rows = []
    rnd = random.Random(3)
    for n in (10**3, 10**6):
        xs = [2.0 * i / n - 1.0 for i in range(n)]
        ys = [x * (x * (0.5 * x - 1.0) + 2.0) + rnd.gauss(0.0, 0.1) for x in xs]
        for deg in (3, 9):
            cases = {
                "floor": lambda: (sum(xs), sum(ys)),
                "module": lambda deg=deg: polyfit_cy(xs, ys, deg),
            }
            if numpy is not None:
                cases["numpy"] = lambda deg=deg: numpy_fit(xs, ys, deg)
            rows.append(("n=%d deg=%d" % (n, deg), measure(cases, rounds=11 if n < 10**6 else 7)))
    title = "polyfit_cy (floor: sum(xs); sum(ys))"
    if numpy is None:
        title += " [numpy not installed: no numpy column]"
    report(title, rows, out=out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else None)
