"""skyloom.kernels.m4_to_screen against the plain-Python model of the per-column extremes, bit
for bit, on lists and on buffers of every format and stride; the sorted-x path against the
general rule; broken sorted-x promises; argument and item errors; signals during long calls."""
import array
import math
import signal
import time

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings, strategies as st

import skyloom._cy_utils as cy
import skyloom.kernels as kernels
from helpers import leak_check, refcount
from m4_model import m4_model
from test_kernels import FORMATS, exact, series

VIEWS = st.tuples(
    *[st.floats(allow_nan=False, allow_infinity=False, min_value=-1e3, max_value=1e3)] * 8
) | st.tuples(*[st.floats(width=32)] * 8)
FLAGS = st.tuples(st.booleans(), st.booleans())
LENGTHS = st.integers(0, 200) | st.integers(1000, 3000)
# Two long series per example: large by hypothesis's measure, by design.
LARGE = settings(suppress_health_check=[HealthCheck.data_too_large, HealthCheck.too_slow])


@st.composite
def fitted(draw, xs, ys):
    """A view onto the data's finite range, whole or zoomed, with plots of a few columns to
    hundreds, pl = 0 among them: many runs of every kind."""
    def span(vs):
        vs = [v for v in vs if math.isfinite(v)] or [0.0]
        lo, hi = min(vs), max(vs)
        return lo, (hi - lo) or 1.0

    (x_lo, x_span), (y_lo, y_span) = span(xs), span(ys)
    zoom = draw(st.sampled_from([1.0, 0.3, 0.01]))
    at = draw(st.floats(-0.2, 1.0))
    pl = draw(st.sampled_from([0.0, 20.5, -3.25]))
    pw = draw(st.sampled_from([300.0, 7.5, 1.0]))
    ph = draw(st.sampled_from([280.0, -280.0, 1.0]))
    return (x_lo + at * x_span, x_span * zoom, y_lo, y_span, pl, 300.0, pw, ph)


def ascending(data, n, fmt):
    """An ascending buffer of n values of the format fmt (NaN made 0) and its list."""
    xb, _ = data.draw(series(n, fmt))
    xb = np.asarray(xb)
    if xb.dtype.kind == "f":
        xb[np.isnan(xb)] = 0
    xb.sort()
    return xb, [float(v) for v in xb]


def flat(points):
    return [v for p in points for v in p]


def check(xs, ys, view, flags, lists, sorted_too=False, snap=False):
    """The module on (xs, ys) equals the model on lists of the same values."""
    want = m4_model(lists[0], lists[1], *view, *flags, snap=snap)
    for kw in ({}, {"x_sorted": True}) if sorted_too else ({},):
        if snap:
            kw["snap"] = True
        buf, count = kernels.m4_to_screen(xs, ys, *view, *flags, **kw)
        assert isinstance(buf, array.array) and buf.typecode == "d"
        assert count == len(want) and len(buf) == 2 * count
        assert exact(list(buf)) == exact(flat(want)), kw


@settings(LARGE, max_examples=150, deadline=None)
@given(st.data(), LENGTHS, FLAGS)
def test_equals_the_model_on_buffers_and_lists(data, n, flags):
    (xb, xl), (yb, yl) = data.draw(series(n)), data.draw(series(n))
    view = data.draw(VIEWS | fitted(xl, yl))
    check(xb, yb, view, flags, (xl, yl))
    check(xl, yl, view, flags, (xl, yl))


@settings(LARGE, max_examples=150, deadline=None)
@given(st.data(), LENGTHS, FLAGS, st.sampled_from(sorted(set(FORMATS) - set("nN"))))
def test_sorted_x_gives_the_general_rule(data, n, flags, fmt):
    """Ascending xs (repeats, infinities and long runs in one column included), with and
    without the promise: both are the model's result."""
    xb, xl = ascending(data, n, fmt)
    yb, yl = data.draw(series(n))
    view = data.draw(fitted(xl, yl) | VIEWS)
    check(xb, yb, view, flags, (xl, yl), sorted_too=True)
    check(xl, yl, view, flags, (xl, yl), sorted_too=True)


