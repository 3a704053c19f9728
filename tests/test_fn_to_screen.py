"""fn_to_screen_cy: mapping, cutting at None, thinning, separators, failures."""
import array
import math
import re

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from helpers import Box, FloatSub, Hostile, Shrinks, assert_entry, leak_check
from skyloom._cy_utils import fn_to_screen_cy as F
from surface import to_screen

SEP = 1e308
UNIT = (0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 1.0, 1.0)  # px = x, py = -y
nan, inf = float("nan"), float("inf")


def flat(out):
    arr, out_n = out
    return [repr(v) for v in arr[: 2 * out_n]]


def pairs(*pts):
    return [repr(float(v)) for p in pts for v in p]


@pytest.mark.parametrize(
    "xs, ys, view, want",
    [
        ([0, 1, 2, 3], [1, None, None, 2], (0, 10, -1, 2, 40, 300, 500, 250),
         pairs((40, 50), (SEP, SEP), (190, -75))),
        ([0, 1, 2, 3, 4], [0, None, 1, None, 2], UNIT,
         pairs((0, 0), (SEP, SEP), (2, -1), (SEP, SEP), (4, -2))),
        ([0.0, 1.0, 2.0, 3.0], [0.0, 1.0, 2.0, 3.0], UNIT, pairs((0, 0), (3, -3))),
        ([0.0, 1.0, 2.0], [0.0, 0.5, 0.0], UNIT, pairs((0, 0), (2, 0))),
        ([0.0, 1.0, 2.0], [0.0, 0.52, 0.0], UNIT, pairs((0, 0), (1, -0.52), (2, 0))),
        ([0.0, 1.0], [5.0, 6.0], UNIT, pairs((0, -5), (1, -6))),
        ([None, "s", 2.0], [None, None, 1.0], UNIT, pairs((2, -1))),
        ([0.0, 1.0], [0.0, 1.0, None, "junk"], UNIT, pairs((0, 0), (1, -1))),
        ([None, None], [None, None], UNIT, []),
        # NaN is a sample, not a gap.
        ([0.0, 1.0, 2.0], [0.0, nan, 0.0], UNIT, pairs((0, 0), (2, 0))),
        ([0.0, 1.0, 2.0, 3.0], [nan, 5.0, -5.0, 0.0], UNIT, pairs((0, nan), (3, 0))),
        ([0.0, 1.0], [nan, 1.0], UNIT, pairs((0, nan), (1, -1))),
        ([0.0, 1.0], [inf, -inf], UNIT, pairs((0, -1e6), (1, 1e6))),
        ([1.0, 7, -1.0, 7, 0.0], [0.0, None, 0.0, None, 0.0], (0, 0, 0, 1, 0, 0, 1, 1),
         pairs((1e6, 0), (SEP, SEP), (-1e6, 0), (SEP, SEP), (nan, 0))),
        ([2.0, 3.0], [2.0, 1.0], (0, 1, 1, 0, 0, 0, 1, 1), pairs((2, -1e6), (3, nan))),
    ],
)
def test_examples(xs, ys, view, want):
    out = F(xs, ys, *view)
    arr, out_n = out
    assert type(arr) is array.array and arr.typecode == "d" and len(arr) == 2 * len(xs)
    assert flat(out) == want
    # Nothing past the result is left uninitialised.
    assert list(arr[2 * out_n :]) == [0.0] * (len(arr) - 2 * out_n)


@pytest.mark.parametrize("ys", [None, [], [1.0]])
def test_empty_xs(ys):
    arr, out_n = F([], ys, *UNIT)
    assert arr == array.array("d") and arr.buffer_info()[1] == 0 and out_n == 0


def shrink_ys():
    ys = [0.0, 1.0, 2.0]
    return [0.0, Shrinks(ys), 2.0], ys


def shrink_xs():
    xs = [0.0, 1.0, 2.0]
    return xs, [0.0, Shrinks(xs), 2.0]


