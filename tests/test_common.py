"""The checks that are the same for each of the five functions: results of small examples to the
bit, the failures and the traceback line each adds, and no reference leaks."""
import array
import math

import numpy as np
import pytest

import skyloom._cy_utils as cy
import skyloom.kernels as kernels
from helpers import Box, FloatSub, Hostile, Raises, Shrinks, assert_entry, entries, leak_check
from surface import DBL_MAX, key

NAN, INF = float("nan"), float("inf")
SEP = 1e308  # the separator point between the pieces of a sampled curve
UNIT = (0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 1.0, 1.0)  # pixel (x, -y) for data (x, y)
HUNDRED = (0.0, 1.0, 0.0, 1.0, 0.0, 100.0, 100.0, 100.0, 0, 0)  # pixel (100 x, 100 - 100 y)

TRAP, DEC, FN, NEAR, FIT = (
    "trapezoid_integral_cy", "decimated_to_screen_cy", "fn_to_screen_cy", "nearest_on_segments_cy",
    "polyfit_cy",
)  # fmt: skip


def screen(n, *points):
    """The screen functions' result for n samples: the array of 2 n doubles with the points first
    (the rest zero), and their count."""
    flat = [float(c) for p in points for c in p]
    return (array.array("d", flat + [0.0] * (2 * n - len(flat))), len(points))


