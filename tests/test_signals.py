"""Signals during long calls: a handler's exception ends the call within a fraction of a second
with the function's traceback entry; a handler that returns leaves the result as it was, and one
that empties the lists makes the reads fail cleanly (the ASan build runs these too)."""
import gc
import math
import pickle
import signal
import time

import pytest

import skyloom._cy_utils as cy
from helpers import assert_entry, refcount, with_signal

pytestmark = [
    pytest.mark.timing,
    pytest.mark.skipif(not hasattr(signal, "setitimer"), reason="needs setitimer"),
]

N = 10**6
VIEW = (0.0, 4.0, -1.1, 2.2, 10.0, 300.0, 640.0, 280.0)


class Interrupted(Exception):
    pass


def sine():
    xs = [i * (4.0 / N) for i in range(N)]
    return xs, [None if i % 5000 == 4999 else math.sin(3.0 * x) for i, x in enumerate(xs)]


def zigzag(n):
    """Samples 2 pixels apart with alternating signs: the simplification's quadratic worst case."""
    xs = [float(i) for i in range(n)]
    return xs, [(1.0 - 0.5 * i / n) * (-1.0 if i % 2 else 1.0) for i in range(n)]


def defined(xs, ys):
    return xs, [0.0 if y is None else y for y in ys]


# name: (the call, the lists, the line that an interruption reports)
CASES = {
    "nearest_on_segments_cy": (
        lambda xs, ys: cy.nearest_on_segments_cy(300.0, 150.0, xs, ys, *VIEW, False, False),
        lambda: defined(*sine()), 115),
    "decimated_to_screen_cy": (
        lambda xs, ys: cy.decimated_to_screen_cy(xs, ys, N, *VIEW, False, False),
        lambda: defined(*sine()), 147),
    "trapezoid_integral_cy": (
        lambda xs, ys: cy.trapezoid_integral_cy(xs, ys, None, None),
        lambda: defined(*sine()), 165),
    "polyfit_cy": (lambda xs, ys: cy.polyfit_cy(xs, ys, 9), lambda: defined(*sine()), 292),
    "fn_to_screen_cy": (lambda xs, ys: cy.fn_to_screen_cy(xs, ys, *VIEW), sine, 228),
    "fn_to_screen_cy zig-zag": (
        lambda xs, ys: cy.fn_to_screen_cy(xs, ys, 0.0, 400.0, -1.1, 2.2, 0.0, 300.0, 640.0, 300.0),
        lambda: zigzag(10**4), 228),
}


@pytest.mark.parametrize("case", sorted(CASES))
def test_handler_that_returns_changes_nothing(case):
    fn, make, _ = CASES[case]
    xs, ys = make()
    expected = pickle.dumps(fn(xs, ys))
    fired = []
    result = with_signal(lambda: fn(xs, ys), lambda *_: fired.append(1))
    assert fired and pickle.dumps(result) == expected


@pytest.mark.parametrize("case", sorted(CASES))
def test_handler_that_empties_the_lists(case):
    fn, make, line = CASES[case]
    xs, ys = make()
    expected = pickle.dumps(fn(xs, ys))

    def handler(*_):
        del xs[1:]
        del ys[1:]

    try:
        result = with_signal(lambda: fn(xs, ys), handler)
    except IndexError as e:
        # The reads after the handler found the lists shorter: a failed read at the loop's line.
        excinfo = pytest.ExceptionInfo.from_exc_info((IndexError, e, e.__traceback__))
        assert_entry(excinfo, case.split()[0], line)
    else:
        # Only the simplification ran after the handler: it works on pixels of its own.
        assert case.endswith("zig-zag") and pickle.dumps(result) == expected


@pytest.mark.parametrize("case", sorted(CASES) + ["fn_to_screen_cy zig-zag 10^5"])
def test_handler_exception_ends_the_call(case):
    if case.endswith("10^5"):
        fn, _, line = CASES["fn_to_screen_cy zig-zag"]
        make, delay = lambda: zigzag(10**5), 0.2  # seconds of work left when the signal comes
    else:
        (fn, make, line), delay = CASES[case], 0.002
    xs, ys = make()
    fired = []

    def handler(*_):
        fired.append(time.monotonic())
        raise Interrupted

    held = refcount(xs), refcount(ys)
    with pytest.raises(Interrupted) as excinfo:
        with_signal(lambda: fn(xs, ys), handler, delay)
    assert time.monotonic() - fired[0] < 0.25
    assert_entry(excinfo, case.split()[0], line)
    del excinfo  # its traceback holds the test's own frames
    gc.collect()
    assert (refcount(xs), refcount(ys)) == held
