"""The snapped per-column extremes against the renderers a plotting package draws with: every
point of a series and the kept points, each at its pixel's centre, drawn as one polyline by each
renderer of raster.RENDERERS, must give the same pixels inside the plot's columns. Exact for the
aliased renderers but Qt and for antialiased Agg; for the others the residual is measured here
and must not grow (RESIDUAL says why each one has one)."""
import math
import random

import pytest

import raster
from pictures import CASES, all_points, kept_points, series, zoom

H = 256  # image height; every view maps its data within rows 10 .. H - 10

# Differing pixels allowed, by renderer and case (absent: 0), with the largest grey-level
# difference among them: what this rule leaves, measured, so that a change that makes it worse
# fails. Why there is any:
# - Skia draws a 1-pixel antialiased stroke as a hairline, blending each segment on its own: a
#   vertex pixel that a straight run passes through gets two half-covered passes (190, not 255)
#   where the kept run passes it whole. Every step of the series counts, so no bounded choice
#   of points per column can match it.
# - A stroke a hair wider than 1 pixel Skia fills as an outline, and cairo fills every
#   antialiased stroke so: their coverage comes out a few levels apart where the outlines of
#   the two drawings differ but cover the same area.
# - Qt's aliased cosmetic stroker lights rows that depend on the steps around each segment: a
#   one-row back-and-forth lights a row beyond it, a repeated last point leaves the last pixel
#   unlit. A column's picture then depends on the neighbourhood of every visit to its end rows,
#   which a few points per column cannot carry.
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
    "skia-aa-wide": {
        ("random walk", None): (62, 2),
        ("noisy sine", None): (3, 1),
        ("one column", None): (211, 2),
        ("log axes", None): (176, 4),
        ("noisy sine", (0.7, 0.1, 0.0)): (11, 2),
        ("random walk", (-0.5, 1.0, 0.0)): (30, 2),
        ("pixel edges", None): (207, 3),
        ("pixel edges", (0.25, 0.1, 0.0)): (321, 4),
        ("one column", (0.0, 0.5, 0.0)): (239, 2),
        "short paths": 16,
    },
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


@pytest.fixture(scope="module", params=sorted(raster.RENDERERS))
def renderer(request):
    why = raster.unavailable(request.param)
    if why:
        pytest.skip(why)
    return request.param


def check(name, case, full, kept, pl, pw):
    got = raster.compare(name, full, kept, pl, pw, H)
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
        got = raster.compare(renderer, full, kept, view[4], view[6], H)
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


@pytest.mark.parametrize("case, zoomed", CASES + EXTRA_CASES)
def test_kept_points_are_centres_and_bounded_per_column(case, zoomed):
    xs, ys, view = series(case, random.Random(case), H)
    if zoomed:
        view = zoom(view, *zoomed)
    # Points with a NaN coordinate are kept alone, that coordinate as it is (off the plot,
    # where px alone decides the side, a NaN py joins the off-screen run).
    xs = [math.nan if k % 100 == 7 else x for k, x in enumerate(xs)]
    ys = [math.nan if k % 100 == 57 else y for k, y in enumerate(ys)]
    kept = kept_points(xs, ys, view)
    left, right = math.floor(view[4]) - 1, math.floor(view[4] + view[6]) + 1

    def alone(points):
        return [repr(p) for p in points if p[0] != p[0] or (
            p[1] != p[1] and left <= math.floor(p[0]) <= right)]

    assert alone(kept) == alone(all_points(xs, ys, view))
    assert all(c != c or c % 1 == 0.5 for p in kept for c in p)
    sides = [None if x != x else "left" if x < left else "right" if x > right + 1 else
             math.floor(x) if y == y else None for x, y in kept]
    run = 0
    for k, side in enumerate(sides):
        run = run + 1 if k and side is not None and side == sides[k - 1] else 1
        assert run <= (4 if side in ("left", "right") else 6), (k, side)