EXAMPLES = [
    (TRAP, ([0, 1, 2], [0, 1, 2], None, None), 2.0),
    (TRAP, ([0, 1, 2], [0, 1, 2], 0.5, None), 1.5),  # no interpolation at the bound
    (TRAP, ([0, 1, 2], [0, 1, 2], 0, 1), 0.5),  # points on a bound are inside
    (TRAP, ([0, 1, 2], [0, 1, 2], 2, 0), 0.0),  # empty window
    (TRAP, ([2, 1, 0], [2, 1, 0], None, None), -2.0),  # decreasing x: signed area
    (TRAP, ([0, 1, 5, 2, 3], [1, 1, 1, 1, 1], 0, 3), 2.0),  # an outside point cuts both segments
    (TRAP, ([0, 1, 1, 2], [1, 1, 5, 1], None, None), 4.0),  # zero-width segment
    (TRAP, ([-INF, 0, 1], [1, 1, 1], None, None), 1.0),  # infinities are outside open bounds
    (TRAP, ([0, 1, INF], [1, 1, 1], None, None), 1.0),
    (TRAP, ([0.0, 1.0], [1.0, 1.0, "ignored", None], None, None), 1.0),  # ys items past len(xs)
    (TRAP, ([True, 3], [1, 1], None, None), 2.0),  # ints and bools convert
    # Fewer than two points: nothing else is read.
    (TRAP, ([], None, "abc", object()), 0.0),
    (TRAP, ([5.0], None, "abc", object()), 0.0),
    (TRAP, ([], [], None, None), 0.0),
    (TRAP, ([5.0], [], None, None), 0.0),
    # Nothing to emit: nothing is read.
    (DEC, (["never read"], None, 0) + UNIT + (0, 0), screen(0)),
    (DEC, ([], None, 3) + UNIT + (0, 0), screen(0)),
    (FN, ([0, 1, 2, 3], [1, None, None, 2], 0, 10, -1, 2, 40, 300, 500, 250),
     screen(4, (40, 50), (SEP, SEP), (190, -75))),
    (FN, ([0, 1, 2, 3, 4], [0, None, 1, None, 2]) + UNIT,
     screen(5, (0, 0), (SEP, SEP), (2, -1), (SEP, SEP), (4, -2))),
    (FN, ([0.0, 1.0, 2.0, 3.0], [0.0, 1.0, 2.0, 3.0]) + UNIT, screen(4, (0, 0), (3, -3))),
    (FN, ([0.0, 1.0, 2.0], [0.0, 0.5, 0.0]) + UNIT, screen(3, (0, 0), (2, 0))),
    (FN, ([0.0, 1.0, 2.0], [0.0, 0.52, 0.0]) + UNIT, screen(3, (0, 0), (1, -0.52), (2, 0))),
    (FN, ([0.0, 1.0], [5.0, 6.0]) + UNIT, screen(2, (0, -5), (1, -6))),
    (FN, ([None, "s", 2.0], [None, None, 1.0]) + UNIT, screen(3, (2, -1))),
    (FN, ([0.0, 1.0], [0.0, 1.0, None, "junk"]) + UNIT, screen(2, (0, 0), (1, -1))),
    (FN, ([None, None], [None, None]) + UNIT, screen(2)),
    # NaN is a sample, not a gap.
    (FN, ([0.0, 1.0, 2.0], [0.0, NAN, 0.0]) + UNIT, screen(3, (0, 0), (2, 0))),
    (FN, ([0.0, 1.0, 2.0, 3.0], [NAN, 5.0, -5.0, 0.0]) + UNIT, screen(4, (0, NAN), (3, 0))),
    (FN, ([0.0, 1.0], [NAN, 1.0]) + UNIT, screen(2, (0, NAN), (1, -1))),
    (FN, ([0.0, 1.0], [INF, -INF]) + UNIT, screen(2, (0, -1e6), (1, 1e6))),
    (FN, ([1.0, 7, -1.0, 7, 0.0], [0.0, None, 0.0, None, 0.0], 0, 0, 0, 1, 0, 0, 1, 1),
     screen(5, (1e6, 0), (SEP, SEP), (-1e6, 0), (SEP, SEP), (NAN, 0))),
    (FN, ([2.0, 3.0], [2.0, 1.0], 0, 1, 1, 0, 0, 0, 1, 1), screen(2, (2, -1e6), (3, NAN))),
    (FN, ([], None) + UNIT, screen(0)),
    (FN, ([], []) + UNIT, screen(0)),
    (FN, ([], [1.0]) + UNIT, screen(0)),
    (NEAR, (53, 54, [0.5], [0.5]) + HUNDRED, (0.5, 0.5, 5.0)),
    (NEAR, (303, 104, [3], [0]) + HUNDRED, (3.0, 0.0, 5.0)),
    (NEAR, (50, 90, [0, 1], [0, 0]) + HUNDRED, (0.5, 0.0, 10.0)),
    (NEAR, (-30, 60, [0, 1], [0, 0]) + HUNDRED, (0.0, 0.0, 50.0)),
    (NEAR, (190, 100, [0, 1], [0, 0]) + HUNDRED, (1.0, 0.0, 90.0)),
    # Two segments 12.5 pixels away: the first one wins.
    (NEAR, (50, 87.5, [0, 1, 1, 0], [0, 0, 0.25, 0.25]) + HUNDRED, (0.5, 0.0, 12.5)),
    # A degenerate segment counts as its first vertex.
    (NEAR, (103, 104, [1, 1], [0, 0]) + HUNDRED, (1.0, 0.0, 5.0)),
    # A NaN vertex spoils both segments that touch it.
    (NEAR, (103, 104, [0, NAN, 1], [0, 0, 0]) + HUNDRED, (0.0, 0.0, DBL_MAX)),
    (NEAR, (INF, 50, [0, 1], [0, 0]) + HUNDRED, (0.0, 0.0, DBL_MAX)),
    (NEAR, (50, NAN, [0, 1, 2], [0, 0, 1]) + HUNDRED, (0.0, 0.0, DBL_MAX)),
    (NEAR, (INF, 0, [0.5], [0.5]) + HUNDRED, (0.5, 0.5, INF)),
    (NEAR, (NAN, 0, [0.5], [0.5]) + HUNDRED, (0.5, 0.5, NAN)),
    (NEAR, (NAN, INF, [0.5], [0.5]) + HUNDRED, (0.5, 0.5, INF)),
    # No vertex: no result, and ys is not looked at.
    (NEAR, (1.0, 2.0, [], []) + HUNDRED, None),
    (NEAR, (1.0, 2.0, [], None) + HUNDRED, None),
    (NEAR, (1.0, 2.0, [], ["a"]) + HUNDRED, None),
    (FIT, ([], [], 2), [0.0, 0.0, 0.0]),
    (FIT, ([], None, 0), [0.0]),
    (FIT, ([1, 2, 3], [2, 4, 9], 0), [5.0]),
    (FIT, ([2], [3], 1), [1.5, 0.0]),
    (FIT, ([1, 1, 1], [1, 2, 3], 1), [2.0, 0.0]),
    (FIT, ([0, 1, 2, 3], [0, 1, 4, 9], 2), [1.0, 0.0, -0.0]),
    (FIT, ([0, 1, 2], [1, 3, 5], 1), [2.0000000000000004, 0.9999999999999992]),
    (FIT, ([0, NAN, 2], [1, 2, 3], 1), [NAN, NAN]),
    (FIT, ([0, NAN, 2], [1, 2, 3], 0), [2.0]),
    (FIT, ([0, 1, 2], [1, NAN, 3], 0), [NAN]),
    (FIT, ([], [], -1), []),
    (FIT, ([], None, -2147483648), []),
]  # fmt: skip


