"""polyfit_cy: the degree cap, conversions, and fits against the model (examples, failure lines
and leaks of all five functions: test_common.py)."""
import math

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import surface as S
from helpers import Box, FloatSub, Logged
from skyloom._cy_utils import polyfit_cy

NAN = float("nan")
INF = float("inf")


@pytest.mark.parametrize(
    "deg, same_as", [(10, 9), (20, 9), (2147483647, 9), (1.9, 1), (-0.5, 0), (True, 1)]
)
def test_degree_is_converted_then_capped_at_nine(deg, same_as):
    xn = [0.5 * i - 3.0 for i in range(14)]
    yn = [math.sin(x) for x in xn]
    assert S.key(polyfit_cy(xn, yn, deg)) == S.key(S.polyfit_cy(xn, yn, same_as))


def test_items_convert_point_by_point_x_first_whatever_their_type():
    log = []
    n = 600  # more than one run of points
    xn = [Logged(float(i % 7), log) for i in range(n)] + [True, FloatSub(1.5), 3]
    yn = [Logged(-float(i), log) for i in range(n)] + [FloatSub(2.0), False, Box(0.25)]
    floats = [float(x) for x in xn], [float(y) for y in yn]
    del log[:]
    got = polyfit_cy(xn, yn, 3)
    assert log == [v for i in range(n) for v in (float(i % 7), -float(i))]
    assert S.key(got) == S.key(polyfit_cy(*floats, 3))


@given(
    coeffs=st.lists(st.integers(-5, 5), min_size=1, max_size=4),
    xs=st.lists(st.integers(-10, 10), min_size=1, max_size=30, unique=True),
    extra=st.lists(st.integers(-10, 10), max_size=10),
)
@settings(max_examples=300, deadline=None)
def test_recovers_small_integer_polynomials(coeffs, xs, extra):
    deg = len(coeffs) - 1
    xn = xs + extra  # repeated x values are fine once there are deg + 1 distinct ones
    if len(xs) <= deg:
        return
    yn = [sum(c * x ** (deg - k) for k, c in enumerate(coeffs)) for x in xn]
    got = polyfit_cy(xn, yn, deg)
    assert len(got) == deg + 1
    for c, g in zip(coeffs, got):
        assert abs(g - c) < 1e-6
        assert round(g) == c


@given(
    xn=st.lists(st.floats(-1e3, 1e3), min_size=1, max_size=20),
    data=st.data(),
    deg=st.integers(0, 12),
)
@settings(max_examples=200, deadline=None)
def test_a_nan_in_yn_makes_every_coefficient_nan(xn, data, deg):
    yn = data.draw(st.lists(st.floats(-1e3, 1e3), min_size=len(xn), max_size=len(xn)))
    yn[data.draw(st.integers(0, len(xn) - 1))] = NAN
    got = polyfit_cy(xn, yn, deg)
    assert len(got) == min(deg + 1, 10)
    assert all(math.isnan(v) for v in got)


special = st.sampled_from([0.0, -0.0, 1.0, -1.0, 0.5, 1e-300, 1e300, INF, -INF, NAN])
values = st.one_of(st.floats(), st.floats(-100, 100), special)


@given(
    points=st.one_of(
        st.lists(st.tuples(values, values), max_size=40),
        st.lists(st.tuples(st.floats(-9, 9), st.floats(-9, 9)), min_size=60, max_size=300),
    ),
    deg=st.integers(-1, 11),
)
@settings(max_examples=300, deadline=None)
def test_every_operation_rounds_in_order(points, deg):
    xn = [p[0] for p in points]
    yn = [p[1] for p in points]
    deg = max(deg, 0) if xn else deg
    assert S.key(polyfit_cy(xn, yn, deg)) == S.key(S.polyfit_cy(xn, yn, deg))


