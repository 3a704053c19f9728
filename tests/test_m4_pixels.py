"""Pixel tests of the per-column extremes, of the model and of skyloom.kernels.m4_to_screen on
lists and on arrays (with x_sorted where x ascends): drawn as one polyline, the kept points light
exactly the pixels that drawing every point lights inside the plot's columns; striding to about
as many points with decimated_to_screen_cy loses pixels on the same pictures (so the comparison
can fail)."""
import array
import math
import random

import pytest

import skyloom._cy_utils as cy
import skyloom.kernels as kernels
from m4_model import m4_model, trunc
from surface import to_screen

Image = pytest.importorskip("PIL.Image")
ImageDraw = pytest.importorskip("PIL.ImageDraw")

H = 400  # image height: every view below maps its data within rows 0 .. H - 1


def draw(points, width):
    img = Image.new("1", (width, H), 0)
    if len(points) >= 2:
        ImageDraw.Draw(img).line(points, fill=1)
    elif points:
        ImageDraw.Draw(img).point(points, fill=1)
    return img


def differing(a, b, pl, pw):
    """Pixels that differ between two drawings in the plot's columns c(pl) .. c(pl + pw)."""
    lo, hi = int(trunc(pl)), int(trunc(pl + pw))
    box = (lo, 0, hi + 1, H)
    pa, pb = (im.crop(box).convert("L").tobytes() for im in (a, b))
    return sum(p != q for p, q in zip(pa, pb))


def walk(n, rng, scale=1.0):
    w, out = 0.0, []
    for _ in range(n):
        w += rng.gauss(0, scale)
        out.append(w)
    return out


def series(name, rng):
    """(xs, ys, view), the view fitting the data's y range into the image."""
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
    elif name.startswith("n = "):
        xs, ys = xs[: int(name[4:])], walk(int(name[4:]), rng)
    lx = ly = name == "log axes"
    ax = [math.log10(x) if lx else x for x in xs if not lx or x > 0] or [0.0]
    ay = [math.log10(y) if ly else y for y in ys if not ly or y > 0] or [0.0]
    x0, dx = min(ax), (max(ax) - min(ax)) or 1.0
    if name == "one column":
        dx = 100.0  # all the data in 8 columns: runs of thousands of points
    y0, dy = min(ay), (max(ay) - min(ay)) or 1.0
    return xs, ys, [x0, dx, y0, dy, 20.5, H - 10, 300.0, H - 20, lx, ly]


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


def pairs(result):
    buf, count = result
    return [(buf[2 * k], buf[2 * k + 1]) for k in range(count)]


DECIMATIONS = {
    "model": lambda xs, ys, view: m4_model(xs, ys, *view),
    "module, lists": lambda xs, ys, view: pairs(kernels.m4_to_screen(xs, ys, *view)),
    "module, arrays, x_sorted": lambda xs, ys, view: pairs(
        kernels.m4_to_screen(array.array("d", xs), array.array("d", ys), *view, x_sorted=True)
    ),
}


@pytest.mark.parametrize("how", sorted(DECIMATIONS))
@pytest.mark.parametrize("name, zoomed", CASES)
def test_kept_points_light_the_pixels_of_all_points(name, zoomed, how):
    rng = random.Random(name)
    xs, ys, view = series(name, rng)
    if zoomed:
        view = zoom(view, *zoomed)
    pl, pw = view[4], view[6]
    width = int(pl + pw) + 2
    full = [to_screen(x, y, *view) for x, y in zip(xs, ys)]
    # In the plot's columns every row drawn is in the image (log axes pin y <= 0 far below).
    assert all(-1 < py < H for px, py in full if pl - 1 < px < pl + pw + 1 and py != 1e6)
    if name == "unsorted x" and "x_sorted" in how:
        pytest.skip("x_sorted promises ascending x")
    kept = DECIMATIONS[how](xs, ys, view)
    assert differing(draw(kept, width), draw(full, width), pl, pw) == 0
    assert len(kept) <= len(full)
    if len(xs) > 1000 and name != "unsorted x":
        assert len(kept) < len(full) / 10
        # Striding to as many points loses pixels of the same picture.
        strided = pairs(cy.decimated_to_screen_cy(xs, ys, len(kept), *view))
        lost = differing(draw(strided, width), draw(full, width), pl, pw)
        print("%s %s: %d of %d points kept; striding to as many: %d pixels differ"
              % (name, zoomed or "", len(kept), len(full), lost))
        assert lost > 0