@pytest.mark.parametrize("name, args, want", EXAMPLES, ids=[e[0] for e in EXAMPLES])
def test_examples_to_the_bit(name, args, want):
    # key() compares floats by bit pattern (-0.0 is not 0.0) and checks every type on the way.
    assert key(getattr(cy, name)(*args)) == key(want)


def cut(n, pos, item_in, victim, keep=0):
    """xs and ys of n points, in which converting item pos of item_in ("x" or "y") cuts the list
    victim ("x" or "y") down to its first keep items."""
    lists = {"x": [float(i) for i in range(n)], "y": [float(i) for i in range(n)]}
    lists[item_in][pos] = Shrinks(lists[victim], keep=keep)
    return lists["x"], lists["y"]


def grown_and_shrunk():
    """An item that replaces the tail of xs with a shorter one and changes ys, between runs of
    exact floats."""
    xs, ys = [0.0, 1.0, 2.0, 3.0, 4.0, 5.0], [1.0] * 6

    def mutate():
        xs[4:] = [40.0]  # shrinks xs to 5 items: index 5 is gone
        ys[3] = 2.0

    xs[2] = Hostile(2.0, mutate)
    return xs, ys


def with_bad_item(n, pos, which):
    # A str item: its conversion error comes from the interpreter itself, with no frame of its own.
    xs, ys = [0.0] * n, [0.0] * n
    (xs if which == "x" else ys)[pos] = "bad item"
    return xs, ys


NONE_LEN = "object of type 'NoneType' has no len()"
NONE_ITEM = "'NoneType' object is not subscriptable"
NOT_REAL = "must be real number, not %s"


def out_of_range(name, i, have, n):
    return "%s index %d out of range: %s has %d items but len(%s) was %d" % (
        name, i, name, have, "xn" if name in ("xn", "yn") else "xs", n)


