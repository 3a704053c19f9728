"""The series that the pixel tests draw, each with a view that fits its y range into an image of
a given height, and zoomed variants of those views; every point of a series and the kept
points of the snapped per-column extremes, at their pixel centres."""
import math

import skyloom.kernels as kernels
from m4_model import floor
from surface import to_screen


def walk(n, rng, scale=1.0):
    w, out = 0.0, []
    for _ in range(n):
        w += rng.gauss(0, scale)
        out.append(w)
    return out


def series(name, rng, height=400):
    """(xs, ys, view), the view mapping the data's y range onto rows 10 .. height - 10."""
    n = 20000
    xs = [float(i) for i in range(n)]
    if name == "random walk":
        ys = walk(n, rng)
    elif name == "noisy sine":
        ys = [math.sin(i / 900) * 50 + rng.gauss(0, 3) for i in range(n)]
    elif name == "isolated spikes":
        ys = [(80.0 if rng.random() < 0.001 else 0.0) + rng.gauss(0, 0.2) for _ in range(n)]
    elif name == "unsorted x":
        xs = [rng.uniform(0, n) for _ in range(n)]
        ys = walk(n, rng)
    elif name == "one column":
        xs = [i / n * 2.5 for i in range(n)]
        ys = walk(n, rng)
    elif name == "log axes":
        xs = [float(i + 1) for i in range(n)]
        ys = [math.exp(v / 40) for v in walk(n, rng)]
        ys[::977] = [0.0] * len(ys[::977])  # non-positive: pinned far below
    elif name == "pixel edges":
        # Integers mapped onto whole pixels: every point on (or, rounded, next to) a pixel edge.
        ph = height - 20
        xs = sorted(float(rng.randrange(0, 301)) for _ in range(n))
        ys = [float(min(max(round(v), 0), ph)) for v in walk(n, rng, 3.0)]
        return xs, ys, [0.0, 300.0, 0.0, float(ph), 20.0, height - 10.0, 300.0, float(ph),
                        False, False]
    elif name.startswith("n = "):
        xs, ys = xs[: int(name[4:])], walk(int(name[4:]), rng)
    lx = ly = name == "log axes"
    ax = [math.log10(x) if lx else x for x in xs if not lx or x > 0] or [0.0]
    ay = [math.log10(y) if ly else y for y in ys if not ly or y > 0] or [0.0]
    x0, dx = min(ax), (max(ax) - min(ax)) or 1.0
    if name == "one column":
        dx = 100.0  # all the data in 8 columns: runs of thousands of points
    y0, dy = min(ay), (max(ay) - min(ay)) or 1.0
    return xs, ys, [x0, dx, y0, dy, 20.5, height - 10, 300.0, height - 20, lx, ly]


def zoom(view, lo, span, pl=None):
    x0, dx = view[0] + view[1] * lo, view[1] * span
    return [x0, dx] + view[2:4] + [view[4] if pl is None else pl] + view[5:]


CASES = [
    ("random walk", None),
    ("noisy sine", None),
    ("isolated spikes", None),
    ("unsorted x", None),
    ("one column", None),
    ("log axes", None),
    ("random walk", (0.4, 0.02, None)),  # a small part of the data, the rest off both sides
    ("noisy sine", (0.7, 0.1, 0.0)),  # zoomed, pl = 0: column 0 is px in (-1, 1)
    ("random walk", (-0.5, 1.0, 0.0)),  # pl = 0, the data's start mid-plot
    ("n = 0", None),
    ("n = 1", None),
    ("n = 2", None),
]


def kept_points(xs, ys, view, snap=True):
    """What the module's decimation keeps, as (px, py) pairs (at pixel centres with snap)."""
    buf, count = kernels.m4_to_screen(xs, ys, *view, snap=snap)
    return [(buf[2 * k], buf[2 * k + 1]) for k in range(count)]


def all_points(xs, ys, view, snap=True):
    """Every point of the series (at its pixel's centre with snap): the drawing that the kept
    points must match."""
    out = []
    for x, y in zip(xs, ys):
        px, py = to_screen(x, y, *view)
        out.append((floor(px) + 0.5, floor(py) + 0.5) if snap else (px, py))
    return out
