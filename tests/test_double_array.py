"""Double arrays returned by the module behave as ordinary array('d') objects."""
import array
import copy
import pickle

import pytest

from skyloom._cy_utils import decimated_to_screen_cy, fn_to_screen_cy

IDENT = (0.0, 1.0, 0.0, 1.0, 0.0, 0.0, 1.0, 1.0, 0, 0)


def result(xs, ys, max_pts=1000):
    buf, out_n = decimated_to_screen_cy(xs, ys, max_pts, *IDENT)
    assert len(buf) == 2 * out_n
    return buf


def test_empty_result_owns_no_storage():
    buf = result([], [])
    assert buf.buffer_info() == (0, 0)
    assert buf == array.array("d") and buf.tobytes() == b""
    buf.append(1.5)
    assert buf.tolist() == [1.5]


def test_result_is_exactly_an_array_of_doubles():
    buf = result([1.0, 2.0, 3.0], [4.0, 5.0, 6.0])
    assert type(buf) is array.array
    assert (buf.typecode, buf.itemsize, len(buf)) == ("d", 8, 6)
    assert buf == array.array("d", [1.0, -4.0, 2.0, -5.0, 3.0, -6.0])
    m = memoryview(buf)
    assert (m.format, m.itemsize, m.ndim, m.readonly, m.strides) == ("d", 8, 1, False, (8,))
    m[0] = 9.0
    m.release()
    assert buf[0] == 9.0


@pytest.mark.parametrize(
    "change, want",
    [
        (lambda b: b.append(7.0), [1, -4, 2, -5, 7]),
        (lambda b: b.extend([7.0, 8.0]), [1, -4, 2, -5, 7, 8]),
        (lambda b: b.__delitem__(slice(0, 2)), [2, -5]),
        (lambda b: b.__setitem__(slice(1, 3), array.array("d", [0.5] * 5)), [1] + [0.5] * 5 + [-5]),
        (lambda b: b.__imul__(2), [1, -4, 2, -5] * 2),
    ],
)
def test_result_can_be_resized(change, want):
    # Resizing fails while a buffer is exported: the kernel's view must be gone.
    buf = result([1.0, 2.0], [4.0, 5.0])
    change(buf)
    assert buf == array.array("d", want)


def test_result_slices_copies_and_pickles():
    buf = result([0.25 * i for i in range(40)], [0.5 * i for i in range(40)], 9)
    assert buf[2:6] == array.array("d", list(buf)[2:6])
    for clone in (pickle.loads(pickle.dumps(buf, 2)), copy.copy(buf), copy.deepcopy(buf)):
        assert type(clone) is array.array and clone == buf


@pytest.mark.parametrize("make", [
    lambda: decimated_to_screen_cy([1.0, 2.0], [4.0, 5.0], 9, *IDENT)[0],
    lambda: fn_to_screen_cy([1.0, 2.0], [4.0, 5.0], *IDENT[:8])[0],
], ids=["decimated", "fn_to_screen"])
def test_results_made_in_reused_memory_can_grow(make):
    # Freed blocks of an array object's size, every bit set: a field that creation leaves partly
    # unset (the export count) would then claim exports and refuse resizing.
    junk = [b"\xff" * (64 - bytes.__basicsize__ + 1) for _ in range(2000)]
    del junk
    bufs = [make() for _ in range(500)]
    for buf in bufs:
        buf.append(1.0)
        assert buf[-1] == 1.0