# (function, the call's arguments made afresh, the error, its message, the line of the entry)
FAILURES = [
    (TRAP, lambda: (None, [], None, None), TypeError, NONE_LEN, 158),
    (TRAP, lambda: ([0, 1], [0, 1], "x", None), TypeError, NOT_REAL % "str", 161),
    (TRAP, lambda: ([0, 1], [0, 1], None, Raises()), ZeroDivisionError, "bad item", 162),
    (TRAP, lambda: ([0, 1], None, None, None), TypeError, NONE_ITEM, 165),
    (TRAP, lambda: ([0, Raises()], [0, 1], None, None), ZeroDivisionError, "bad item", 165),
    (TRAP, lambda: ([0, 1], [0, Raises()], None, None), ZeroDivisionError, "bad item", 165),
    (TRAP, lambda: ([0, 1, 2], [0, 1], None, None), IndexError, out_of_range("ys", 2, 2, 3), 165),
    (TRAP, lambda: cut(4, 1, "x", "x", keep=2) + (None, None), IndexError,
     out_of_range("xs", 2, 2, 4), 165),
    (TRAP, lambda: grown_and_shrunk() + (None, None), IndexError, out_of_range("xs", 5, 5, 6), 165),
    (DEC, lambda: (None, [1.0], 3) + UNIT + (0, 0), TypeError, NONE_LEN, 138),
    (DEC, lambda: ([0.0] * 4, None, 3) + UNIT + (0, 0), TypeError, NONE_ITEM, 147),
    (DEC, lambda: ([0.0] * 4, None, 1) + UNIT + (0, 0), TypeError, NONE_ITEM, 149),
    (DEC, lambda: with_bad_item(10, 5, "x") + (4,) + UNIT + (0, 0), TypeError, NOT_REAL % "str", 147),
    (DEC, lambda: with_bad_item(10, 5, "y") + (4,) + UNIT + (0, 0), TypeError, NOT_REAL % "str", 147),
    (DEC, lambda: with_bad_item(10, 9, "y") + (4,) + UNIT + (0, 0), TypeError, NOT_REAL % "str", 149),
    # The x item is converted before ys is found to be None.
    (DEC, lambda: (["bad item", 1.0], None, 5) + UNIT + (0, 0), TypeError, NOT_REAL % "str", 147),
    (DEC, lambda: ([1.0, 2.0, 3.0], [1.0], 5) + UNIT + (0, 0), IndexError,
     out_of_range("ys", 1, 1, 3), 147),
    (DEC, lambda: ([1.0, 2.0, 3.0], [1.0, 2.0], 2) + UNIT + (0, 0), IndexError,
     out_of_range("ys", 2, 2, 3), 149),
    (DEC, lambda: cut(4, 0, "x", "x") + (4,) + UNIT + (0, 0), IndexError,
     out_of_range("xs", 1, 0, 4), 147),
    (DEC, lambda: cut(2, 0, "y", "y") + (2,) + UNIT + (0, 0), IndexError,
     out_of_range("ys", 1, 0, 2), 149),
    (FN, lambda: (None, [1.0]) + UNIT, TypeError, NONE_LEN, 215),
    (FN, lambda: ([1.0], None) + UNIT, TypeError, NONE_ITEM, 228),
    (FN, lambda: ([1.0, 2.0], [1.0]) + UNIT, IndexError, out_of_range("ys", 1, 1, 2), 228),
    (FN, lambda: cut(3, 1, "x", "y") + UNIT, IndexError, out_of_range("ys", 2, 0, 3), 228),
    (FN, lambda: cut(3, 1, "y", "x") + UNIT, IndexError, out_of_range("xs", 2, 0, 3), 251),
    (FN, lambda: ([1.0, "a"], [1.0, 2.0]) + UNIT, TypeError, NOT_REAL % "str", 251),
    (FN, lambda: ([1.0, "a"], [1.0, ()]) + UNIT, TypeError, NOT_REAL % "str", 251),
    (FN, lambda: ([1.0, 2.0], [1.0, ()]) + UNIT, TypeError, NOT_REAL % "tuple", 252),
    (FN, lambda: ([1.0], [1.0]) + UNIT[:7], TypeError,
     "fn_to_screen_cy() takes exactly 10 positional arguments (9 given)", 201),
    (FN, lambda: ([1.0], [1.0], "a") + UNIT[1:], TypeError, NOT_REAL % "str", 203),
    (FN, lambda: ((1.0,), [1.0]) + UNIT[:7] + ("a",), TypeError, NOT_REAL % "str", 204),
    (NEAR, lambda: (0, 0, None, [1.0]) + HUNDRED, TypeError, NONE_LEN, 106),
    (NEAR, lambda: (0, 0, [1.0], None) + HUNDRED, TypeError, NONE_ITEM, 110),
    (NEAR, lambda: (0, 0, [1.0, 2.0], None) + HUNDRED, TypeError, NONE_ITEM, 110),
    (NEAR, lambda: (0, 0, ["a", 2.0], None) + HUNDRED, TypeError, NOT_REAL % "str", 110),
    (NEAR, lambda: (0, 0, [1.0, 2.0], ["a", 2.0]) + HUNDRED, TypeError, NOT_REAL % "str", 110),
    (NEAR, lambda: (0, 0, [1.0, 2.0, "a"], [0.0] * 3) + HUNDRED, TypeError, NOT_REAL % "str", 115),
    (NEAR, lambda: (0, 0, [1.0, 2.0], [0.0, b"a"]) + HUNDRED, TypeError, NOT_REAL % "bytes", 115),
    (NEAR, lambda: (0, 0, [1.0], []) + HUNDRED, IndexError, out_of_range("ys", 0, 0, 1), 110),
    (NEAR, lambda: (0, 0, [1.0, 2.0, 3.0], [0.0, 1.0]) + HUNDRED, IndexError,
     out_of_range("ys", 2, 2, 3), 115),
    (NEAR, lambda: (0, 0) + cut(3, 1, "x", "x") + HUNDRED, IndexError,
     out_of_range("xs", 2, 0, 3), 115),
    (NEAR, lambda: (0.0, 0.0) + cut(700, 300, "x", "x", keep=280) + HUNDRED, IndexError,
     out_of_range("xs", 301, 280, 700), 115),
    (FIT, lambda: (None, [1.0], 1), TypeError, NONE_LEN, 282),
    (FIT, lambda: (None, None, -3), TypeError, NONE_LEN, 282),
    (FIT, lambda: ([1.0], None, 1), TypeError, NONE_ITEM, 292),
    (FIT, lambda: ([Raises()], None, 1), ZeroDivisionError, "bad item", 292),
    (FIT, lambda: ([1.0, 2.0], [1.0, Raises()], 1), ZeroDivisionError, "bad item", 292),
    (FIT, lambda: ([1.0, "2"], [1.0, 2.0], 1), TypeError, NOT_REAL % "str", 292),
    (FIT, lambda: ([1.0, 2.0, 3.0], [1.0, 2.0], 1), IndexError, out_of_range("yn", 2, 2, 3), 292),
    (FIT, lambda: cut(3, 1, "x", "x") + (1,), IndexError,
     out_of_range("xn", 2, 0, 3), 292),
    (FIT, lambda: cut(3, 1, "x", "y") + (1,), IndexError,
     out_of_range("yn", 1, 0, 3), 292),
    (FIT, lambda: ([1.0], [1.0], -1), ValueError, "polyfit_cy() needs deg >= 0 for a non-empty xn, got deg -1", 283),
    (FIT, lambda: ([1.0], None, -2147483648), ValueError,
     "polyfit_cy() needs deg >= 0 for a non-empty xn, got deg -2147483648", 283),
    (FIT, lambda: ([], [], "1"), TypeError, "an integer is required", 280),
    (FIT, lambda: ([], [], 2**40), OverflowError, "Python int too large to convert to C long", 280),
    (FIT, lambda: ((), [], "1"), TypeError, "an integer is required", 280),
]  # fmt: skip