@settings(LARGE, max_examples=200, deadline=None)
@given(st.data(), LENGTHS, FLAGS, st.booleans(), st.sampled_from(sorted(set(FORMATS) - set("nN"))))
def test_snapped_equals_the_model(data, n, flags, ascending_x, fmt):
    """snap=True: the model's snapped points, from buffers and lists, and with ascending xs from
    the sorted scan too."""
    xb, xl = ascending(data, n, fmt) if ascending_x else data.draw(series(n, fmt))
    yb, yl = data.draw(series(n))
    view = data.draw(fitted(xl, yl) | VIEWS)
    check(xb, yb, view, flags, (xl, yl), sorted_too=ascending_x, snap=True)
    check(xl, yl, view, flags, (xl, yl), sorted_too=ascending_x, snap=True)


@settings(LARGE, max_examples=60, deadline=None)
@given(st.data(), st.integers(1, 3000), FLAGS)
def test_sorted_x_unevenly_spaced(data, n, flags):
    """Column ends are guessed as if x were evenly spaced: gaps of every size (none: repeats;
    huge: clusters far apart; growing: geometric) must not change the result."""
    gaps = st.sampled_from([0.0, 1e-9, 1.0, 1.0, 1.0, 37.0, 1e6])
    kind = data.draw(st.sampled_from(["mixed", "clusters", "geometric"]))
    if kind == "mixed":
        steps = np.array(data.draw(st.lists(gaps, min_size=n, max_size=n)))
    elif kind == "clusters":
        steps = np.where(np.arange(n) % data.draw(st.integers(2, 700)) == 0, 1e5, 1e-3)
    else:
        steps = 1.01 ** np.arange(n)
    xs = np.cumsum(steps)
    ys = np.random.default_rng(n).standard_normal(n).cumsum()
    view = data.draw(fitted(xs.tolist(), ys.tolist()))
    check(xs, ys, view, flags, (xs.tolist(), ys.tolist()), sorted_too=True)


@settings(LARGE, max_examples=100, deadline=None)
@given(st.data(), LENGTHS, FLAGS)
def test_a_broken_sorted_promise_gives_some_polyline(data, n, flags):
    """Unsorted or NaN xs under x_sorted=True: some result of the right shape, read within the
    series (the sanitizer build runs this)."""
    xb, xl = data.draw(series(n, "d"))
    yb, yl = data.draw(series(n))
    view = data.draw(fitted(xl, yl) | VIEWS)
    for xs, ys in ((xb, yb), (xl, yl)):
        buf, count = kernels.m4_to_screen(xs, ys, *view, *flags, x_sorted=True)
        assert len(buf) == 2 * count and 0 <= count <= n
        assert all(abs(v) <= 1e6 for v in buf if v == v)


class Raises:
    def __float__(self):
        raise ArithmeticError("no float")


class BadTruth:
    def __bool__(self):
        raise ArithmeticError("no truth value")


class Shrinks:
    """Empties the list it sits in when converted."""

    def __init__(self, lst):
        self.lst = lst

    def __float__(self):
        del self.lst[1:]
        return 1.0


def shrinking():
    xs = [0.0] * 10
    xs[3] = Shrinks(xs)
    return xs


VIEW = (0.0, 10.0, 0.0, 1.0, 0.0, 100.0, 50.0, 100.0, False, False)
ARR = array.array("d", [1.0, 2.0])


