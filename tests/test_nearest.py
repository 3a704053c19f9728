"""nearest_on_segments_cy: the nearest point of a drawn series against the model (examples,
failure lines and leaks of all five functions: test_common.py)."""
import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from helpers import Counted, FloatSub
import surface as S
from surface import DBL_MAX, same
from skyloom._cy_utils import nearest_on_segments_cy

FN = "nearest_on_segments_cy"
# Data (x, y) lands on pixels (100 x, 100 - 100 y).
UNIT = (0.0, 1.0, 0.0, 1.0, 0.0, 100.0, 100.0, 100.0, 0, 0)


def near(mx, my, xs, ys, view=UNIT):
    return nearest_on_segments_cy(mx, my, xs, ys, *view)


def nearest(*args):
    """The model's answer to the same call."""
    return S.call("nearest_on_segments_cy", *args)


def test_point_on_the_data_chord_of_a_log_axis():
    # Vertices 1 and 100 land at 0 and 100 pixels; half way in pixels is half way in data.
    got = nearest_on_segments_cy(50.0, 7.0, [1, 100], [0.0, 0.0], 0, 2, 0, 1, 0, 0, 100, 100, 1, 0)
    assert got == (50.5, 0.0, 7.0)


def test_segment_at_infinite_distance_never_wins():
    # The vertices are pinned at 1e6 pixels; a query far beyond gives an infinite distance.
    got = near(-DBL_MAX, -DBL_MAX, [1e10, 2e10], [0.0, 0.0])
    assert same(got, (0.0, 0.0, DBL_MAX))


def test_each_vertex_converted_once():
    xs = [Counted(float(i)) for i in range(50)]
    ys = [Counted(float(i % 3)) for i in range(50)]
    Counted.calls = 0
    got = near(1234.0, 50.0, xs, ys)
    assert Counted.calls == 100
    plain = [float(c.v) for c in xs], [float(c.v) for c in ys]
    assert same(got, nearest(1234.0, 50.0, *plain, *UNIT))


def test_later_segment_nearer_by_one_unit_in_the_last_place_wins():
    # Identity mapping: pixel (x, y) = data (x, y). Two horizontal segments below the query,
    # the second one ulp nearer; the segments between them are far off.
    ident = (0.0, 1.0, 0.0, -1.0, 0.0, 0.0, 1.0, 1.0, 0, 0)
    h = 3.0
    for h2, want in ((h - 2.0**-51, 1), (h, 0)):  # 2^-51 is one unit in the last place of 3
        xs = [0.0, 1.0, 900.0, 0.0, 1.0]
        ys = [h, h, 900.0, h2, h2]
        got = nearest_on_segments_cy(0.5, 0.0, xs, ys, *ident)
        assert same(got, nearest(0.5, 0.0, xs, ys, *ident))
        assert got[1] == (h2 if want else h) and got[2] == got[1]


finite = st.floats(-1e7, 1e7, allow_nan=False, width=64)
value = st.one_of(
    finite,
    st.floats(width=64),
    st.integers(-10**6, 10**6),
    st.sampled_from([0.0, -0.0, 1e-300, -1e-300, 1e300, math.inf, -math.inf, math.nan]),
)
span = st.one_of(st.sampled_from([0.0, -0.0, 1.0, -2.0, 1e-9, 1e9, math.inf]), finite)


@settings(max_examples=300, deadline=None)
@given(
    pts=st.lists(st.tuples(value, value), max_size=12),
    view=st.tuples(finite, span, finite, span, finite, finite, span, span, st.booleans(), st.booleans()),
    query=st.tuples(st.one_of(finite, value), st.one_of(finite, value)),
)
def test_matches_model_on_arbitrary_input(pts, view, query):
    xs = [p[0] for p in pts]
    ys = [p[1] for p in pts]
    got = nearest_on_segments_cy(*query, xs, ys, *view)
    want = nearest(*query, xs, ys, *view)
    assert want is None if got is None else same(got, want)


@settings(max_examples=200, deadline=None)
@given(
    # Vertices on a coarse grid and a query near them: many equal and nearly equal distances.
    pts=st.lists(st.tuples(st.integers(1, 9), st.integers(1, 9)), min_size=2, max_size=30),
    query=st.tuples(st.integers(-10, 100), st.integers(-10, 100)),
    scale=st.sampled_from([1.0, 0.1, 3.0, 1e-7, 1e5]),
    lx=st.booleans(),
    ly=st.booleans(),
)
def test_matches_model_with_many_ties(pts, query, scale, lx, ly):
    x0 = math.log10(scale) if lx else 0.0
    y0 = math.log10(scale) if ly else 0.0
    view = (x0, 1.0 if lx else scale * 10, y0, 1.0 if ly else scale * 10, 0, 90, 90, 90, lx, ly)
    xs = [p[0] * scale for p in pts]
    ys = [p[1] * scale for p in pts]
    mx, my = query[0] * 1.25, query[1] * 1.25
    assert same(nearest_on_segments_cy(mx, my, xs, ys, *view), nearest(mx, my, xs, ys, *view))


def long_series(n, special):
    xs = [1.0 + 0.01 * i for i in range(n)]
    ys = [100.0 + (i * 37 % 101) * 0.5 for i in range(n)]
    for i in special:  # around the ends of the blocks in which vertices are read
        xs[i], ys[i] = FloatSub(xs[i]), int(ys[i])
    return xs, ys


@pytest.mark.parametrize("lx, ly", [(0, 0), (1, 1), (1, 0)])
@pytest.mark.parametrize("special", [(), (255, 256, 257), (511, 512, 513, 699)])
def test_long_series_match_the_model_across_blocks(special, lx, ly):
    xs, ys = long_series(700, special)
    view = (0.0, 8.0, 95.0, 60.0, 40.0, 470.0, 1200.0, 430.0) if not lx else (
        0.0, 1.0, 1.9, 0.3, 40.0, 470.0, 1200.0, 430.0)
    for q in ((600.0, 250.0), (41.0, 30.0), (1190.0, 460.0)):
        got = near(q[0], q[1], xs, ys, view + (lx, ly))
        assert same(got, nearest(q[0], q[1], xs, ys, *view, lx, ly))