@pytest.mark.parametrize("name, make, exc, message, line", FAILURES, ids=[f[0] for f in FAILURES])
def test_failures_and_their_lines(name, make, exc, message, line):
    with pytest.raises(exc) as e:
        getattr(cy, name)(*make())
    assert str(e.value) == message
    assert_entry(e, name, line)
    if isinstance(e.value, ZeroDivisionError):  # raised inside the item's own __float__, below
        assert entries(e.value)[-1][0] == "__float__"


def leak_data():
    """For each function, its leak checks by label: the calls (arguments, and the error they raise
    or None), the objects whose reference counts must stay put, and the number of rounds."""
    xs, ys = [float(i) for i in range(50)], [1.0] * 50
    bad = [0.0, Raises()]
    lo = 3.0
    trap = [((xs, ys, lo, None), None), ((bad, ys, None, None), ZeroDivisionError),
            ((xs, [1.0], None, None), IndexError)]
    checks = {(TRAP, "results and failures"): (trap, [xs, ys, lo, bad, *bad], 2000)}

    xs = [float(i) for i in range(300)] + [7]
    ys = [i * 0.5 for i in range(301)]
    bad = xs[:-1] + [b"bad item"]
    rest = UNIT + (0, 0)
    checks[DEC, "results"] = ([((xs, ys, 50) + UNIT + (1, 0), None)], [xs, ys] + xs[:3] + ys[-3:],
                              2000)
    checks[DEC, "failures"] = ([((bad, ys, 50) + rest, TypeError), ((xs, ys, -5) + rest, SystemError),
                                ((xs, None, 50) + rest, TypeError)], [xs, ys, bad, bad[-1]], 2000)

    xs = [FloatSub(i) for i in range(50)]
    ys = [None if i % 7 == 3 else FloatSub(math.sin(i)) for i in range(50)]
    bad = list(ys)
    bad[40] = "x"
    checks[FN, "results and failures"] = ([((xs, ys) + UNIT, None), ((xs, bad) + UNIT, TypeError)],
                                          [xs, ys, bad, xs[5], ys[5], bad[40]], 2000)

    # An int item, read as one: one the interpreter does not share, since the counts of its
    # cached small ints move with everyone's work (the checks' own lists of counts included).
    xs = [float(i) for i in range(200)] + [int("1000")]
    ys = [(i % 7) * 0.5 for i in range(201)]
    bad = ys[:-1] + ["x"]
    one_x, one_y, short = xs[-1:], ys[:1], ys[:5]
    checks[NEAR, "results"] = ([((50.0, 60.0, xs, ys) + HUNDRED, None)], [xs, ys, xs[-1], ys[0]], 2000)
    checks[NEAR, "one vertex"] = ([((50.0, 60.0, one_x, one_y) + HUNDRED, None)],
                                  [one_x, one_y, xs[-1], ys[0]], 2000)
    checks[NEAR, "failures"] = ([((1.0, 2.0, xs, bad) + HUNDRED, TypeError),
                                 ((1.0, 2.0, xs, None) + HUNDRED, TypeError),
                                 ((1.0, 2.0, xs, short) + HUNDRED, IndexError)],
                                [xs, ys, bad, bad[-1]], 2000)

    xn = [float(i) for i in range(50)] + [Box(3.0), 7]
    yn = [float(i * i) for i in range(50)] + [FloatSub(2.0), 1]
    bad = [1.0, Raises()]
    short = yn[:3]
    checks[FIT, "results"] = ([((xn, yn, 3), None)], [xn, yn] + xn[-2:] + yn[-2:], 2000)
    checks[FIT, "capped degree"] = ([((xn, yn, 20), None)], [xn, yn], 2000)
    checks[FIT, "failures"] = ([((xn, bad, 2), ZeroDivisionError), ((xn, yn, -1), ValueError),
                                ((xn, short, 1), IndexError), ((xn, None, 0), TypeError)],
                               [xn, yn, bad, bad[1]], 500)
    return checks


