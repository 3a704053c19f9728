"""The snapped per-column extremes against the renderers a plotting package draws with: every
point of a series and the kept points, each at its pixel's centre, drawn as one polyline by each
renderer of raster.RENDERERS, must give the same pixels inside the plot's columns. Exact for the
aliased renderers but Qt and for antialiased Agg; for the others the residual is measured here
and must not grow (RESIDUAL says why each one has one)."""
import random

import pytest

import raster
from m4_model import floor, m4_model
from pictures import CASES, series, zoom
from surface import to_screen

H = 256  # image height; every view maps its data within rows 10 .. H - 10

# Differing pixels allowed, by renderer and case (absent: 0), with the largest grey-level
# difference among them: what this rule leaves, measured, so that a change that makes it worse
# fails. Why there is any:
# - Skia draws a 1-pixel antialiased stroke as a hairline, blending each segment on its own: a
#   vertex pixel that a straight run passes through gets two half-covered passes (190, not 255)
#   where the kept run passes it whole. Every step of the series counts, so no bounded choice
#   of points per column can match it.
# - cairo's antialiased coverage comes out one or two levels apart where pieces of the outline
#   differ but cover the same area.
# - Qt's aliased cosmetic stroker lights rows that depend on each segment's own length and
#   direction: a one-row back-and-forth lights one row beyond it, and an upward segment leaves
#   its end pixel unlit.
SKIA_AA = {
    ("random walk", None): (1269, 65),
    ("noisy sine", None): (103, 65),
    ("isolated spikes", None): (459, 64),
    ("one column", None): (21, 65),
    ("log axes", None): (530, 65),
    ("noisy sine", (0.7, 0.1, 0.0)): (57, 65),
    ("random walk", (-0.5, 1.0, 0.0)): (640, 65),
    ("pixel edges", None): (274, 65),
    ("pixel edges", (0.25, 0.1, 0.0)): (57, 65),
    ("one column", (0.0, 0.5, 0.0)): (42, 65),
    "short paths": 5,
}
RESIDUAL = {
    "skia-aa": SKIA_AA,
    "skia-hair-aa": SKIA_AA,
    "cairo-aa": {
        ("one column", None): (2, 1),
        ("log axes", None): (4, 1),
        ("pixel edges", None): (1, 1),
        ("one column", (0.0, 0.5, 0.0)): (2, 1),
        "short paths": 5,
    },
    "qt": {
        ("random walk", None): (52, 255),
        ("isolated spikes", None): (162, 255),
        ("log axes", None): (13, 255),
        ("noisy sine", (0.7, 0.1, 0.0)): (1, 255),
        ("random walk", (-0.5, 1.0, 0.0)): (33, 255),
        ("pixel edges", None): (8, 255),
        ("pixel edges", (0.25, 0.1, 0.0)): (2, 255),
        ("one column", (0.0, 0.5, 0.0)): (1, 255),
        "short paths": 1,
    },
}
BOUNDED = set(RESIDUAL)

EXTRA_CASES = [
    ("pixel edges", None),
    ("pixel edges", (0.25, 0.1, 0.0)),  # zoomed onto whole pixels, pl = 0
    ("one column", (0.0, 0.5, 0.0)),  # long vertical runs from column 0 on
]


def kept_points(xs, ys, view):
    """What the decimation keeps with snap=True, as (px, py) pairs at pixel centres."""
    return m4_model(xs, ys, *view, snap=True)


def all_points(xs, ys, view):
    """Every point of the series at its pixel's centre: the drawing the kept points must match."""
    out = []
    for x, y in zip(xs, ys):
        px, py = to_screen(x, y, *view)
        out.append((floor(px) + 0.5, floor(py) + 0.5))
    return out


def compare(name, full, kept, pl, pw):
    """(differing pixels, largest grey-level difference) in the plot's columns."""
    lo, hi = int(floor(pl)), int(floor(pl + pw))
    # Pillow truncates toward zero (x in [-1, 0) lands in column 0), and cairo's aliased fill of
    # an outline cut at the image's left edge lights column 0 where no stroke is: both draw with
    # the plot's columns one pixel in from that edge, which a whole-pixel shift leaves as they are.
    shift = 1 if name in ("pillow", "cairo") else 0
    width = hi + 3 + shift
    a, b = (raster.draw(name, [(x + shift, y) for x, y in pts], width, H) for pts in (full, kept))
    a = a[:, max(lo + shift, 0):hi + 1 + shift].astype(int)
    b = b[:, max(lo + shift, 0):hi + 1 + shift].astype(int)
    d = abs(a - b)
    return int((d > 0).sum()), int(d.max()) if d.size else 0


@pytest.fixture(scope="module", params=sorted(raster.RENDERERS))
def renderer(request):
    why = raster.unavailable(request.param)
    if why:
        pytest.skip(why)
    return request.param


def check(name, case, full, kept, pl, pw):
    got = compare(name, full, kept, pl, pw)
    allowed = RESIDUAL.get(name, {}).get(case, (0, 0))
    print("%s %s: %d kept of %d; %d pixels differ, by up to %d" % (
        name, case, len(kept), len(full), *got))
    assert got[0] <= allowed[0] and got[1] <= allowed[1], (got, allowed)


@pytest.mark.parametrize("case, zoomed", CASES + EXTRA_CASES)
def test_kept_points_draw_the_picture_of_all_points(renderer, case, zoomed):
    rng = random.Random(case)
    xs, ys, view = series(case, rng, H)
    if zoomed:
        view = zoom(view, *zoomed)
    full, kept = all_points(xs, ys, view), kept_points(xs, ys, view)
    assert len(kept) <= len(full)
    check(renderer, (case, zoomed), full, kept, view[4], view[6])


def small_paths(count, seed):
    """Short random paths over a few columns and rows, part of them off the plot on both sides
    and on pixel edges: the turns, reversals and joins that long series have, many to a column."""
    rng = random.Random(seed)
    for _ in range(count):
        n = rng.randrange(0, 30)
        xs = [rng.randrange(-3, 6) + rng.choice([0.0, 0.5, rng.random()]) for _ in range(n)]
        if rng.random() < 0.6:
            xs.sort()
        ys = [rng.randrange(0, 10) + rng.choice([0.0, 0.5, rng.random()]) for _ in range(n)]
        pl = rng.choice([0.0, 0.5, 4.0])
        # Data x is pixels from the plot's left edge; data y is rows up from row 14.
        yield xs, ys, [0.0, 3.0, 0.0, 10.0, pl, 14.0, 3.0, 10.0, False, False]


def test_kept_points_of_short_paths(renderer):
    bad = []
    for k, (xs, ys, view) in enumerate(small_paths(300, renderer)):
        full, kept = all_points(xs, ys, view), kept_points(xs, ys, view)
        got = compare(renderer, full, kept, view[4], view[6])
        if got[0]:
            bad.append((k, got, full, kept))
    print("%s: %d of 300 short paths differ" % (renderer, len(bad)))
    if renderer in BOUNDED:
        assert len(bad) <= RESIDUAL[renderer].get("short paths", 0), bad[:1]
    else:
        assert not bad, bad[:1]


def test_some_renderer_ran():
    if all(raster.unavailable(name) for name in raster.RENDERERS):
        pytest.fail("no renderer could be used: %s" % "; ".join(
            raster.unavailable(name) for name in raster.RENDERERS))
