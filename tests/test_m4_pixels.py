"""Pixel tests of the per-column extremes, of the model and of skyloom.kernels.m4_to_screen on
lists and on arrays (with x_sorted where x ascends): drawn as one polyline, the kept points light
exactly the pixels that drawing every point lights inside the plot's columns; striding to about
as many points with decimated_to_screen_cy loses pixels on the same pictures (so the comparison
can fail)."""
import array
import random

import pytest

import skyloom._cy_utils as cy
import skyloom.kernels as kernels
from m4_model import m4_model, trunc
from pictures import CASES, series, zoom
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
