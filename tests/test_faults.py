"""Allocation failures: every allocation a call makes is made to fail in turn; each attempt must
either give the right result or raise MemoryError, and nothing may leak."""
import array
import gc
import math
import struct
import sys

import pytest

import numpy as np
import skyloom._cy_utils as cy
import skyloom.kernels as kernels
from helpers import Box, IntLike, refcount

_testcapi = pytest.importorskip("_testcapi")

UNIT = (0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 1.0, 1.0)  # fn_to_screen_cy: px = x, py = -y
VIEW = (0.0, 4.0, -1.0, 2.0, 10.0, 300.0, 640.0, 280.0)  # a window and plot rectangle
LOG = (-1.0, 2.0, -1.0, 2.0, 10.0, 300.0, 640.0, 280.0)  # in decades on log axes


class Drained:
    """Empties the free lists of floats, small tuples, lists and dicts while it is held, so that the
    objects a call makes really come from the allocator (and can be made to fail there)."""

    def __enter__(self):
        self.held = (
            [i + 0.5 for i in range(200)],  # no temporary float goes back to the list
            [(i, i) for i in range(2100)],
            [(i, i, i) for i in range(2100)],
            [[i] for i in range(200)],
            [{i: i} for i in range(200)],
        )
        return self

    def __exit__(self, *exc):
        del self.held


def key(r):
    """A comparable form of a result: floats by bit pattern, arrays by typecode and bytes."""
    if isinstance(r, float):
        return ("f", b"nan" if math.isnan(r) else struct.pack("<d", r))
    if isinstance(r, array.array):
        return ("a", r.typecode, r.tobytes())
    if isinstance(r, (tuple, list)):
        return (type(r).__name__, tuple([key(v) for v in r]))
    return (type(r).__name__, r)


FAILED = object()
SWEEPS = 6


def attempt(call, start, stop):
    """call() with allocations start+1 ... stop failing (every one from start+1 when stop is 0)."""
    with Drained():
        _testcapi.set_nomemory(start, stop)
        try:
            return call()
        except MemoryError:
            return FAILED
        except SystemError as e:
            # The interpreter's eval loop losing an exception that Python code was handling when
            # an allocation failed (seen on 3.8 and 3.10 with any raising callee): not the
            # module's doing, whose lost exception the interpreter reports by the function's name.
            if "EvalFrame" not in str(e):
                raise
            return FAILED
        finally:
            _testcapi.remove_mem_hooks()


def sweep(call, expected):
    """Fails every allocation from the k-th on, for k = 0, 1, ... until the call runs through, then
    fails each single one of them. Returns the number of attempts."""
    k = 0
    while True:
        r = attempt(call, k, 0)
        if r is not FAILED:
            assert key(r) == expected, (k, r)
            break
        k += 1
        assert k < 100000, "the call never ran through"
    # Only the call's own k allocations: failing one past them would fail the interpreter's own
    # work after the call, which is not what is tested here.
    for j in range(k):
        r = attempt(call, j, j + 1)
        if r is not FAILED:
            assert key(r) == expected, (j, r)
    return 2 * (k + 1)


def check(fn, args, kwargs=None, held=()):
    """Sweeps fn(*args, **kwargs) until it is warm, then SWEEPS times more: those must leave the
    reference counts of the arguments (and of held) where they were, and the allocated block count
    too, up to the few blocks that the free lists of small tuples take back or give out (a leak
    grows by a block or more per sweep)."""
    kwargs = kwargs or {}
    call = lambda: fn(*args, **kwargs)  # noqa: E731
    expected = key(call())
    gc.collect()
    gc.disable()  # no collection (or finaliser) inside a failing allocation
    try:
        errors = [MemoryError() for _ in range(32)]  # fills the interpreter's cache of them
        del errors
        # Caches and free lists that failing allocations keep from filling fill over the first
        # sweeps (over tens of them on newer interpreters): warm until two sweeps running leave
        # the block count as it was.
        still = 0
        for _ in range(40):
            blocks = sys.getallocatedblocks()
            sweep(call, expected)
            still = still + 1 if sys.getallocatedblocks() == blocks else 0
            if still == 2:
                break
        # Small ints and None are shared by everyone: their counts move with the test's own work.
        objects = [
            o
            for o in list(args) + list(kwargs.values()) + list(held)
            if not isinstance(o, int) and o is not None
        ]
        refs = [refcount(o) for o in objects]
        blocks = sys.getallocatedblocks()
        attempts = sum([sweep(call, expected) for _ in range(SWEEPS)])
        grown = sys.getallocatedblocks() - blocks
        assert [refcount(o) for o in objects] == refs
        assert grown < SWEEPS
    finally:
        gc.enable()
    return attempts


