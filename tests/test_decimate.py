"""decimated_to_screen_cy: striding, mapping and the negative count (examples, failure lines and
leaks of all five functions: test_common.py)."""
import math

import pytest

from helpers import Counted, FloatSub, entries
from surface import decimated_indices, same, to_screen
from skyloom._cy_utils import decimated_to_screen_cy as dec

FN = "decimated_to_screen_cy"
# Identity mapping along x (pixel x = data x) and y turned upside down around 0.
IDENT = (0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 1.0, 1.0)


def call(xs, ys, max_pts, view=IDENT, lx=0, ly=0):
    return dec(xs, ys, max_pts, *view, lx, ly)


def chosen(n, max_pts):
    """Input indices emitted, read back from pixel x = index / 4 (exact, and inside the clamp)."""
    xs = [float(i) for i in range(n)]
    buf, out_n = call(xs, xs, max_pts, view=(0.0, 4.0, 0.0, 4.0, 0.0, 0.0, 1.0, 1.0))
    assert len(buf) == 2 * out_n
    assert list(buf[1::2]) == [-v for v in buf[0::2]]
    return [int(v * 4.0) for v in buf[0::2]]


@pytest.mark.parametrize(
    "n, max_pts, indices",
    [
        (3, 1000, [0, 1, 2]),
        (10, 4, [0, 2, 5, 9]),
        (10, 3, [0, 3, 9]),
        (10, 7, [0, 1, 2, 4, 5, 7, 9]),
        (1000, 3, [0, 333, 999]),
        (5, 1, [4]),
        (6, 6, [0, 1, 2, 3, 4, 5]),
        (2, 2, [0, 1]),
        (30, 22, [0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 16, 17, 19, 20, 21, 23, 24, 25, 27, 29]),
        (1, 5, [0]),
    ],
)
def test_index_table(n, max_pts, indices):
    assert chosen(n, max_pts) == indices


@pytest.mark.parametrize(
    "n, max_pts",
    # 30 / 22 and 45 / 33 are where the double product falls short of the exact integer quotient.
    [(30, 22), (45, 33), (60, 44), (1000, 999), (12345, 2000), (99991, 2000), (10**6 + 3, 1999)],
)
def test_striding_matches_double_product(n, max_pts):
    # Indices are i * (n / max_pts) in doubles, truncated: not the integer i * n // max_pts.
    got = chosen(n, max_pts)
    assert got == decimated_indices(n, max_pts)
    assert len(got) == max_pts and got[0] == 0 and got[-1] == n - 1
    assert all(a < b for a, b in zip(got, got[1:]))


def test_only_chosen_items_are_converted():
    n, max_pts = 1000, 7
    idx = decimated_indices(n, max_pts)
    # Items that are not chosen are strs: converting any of them would raise.
    xs = ["x"] * n
    ys = ["y"] * n
    for i in idx:
        xs[i], ys[i] = Counted(float(i)), Counted(2.0 * i)
    Counted.calls = 0
    buf, out_n = call(xs, ys, max_pts)
    assert Counted.calls == 2 * max_pts
    assert same(buf, [c for i in idx for c in to_screen(i, 2.0 * i, *IDENT, 0, 0)])


VIEWS = [
    (0.0, 10.0, -5.0, 20.0, 40.0, 470.0, 640.0, 430.0, 0, 0),
    (-1.0, 4.0, -2.0, 3.5, 12.5, 300.0, 777.0, 299.0, 1, 1),
    (0.5, 3.0, 0.0, 7.0, 0.0, 100.0, 100.0, 100.0, 1, 0),
    (0.0, 1e-9, 0.0, 1e-9, 0.0, 0.0, 1e3, 1e3, 0, 1),
]


@pytest.mark.parametrize("view", VIEWS)
def test_points_mapped_bit_for_bit(view):
    xs = [(-1.0) ** i * i * 0.37 + 1e-3 * i * i for i in range(5000)]
    xs += [0.0, -0.0, math.inf, -math.inf, math.nan, 1e-320, 5e300]
    ys = [math.sin(i) * 10.0**(i % 7 - 3) for i in range(len(xs))]
    ys.reverse()
    n, max_pts = len(xs), 1234
    buf, out_n = dec(xs, ys, max_pts, *view)
    want = [c for i in decimated_indices(n, max_pts) for c in to_screen(xs[i], ys[i], *view)]
    assert out_n == max_pts and same(buf, want)
    # Every point kept when the series is short enough, ints and float subclasses included.
    short = [1, 2.5, True, FloatSub(4.0)]
    buf, out_n = dec(short, short[::-1], 4, *view)
    want = [c for x, y in zip(short, short[::-1]) for c in to_screen(x, y, *view)]
    assert out_n == 4 and same(buf, want)


@pytest.mark.parametrize(
    "x, y, view, point",
    [
        # Non-positive and NaN values on log axes go off the plot, far left and far below.
        (0.0, -3.0, (0, 3, 0, 3, 0, 0, 800, 800, 1, 1), (-1e6, 1e6)),
        (math.nan, 0.0, (0, 3, 0, 3, 0, 0, 1, 1, 1, 1), (-1e6, 1e6)),
        # A zero span: infinities are pinned, 0 / 0 stays NaN.
        (2.0, 1.0, (1, 0, 1, 0, 0, 0, 5, 5, 0, 0), (1e6, math.nan)),
    ],
)
def test_log_axes_and_clamping(x, y, view, point):
    buf, out_n = dec([x], [y], 1, *view)
    assert out_n == 1 and same(buf, point)


@pytest.mark.parametrize("xs, max_pts", [([1.0, 2.0], -1), ([], -3), (["never read"], -(2**31))])
def test_negative_max_pts_is_a_negative_array_length(xs, max_pts):
    with pytest.raises(SystemError, match="^bad argument to internal function$") as ei:
        call(xs, None, max_pts)
    # The creation step adds its entry first, then the function its own.
    outer, inner = entries(ei.value)[-2:]
    assert (outer[0], outer[2]) == ("skyloom._cy_utils." + FN, 140)
    assert inner[0].startswith("skyloom._cy_utils.")


@pytest.mark.parametrize("max_pts", [255, 256, 257, 700, 2000])
@pytest.mark.parametrize("n", [1000, 5000])
def test_long_series_map_bit_for_bit_across_blocks(n, max_pts):
    xs = [0.37 * i - 80.0 for i in range(n)]
    ys = [((i * 53) % 97) * 1e4 - 4e5 for i in range(n)]
    # Values that the clamp pins or lets through, and items of other types, around block ends.
    for k, (x, y) in zip(range(250, n, 251), [(math.inf, 1.0), (math.nan, -math.inf), (1e300, 3)]
                         * 10):
        xs[k], ys[k] = x, y
    idx = decimated_indices(n, max_pts)
    for k in idx[254:259] + idx[-3:]:
        xs[k] = FloatSub(xs[k])
    view = (-100.0, 2000.0, -5e5, 1e6, 40.0, 470.0, 1200.0, 430.0)
    buf, out_n = call(xs, ys, max_pts, view=view)
    want = [c for i in idx for c in to_screen(xs[i], ys[i], *view, 0, 0)]
    assert out_n == len(idx) and same(buf, want)
