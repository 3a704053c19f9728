"""trapezoid_integral_cy: the window rules, exact sums and conversions (examples, failure lines
and leaks of all five functions: test_common.py)."""
import math

import pytest
from hypothesis import given, strategies as st

from helpers import Box, Hostile, entries
from skyloom._cy_utils import trapezoid_integral_cy as trap
from surface import trapezoid_integral_cy as reference

INF, NAN = float("inf"), float("nan")


def test_nan_x_counts_as_inside():
    assert math.isnan(trap([0, NAN, 2], [1, 1, 1], 0, 2))
    # Outside-the-window tests are false for NaN: a NaN x is inside even an empty window.
    assert math.isnan(trap([NAN, NAN], [1, 1], 5, 1))


def test_bounds_and_items_use_the_float_conversion():
    assert trap([Box(-1.0), Box(1.0)], [Box(2.0), 2], Box(-1.0), 1) == 4.0
    assert trap([0.5, 1.5], [1, 1], Box(0.5), None) == 1.0


finite = st.floats(allow_nan=False, allow_infinity=False, width=64, min_value=-1e6, max_value=1e6)
anyfloat = st.floats(width=64)


@given(
    st.lists(st.tuples(anyfloat, anyfloat), max_size=40),
    st.none() | anyfloat,
    st.none() | anyfloat,
)
def test_matches_reference_to_the_bit(points, lo, hi):
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    got, want = trap(xs, ys, lo, hi), reference(xs, ys, lo, hi)
    assert got == want or (math.isnan(got) and math.isnan(want))


@given(st.lists(st.tuples(finite, finite), min_size=2, max_size=40))
def test_reversal_negates(points):
    xs = [p[0] for p in points]
    ys = [p[1] for p in points]
    forward = trap(xs, ys, None, None)
    backward = trap(xs[::-1], ys[::-1], None, None)
    assert backward == pytest.approx(-forward, rel=1e-9, abs=1e-3)


def test_xs_item_converted_before_ys_is_looked_at():
    seen = []
    with pytest.raises(TypeError, match="not subscriptable"):
        trap([Hostile(0.0, lambda: seen.append("x0")), 1.0], None, None, None)
    assert seen == ["x0"]


def test_item_that_removes_itself_stays_alive_while_converted():
    ys = [1.0, None]
    ys[1] = Hostile(3.0, ys.clear)  # the list held the only reference to it
    assert trap([0.0, 1.0], ys, None, None) == 2.0


def test_memory_error_for_the_result():
    _testcapi = pytest.importorskip("_testcapi")
    xs, ys = [0.0, 1.0], [1.0, 3.0]
    hold = [i + 0.5 for i in range(1000)]  # drains the float free list: the result must allocate
    _testcapi.set_nomemory(0, 1)  # only the first allocation fails
    try:
        trap(xs, ys, None, None)
    except MemoryError as e:
        caught = e
    finally:
        _testcapi.remove_mem_hooks()
    del hold
    assert isinstance(caught, MemoryError)
    assert ("skyloom._cy_utils.trapezoid_integral_cy", 172) in [
        (name, line) for name, _, line in entries(caught)
    ]


@given(st.lists(st.tuples(finite, finite, st.sampled_from("fib"), st.sampled_from("fib")), max_size=60))
def test_mixed_item_types_match_reference(points):
    """Runs of exact floats and items of other types interleave in any order."""
    box = {"f": float, "i": lambda v: int(v), "b": Box}
    xs = [box[tx](x) for x, _, tx, _ in points]
    ys = [box[ty](y) for _, y, _, ty in points]
    assert trap(xs, ys, None, None) == reference(xs, ys, None, None)
    assert trap(xs, ys, -10.0, 1e5) == reference(xs, ys, -10.0, 1e5)