def zigzag(n):
    """n samples that simplification keeps all of."""
    return [float(i) for i in range(n)], [float(5 * (i % 2)) for i in range(n)]


ZX, ZY = zigzag(300)
NAMES = ("x0", "dx", "y0", "dy", "pl", "pb", "pw", "ph")
MANY_X = [float(i) * 0.25 for i in range(40)]
MANY_Y = [math.sin(x) for x in MANY_X]
MIXED_X = [0.0, 1, Box(2.0), 3.0, Box(4)]
MIXED_Y = [Box(1.0), 2.0, 3, Box(-1.0), 0.5]

TRAPEZOID = [
    ([], [], None, None),
    ([1.0], None, "never read", None),
    ([0.0, 1.0, 2.0], [0.0, 1.0, 2.0], None, None),
    (MANY_X, MANY_Y, 1.0, Box(7.5)),
    ([0.0, 1.0, 5.0, 2.0, 3.0], [1.0] * 5, 0, 3),  # a point outside: a gap in the sum
    (MIXED_X, MIXED_Y, None, None),
]

POLYFIT = [
    ([], [], 2),  # every pivot zero
    ([], None, -3),  # no coefficients at all
    ([2.0], [3.0], 1),
    ([1.0, 2.0, 3.0], [2.0, 4.0, 9.0], 0),
    (MANY_X, MANY_Y, 3),
    (MANY_X, MANY_Y, 20),  # capped at ten coefficients
    (ZX, ZY, 5),  # more points than one run of conversions
    (MIXED_X, MIXED_Y, IntLike(2)),
]

FN_TO_SCREEN = [
    ([], None),  # the empty result
    ([1.0], [2.0]),
    ([0.0, 1.0], [5.0, 6.0]),
    ([0.0, 1.0, 2.0, 3.0, 4.0], [0.0, None, 1.0, None, 2.0]),  # gaps and single samples
    ([None, None], [None, None]),  # every sample a gap
    (MANY_X, MANY_Y),
    (ZX, ZY),  # a count past the small-int cache
    (MIXED_X, MIXED_Y[:2] + [None] + MIXED_Y[3:]),
]


DECIMATED = [
    ([], None, 10, *VIEW, False, False),  # nothing to emit
    (MANY_X, MANY_Y, 0, *VIEW, False, False),
    ([1.0], [2.0], 5, *VIEW, False, False),
    (MANY_X, MANY_Y, 1000, *VIEW, False, False),  # every point
    (MANY_X, MANY_Y, 7, *VIEW, True, 1),  # strided, on log axes
    (ZX, ZY, 290, *LOG, 0, [1]),  # a count past the small-int cache
    (MIXED_X, MIXED_Y, IntLike(2), *VIEW, "", Box(1)),
]

NEAREST = [
    (1.0, 2.0, [], None, *VIEW, False, False),  # None
    (53.0, 54.0, [0.5], [0.5], *VIEW, False, False),  # one vertex
    (200.0, 150.0, MANY_X, MANY_Y, *VIEW, False, False),
    (200.0, 150.0, MANY_X, MANY_Y, *LOG, True, True),
    (Box(3.0), 7, MIXED_X, MIXED_Y, *VIEW, 0, 1),
]


SWEPT = (
    [(cy.decimated_to_screen_cy, args) for args in DECIMATED]
    + [(cy.nearest_on_segments_cy, args) for args in NEAREST]
    + [(cy.trapezoid_integral_cy, args) for args in TRAPEZOID]
    + [(cy.polyfit_cy, args) for args in POLYFIT]
    + [(cy.fn_to_screen_cy, args + UNIT) for args in FN_TO_SCREEN]
)