@pytest.mark.parametrize(
    "make, exc, text, line",
    [
        (lambda: (None, [1.0]), TypeError, "object of type 'NoneType' has no len()", 215),
        (lambda: ([1.0], None), TypeError, "'NoneType' object is not subscriptable", 228),
        (lambda: ([1.0, 2.0], [1.0]), IndexError, "ys index 1 out of range", 228),
        (shrink_ys, IndexError, "ys index 2 out of range", 228),
        (shrink_xs, IndexError, "xs index 2 out of range", 251),
        (lambda: ([1.0, "a"], [1.0, 2.0]), TypeError, "must be real number, not str", 251),
        (lambda: ([1.0, "a"], [1.0, ()]), TypeError, "must be real number, not str", 251),
        (lambda: ([1.0, 2.0], [1.0, ()]), TypeError, "must be real number, not tuple", 252),
    ],
)
def test_kernel_failures(make, exc, text, line):
    xs, ys = make()
    with pytest.raises(exc, match=re.escape(text)) as e:
        F(xs, ys, *UNIT)
    assert_entry(e, "fn_to_screen_cy", line)


@pytest.mark.parametrize(
    "args, text, line",
    [
        (
            ([1.0], [1.0]) + UNIT[:7],
            "fn_to_screen_cy() takes exactly 10 positional arguments (9 given)",
            201,
        ),
        (([1.0], [1.0], "a") + UNIT[1:], "must be real number, not str", 203),
        (((1.0,), [1.0]) + UNIT[:7] + ("a",), "must be real number, not str", 204),
    ],
)
def test_front_end_failures(args, text, line):
    with pytest.raises(TypeError, match=re.escape(text)) as e:
        F(*args)
    assert_entry(e, "fn_to_screen_cy", line)


def test_y_item_outlives_the_x_conversion_that_drops_it():
    ys = [0.0, Box(7.0)]
    x = Hostile(1.0, lambda: ys.__setitem__(1, 5.0))  # drops the list's only reference to the Box
    assert flat(F([0.0, x], ys, *UNIT)) == pairs((0, 0), (1, -7))


def test_no_leaks():
    xs = [FloatSub(i) for i in range(50)]
    ys = [None if i % 7 == 3 else FloatSub(math.sin(i)) for i in range(50)]
    bad = list(ys)
    bad[40] = "x"

    def call():
        F(xs, ys, *UNIT)
        with pytest.raises(TypeError):
            F(xs, bad, *UNIT)

    leak_check(call, [xs, ys, bad, xs[5], ys[5], bad[40]])


def closed_segment_d2(p, a, b):
    """Squared distance of p to the closed segment a..b, a point when the chord is shorter."""
    cx, cy = b[0] - a[0], b[1] - a[1]
    L = cx * cx + cy * cy
    if L < 1e-15:
        return (p[0] - a[0]) ** 2 + (p[1] - a[1]) ** 2
    t = min(max(((p[0] - a[0]) * cx + (p[1] - a[1]) * cy) / L, 0.0), 1.0)
    return (a[0] + t * cx - p[0]) ** 2 + (a[1] + t * cy - p[1]) ** 2


@settings(max_examples=300, deadline=None)
@given(
    ys=st.lists(
        st.one_of(st.none(), st.floats(-50, 50), st.sampled_from([1e9, -1e9])), max_size=120
    ),
    dy=st.sampled_from([1.0, 1e3, 1e5]),
)
def test_dropped_samples_lie_within_half_a_pixel(ys, dy):
    n = len(ys)
    xs = [float(i) for i in range(n)]
    view = (0.0, max(n, 1) * 1.0, -5.0, dy, 10.0, 600.0, 800.0, 600.0)
    arr, out_n = F(xs, ys, *view)
    assert len(arr) == 2 * n and out_n <= n
    got = [(arr[2 * k], arr[2 * k + 1]) for k in range(out_n)]
    # The defined runs of ys, mapped exactly as the kernel does.
    runs, run = [], []
    for x, y in zip(xs, ys):
        if y is None:
            runs, run = runs + [run] * bool(run), []
            continue
        run.append(to_screen(x, y, *view, False, False))
    runs += [run] * bool(run)
    # Separators stand exactly between segments.
    parts, part = [], []
    for p in got:
        if p == (SEP, SEP):
            parts.append(part)
            part = []
        else:
            part.append(p)
    parts += [part] * bool(got)
    assert len(parts) == len(runs) and all(parts)
    for kept, samples in zip(parts, runs):
        assert kept[0] == samples[0] and kept[-1] == samples[-1]
        idx = [samples.index(p) for p in kept]  # px grows with the index: points are distinct
        assert idx == sorted(set(idx))
        for a, b in zip(idx, idx[1:]):
            for j in range(a + 1, b):
                assert closed_segment_d2(samples[j], samples[a], samples[b]) <= 0.25