@pytest.mark.parametrize(
    "args, kwargs, exc, text",
    [
        (([1.0], [1.0]), {}, TypeError, r"m4_to_screen\(\) missing required argument 'x0' \(pos 3\)"),
        (([1.0], [1.0]) + VIEW + (True,), {}, TypeError, "takes at most 12 positional arguments"),
        (([1.0], [1.0]) + VIEW, {"sorted": True}, TypeError, "unexpected keyword argument 'sorted'"),
        (([1.0], [1.0], "0") + VIEW[1:], {}, TypeError, "must be real number, not str"),
        (([1.0], [1.0]) + VIEW, {"x_sorted": BadTruth()}, ArithmeticError, "no truth value"),
        (([1.0], [1.0]) + VIEW, {"snap": BadTruth()}, ArithmeticError, "no truth value"),
        (([1.0, 2.0], ARR) + VIEW, {}, TypeError, "both as lists or both as buffers"),
        ((ARR, None) + VIEW, {}, TypeError, "both as lists or both as buffers"),
        ((None, None) + VIEW, {}, TypeError, r"object of type 'NoneType' has no len\(\)"),
        (([1.0, 2.0], None) + VIEW, {}, TypeError, "'NoneType' object is not subscriptable"),
        (([1.0, "a"], [1.0, 2.0]) + VIEW, {}, TypeError, "must be real number, not str"),
        (([1.0, 2.0], [1.0, Raises()]) + VIEW, {}, ArithmeticError, "no float"),
        (([1.0, 2.0], [1.0]) + VIEW, {}, IndexError, r"ys index 1 out of range: ys has 1 items"),
        ((shrinking(), [0.0] * 10) + VIEW, {}, IndexError, r"xs index 4 out of range: xs has 1 items"),
        ((np.zeros(3), np.zeros(2)) + VIEW, {}, ValueError, "ys has 2 items, fewer than the 3"),
    ],
)
def test_errors(args, kwargs, exc, text):
    with pytest.raises(exc, match=text):
        kernels.m4_to_screen(*args, **kwargs)


def test_errors_are_those_of_the_list_functions():
    """Item failures raise what _cy_utils raises for the same lists."""
    for xs, ys in (([1.0, 2.0], None), ([1.0, "a"], [1.0, 2.0]), (None, None)):
        with pytest.raises(Exception) as mine:
            kernels.m4_to_screen(xs, ys, *VIEW)
        with pytest.raises(Exception) as theirs:
            cy.trapezoid_integral_cy(xs, ys, None, None)
        assert (type(mine.value), str(mine.value)) == (type(theirs.value), str(theirs.value))


def test_no_leaks():
    xs, ys = [float(i) for i in range(3000)], [math.sin(i) for i in range(3000)]
    bad = [1.0, 2.0, Raises()]
    for call, objects in (
        (lambda: kernels.m4_to_screen(xs, ys, *VIEW, x_sorted=True), [xs, ys]),
        (lambda: kernels.m4_to_screen(np.array(xs), np.array(ys), *VIEW), []),
        (lambda: pytest.raises(ArithmeticError, kernels.m4_to_screen, bad, bad, *VIEW), [bad]),
    ):
        leak_check(call, objects, rounds=500)


class Interrupted(Exception):
    pass


@pytest.mark.timing
@pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs setitimer")
@pytest.mark.parametrize("kind", ["lists", "buffers"])
def test_a_handler_exception_ends_the_call(kind):
    # Lists look for signals by count; a buffer call looks at most every 100 ms of its work, so
    # its series must outlast that (stride 0: 10^9 points that take no memory).
    if kind == "lists":
        n = 2 * 10**6
        xs = np.arange(n, dtype=np.float64)
        xs, ys = xs.tolist(), np.sin(xs).tolist()
        delay = 0.002
    else:
        n = 10**9
        xs = np.lib.stride_tricks.as_strided(np.arange(2.0), (n,), (0,))
        ys = np.lib.stride_tricks.as_strided(np.array([-0.5, 0.5]), (n,), (0,))
        delay = 0.05
    fired = []

    def handler(*_):
        fired.append(time.monotonic())
        raise Interrupted

    old = signal.signal(signal.SIGALRM, handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, delay)
        with pytest.raises(Interrupted):
            kernels.m4_to_screen(xs, ys, 0.0, float(n), -1.0, 2.0, 0.0, 300.0, 322.0, 300.0, 0, 0)
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)
    assert time.monotonic() - fired[0] < 0.25
    assert refcount(xs) == 1  # the test's own variable