def buffers(xs, ys):
    """The same values as buffers of three kinds: array.array of doubles, a reversed memoryview of
    floats, a strided numpy column."""
    a = (array.array("d", xs), array.array("d", ys))
    m = (memoryview(array.array("f", xs[::-1]))[::-1], memoryview(array.array("f", ys[::-1]))[::-1])
    n = (np.array([xs, xs]).T[:, 1], np.array([ys, ys]).T[:, 0])
    return [a, m, n]


BX, BY = MANY_X[:30], MANY_Y[:30]
# The kernels on lists take the list functions' paths; on buffers, their own.
SWEPT += (
    [(kernels.trapezoid_integral, args) for args in TRAPEZOID[2:4]]
    + [(kernels.polyfit, args) for args in POLYFIT[3:5]]
    + [(kernels.fn_to_screen, args + UNIT) for args in FN_TO_SCREEN[3:4]]
    + [(kernels.decimated_to_screen, DECIMATED[4])]
    + [(kernels.nearest_on_segments, NEAREST[2])]
    + [(kernels.m4_to_screen, (MANY_X, MANY_Y, *VIEW, False, False)),
       (kernels.m4_to_screen, (MIXED_X, MIXED_Y, *LOG, True, 1)),
       (kernels.m4_to_screen, ([], None, *VIEW, False, False))]
)
for bx, by in buffers(BX, BY):
    SWEPT += [
        (kernels.trapezoid_integral, (bx, by, 1.0, None)),
        (kernels.polyfit, (bx, by, 3)),
        (kernels.fn_to_screen, (bx, by) + UNIT),
        (kernels.decimated_to_screen, (bx, by, 7, *LOG, True, True)),
        (kernels.decimated_to_screen, (bx[:0], by[:0], 7, *VIEW, False, False)),
        (kernels.nearest_on_segments, (200.0, 150.0, bx, by, *VIEW, False, False)),
        (kernels.m4_to_screen, (bx, by, *VIEW, False, False)),
        (kernels.m4_to_screen, (bx, by, *LOG, True, True)),
    ]
# The sorted scan reads x and y apart, by search: ascending x in the three kinds of buffer.
for bx, by in buffers(sorted(BX), BY):
    SWEPT.append((lambda *a: kernels.m4_to_screen(*a, x_sorted=True), (bx, by, *VIEW, 0, 0)))


@pytest.mark.parametrize("fn, args", SWEPT, ids=[fn.__name__ for fn, _ in SWEPT])
def test_each_allocation_failing(fn, args):
    check(fn, args)


@pytest.mark.parametrize(
    "fn, args, kwargs",
    [
        (cy.trapezoid_integral_cy, (MANY_X,), {"ys": MANY_Y, "x_lo": None, "x_hi": 3.0}),
        (cy.polyfit_cy, (MANY_X,), {"deg": 2, "yn": MANY_Y}),
        (cy.fn_to_screen_cy, (MANY_X, MANY_Y) + UNIT[:6], {"ph": 1.0, "pw": 1.0}),
        (cy.decimated_to_screen_cy, (MANY_X, MANY_Y, 9), dict(zip(NAMES, VIEW), lx=0, ly=0)),
        (cy.nearest_on_segments_cy, (1.0,), dict(zip(NAMES, VIEW), my=2.0, xs=MANY_X, ys=MANY_Y,
                                                  lx=1, ly=0)),
    ],
)
@pytest.mark.parametrize("through_call_slot", [False, True])
def test_keyword_calls(fn, args, kwargs, through_call_slot):
    """Keywords bound from a tuple of names, or copied from a dict by the type's call slot."""
    if through_call_slot:
        slot = type(fn).__call__
        check(lambda *a, **k: slot(fn, *a, **k), args, kwargs)
    else:
        check(fn, args, kwargs)