@pytest.mark.parametrize("name, label", list(leak_data()), ids=lambda v: v.replace(" ", "-"))
def test_no_reference_leaks(name, label):
    calls, objects, rounds = leak_data()[name, label]
    fn = getattr(cy, name)

    def run():
        for args, error in calls:
            if error is None:
                fn(*args)
                continue
            try:
                fn(*args)
            except error:
                pass
            else:
                raise AssertionError("%s%r did not raise %s" % (name, args, error.__name__))

    leak_check(run, objects, rounds)


def kernel_leak_data():
    """skyloom.kernels on lists and on buffers of several kinds: results and every way a call can
    be refused (mixed kinds, shapes, formats, a short ys, bad numbers) or fail in a list."""
    xa, ya = array.array("d", range(40)), array.array("d", [i % 7 for i in range(40)])
    xm = memoryview(array.array("i", range(80)))[::-2]  # strided and reversed
    yn = np.linspace(0.0, 1.0, 40, dtype=np.float32)
    square, wrong = np.zeros((4, 10)), np.zeros(40, ">f8")
    xl, yl = list(map(float, xa)), [Box(v) for v in ya]
    view = (0.0, 40.0, 0.0, 8.0, 0.0, 100.0, 100.0, 100.0)
    calls = {
        "trapezoid_integral": [
            ((xa, ya, 1.0, None), None), ((xm, yn, None, None), None), ((xl, yl, 2, 30), None),
            ((xa, yl, None, None), TypeError), ((square, ya, None, None), ValueError),
            ((xa, wrong, None, None), TypeError), ((xa, ya[:3], None, None), ValueError),
            ((xa, ya, "lo", None), TypeError), ((xl, [Raises()] * 40, None, None),
                                                  ZeroDivisionError)],
        "polyfit": [
            ((xa, ya, 3), None), ((xm, yn, 12), None), ((xl, yl, 2), None),
            ((xa, ya, -1), ValueError), ((xa, ya, "2"), TypeError), ((yl, xa, 1), TypeError)],
        "fn_to_screen": [
            ((xa, ya) + UNIT, None), ((xm, yn) + UNIT, None), ((xl, yl) + UNIT, None),
            ((xa, wrong) + UNIT, TypeError), ((xa, ya, "x0") + UNIT[1:], TypeError)],
        "decimated_to_screen": [
            ((xa, ya, 9) + view + (1, 0), None), ((xm, yn, 100) + view + (0, 1), None),
            ((xl, yl, 9) + view + (0, 0), None), ((xa, ya, -1) + view + (0, 0), ValueError),
            ((xa, ya[:1], 9) + view + (0, 0), ValueError)],
        "nearest_on_segments": [
            ((30.0, 40.0, xa, ya) + view + (0, 0), None),
            ((3.0, 4.0, xm, yn) + view + (1, 1), None),
            ((30.0, 40.0, xl, yl) + view + (0, 0), None),
            ((30.0, 40.0, xa, square) + view + (0, 0), ValueError),
            ((30.0, 40.0, xl, [1.0]) + view + (0, 0), IndexError)],
    }
    objects = [xa, ya, xm, yn, square, wrong, xl, yl, yl[3]]
    return calls, objects


@pytest.mark.parametrize("name", sorted(kernel_leak_data()[0]))
def test_kernels_leak_nothing(name):
    calls, objects = kernel_leak_data()
    fn = getattr(kernels, name)

    def run():
        for args, error in calls[name]:
            if error is None:
                fn(*args)
                continue
            with pytest.raises(error):
                fn(*args)

    leak_check(run, objects, 500)
    # Every buffer was given back: the array can be resized again.
    objects[0].append(1.0)