@pytest.mark.parametrize(
    "fn, args",
    [
        (cy.trapezoid_integral_cy, ([0.0, 1.0], [1.0, "x"], None, None)),
        (cy.polyfit_cy, ([0.0, 1.0], [1.0], 1)),
        (cy.fn_to_screen_cy, ([0.0, 1.0], None) + UNIT),
        (cy.polyfit_cy, ([0.0], [0.0], "1")),
        (cy.decimated_to_screen_cy, ([0.0, 1.0], [1.0], 5, *VIEW, False, False)),
        (cy.nearest_on_segments_cy, (0.0, 0.0, [0.0, 1.0], [1.0, None], *VIEW, False, False)),
        (kernels.trapezoid_integral, (array.array("d", [0.0, 1.0]), [1.0, 2.0], None, None)),
        (kernels.trapezoid_integral, (array.array("d", [0.0, 1.0]), array.array("d"), None, None)),
        (kernels.polyfit, (np.zeros((2, 2)), np.zeros(4), 1)),
        (kernels.polyfit, (array.array("d", [1.0]), np.zeros(1, ">f8"), 1)),
        (kernels.polyfit, (memoryview(b"ab").cast("c"), memoryview(b"ab"), 1)),
        (kernels.polyfit, (array.array("d", [1.0]), array.array("d", [1.0]), -1)),
        (kernels.fn_to_screen, ((0.0, 1.0), (0.0, 1.0)) + UNIT),
        (kernels.decimated_to_screen, (array.array("d", [0.0]), array.array("d", [0.0]), -1,
                                       *VIEW, False, False)),
        (kernels.nearest_on_segments, (0.0, 0.0, [0.0, 1.0], [1.0, None], *VIEW, False, False)),
    ],
)
@pytest.mark.skipif(
    hasattr(sys, "gettotalrefcount"),
    reason="a debug interpreter's own assertions fire when an allocation fails while it handles an "
    "exception, with any function that raises (float('x') too)",
)
def test_failing_calls_fail_the_same_way_or_with_memory_error(fn, args):
    """A call that fails without faults keeps failing, with its own error or a MemoryError."""

    def call():
        try:
            fn(*args)
        except (TypeError, IndexError, ValueError) as e:
            return type(e).__name__
        return "no error"

    check(call, (), held=args)


SCRATCH_EXHAUSTED = r"""
import resource, sys
from skyloom._cy_utils import fn_to_screen_cy as F
n = 4_000_000
xs = [0.5] * n  # one float object: 32 MB of pointers
with open("/proc/self/statm") as f:
    used = int(f.read().split()[0]) * resource.getpagesize()
soft, hard = resource.getrlimit(resource.RLIMIT_AS)
# Room for the result array (64 MB) but not for the scratch of 28 bytes a sample on top.
resource.setrlimit(resource.RLIMIT_AS, (used + 96 * 2**20, hard))
try:
    F(xs, xs, 0, 1, 0, 1, 0, 0, 1, 1)
except MemoryError as e:
    tb = e.__traceback__
    while tb.tb_next:
        tb = tb.tb_next
    print(type(e).__name__, tb.tb_frame.f_code.co_name, tb.tb_lineno)
resource.setrlimit(resource.RLIMIT_AS, (soft, hard))
del xs
arr, out_n = F([0.0, 1.0, 2.0], [0.0, 0.0, 1.0], 0, 1, 0, 1, 0, 0, 1, 1)
print(out_n, list(arr[: 2 * out_n]))
"""


@pytest.mark.skipif(
    "LD_PRELOAD" in __import__("os").environ or not sys.platform.startswith("linux"),
    reason="an address-space limit needs plain malloc (no sanitizer or valgrind)",
)
def test_scratch_from_the_native_heap_exhausted():
    """The per-call scratch comes from malloc, which the interpreter's fault hooks do not reach:
    an address-space limit makes it fail. MemoryError at its line; the next call works."""
    import subprocess

    out = subprocess.run([sys.executable, "-c", SCRATCH_EXHAUSTED], capture_output=True,
                         text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    assert out.stdout.splitlines() == [
        "MemoryError skyloom._cy_utils.fn_to_screen_cy 219",
        "2 [0.0, 0.0, 2.0, -1.0]",
    ]
