"""skyloom.kernels on buffers gives, bit for bit, what skyloom._cy_utils gives on lists of the
same values; on lists it is the list function itself. Inputs of every format, stride, alignment
and kind are drawn at random and both are run."""
import array
import math
import struct

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import skyloom._cy_utils as cy
import skyloom.kernels as kernels

# Buffer formats and the numpy type that exports each ("n" and "N" come from memoryview casts).
FORMATS = {
    "d": np.float64, "f": np.float32, "e": np.float16,
    "b": np.int8, "h": np.int16, "i": np.int32, "l": np.int_, "q": np.longlong,
    "B": np.uint8, "H": np.uint16, "I": np.uint32, "L": np.uint, "Q": np.ulonglong,
    "n": np.intp, "N": np.uintp,
}


def exact(v):
    """Every result, floats as their bits (the sign of zero included). NaNs are all alike: which
    operand's NaN an operation passes on is the compiler's choice of operand order."""
    if isinstance(v, float):
        return ("float", "nan" if v != v else struct.pack("<d", v))
    if isinstance(v, (tuple, list)):
        return (type(v).__name__, [exact(x) for x in v])
    if isinstance(v, array.array):
        return ("array", v.typecode, [exact(x) for x in v])
    return (type(v).__name__, v)


@st.composite
def series(draw, n, fmt=None):
    """A one-dimensional buffer of n values (any format, stride, sign of stride, alignment) and
    the list of the same values as Python floats."""
    fmt = fmt or draw(st.sampled_from(sorted(FORMATS)))
    dtype = np.dtype(FORMATS[fmt])
    if dtype.kind == "f":
        width = {2: 16, 4: 32, 8: 64}[dtype.itemsize]
        elems = st.floats(width=width, allow_nan=True, allow_infinity=True)
        values = draw(st.lists(elems, min_size=n, max_size=n))
    else:
        info = np.iinfo(dtype)
        values = draw(st.lists(st.integers(int(info.min), int(info.max)), min_size=n, max_size=n))
    step = draw(st.sampled_from([1, 1, 2, 3, -1, -2]))
    offset = draw(st.sampled_from([0, 1]))  # 1: items at odd addresses
    span = max(1, n * abs(step))
    raw = bytearray(offset + span * dtype.itemsize)
    base = np.frombuffer(raw, dtype=dtype, offset=offset, count=span)
    arr = base[::step][:n] if step > 0 else base[::step][:n]
    arr[:] = np.array(values, dtype=dtype)
    if fmt in "nN":
        buf = memoryview(arr.tobytes()).cast(fmt)
        buf = buf[::-1][::-1] if step < 0 else buf
    else:
        buf = arr
    return buf, [float(v) for v in arr]


LENGTHS = st.integers(0, 300) | st.integers(1000, 3000)
BOUNDS = st.none() | st.floats(allow_nan=True)


@settings(max_examples=150, deadline=None)
@given(st.data(), LENGTHS, BOUNDS, BOUNDS)
def test_trapezoid_integral(data, n, lo, hi):
    xb, xl = data.draw(series(n))
    yb, yl = data.draw(series(n))
    want = exact(cy.trapezoid_integral_cy(xl, yl, lo, hi))
    assert exact(kernels.trapezoid_integral(xb, yb, lo, hi)) == want
    assert exact(kernels.trapezoid_integral(xl, yl, lo, hi)) == want


VIEWS = st.tuples(
    *[st.floats(allow_nan=False, allow_infinity=False, min_value=-1e3, max_value=1e3)] * 8
) | st.tuples(*[st.floats(width=32)] * 8)
FLAGS = st.tuples(st.booleans(), st.booleans())


def same_call(list_fn, kernel_fn, args_for):
    """The kernel on buffers and on lists, and the list function on lists, all alike."""
    want = exact(list_fn(*args_for(True)))
    assert exact(kernel_fn(*args_for(False))) == want
    assert exact(kernel_fn(*args_for(True))) == want


@settings(max_examples=100, deadline=None)
@given(st.data(), LENGTHS, VIEWS, FLAGS, st.floats(-1e3, 1e3), st.floats(-1e3, 1e3))
def test_nearest_on_segments(data, n, view, flags, mx, my):
    (xb, xl), (yb, yl) = data.draw(series(n)), data.draw(series(n))
    same_call(cy.nearest_on_segments_cy, kernels.nearest_on_segments,
              lambda lists: (mx, my, xl if lists else xb, yl if lists else yb) + view + flags)


@settings(max_examples=100, deadline=None)
@given(st.data(), LENGTHS, VIEWS, FLAGS, st.integers(0, 400))
def test_decimated_to_screen(data, n, view, flags, max_pts):
    (xb, xl), (yb, yl) = data.draw(series(n)), data.draw(series(n))
    same_call(cy.decimated_to_screen_cy, kernels.decimated_to_screen,
              lambda lists: (xl if lists else xb, yl if lists else yb, max_pts) + view + flags)


@settings(max_examples=100, deadline=None)
@given(st.data(), LENGTHS, st.integers(0, 12))
def test_polyfit(data, n, deg):
    (xb, xl), (yb, yl) = data.draw(series(n)), data.draw(series(n))
    same_call(cy.polyfit_cy, kernels.polyfit,
              lambda lists: (xl if lists else xb, yl if lists else yb, deg))


@settings(max_examples=100, deadline=None)
@given(st.data(), LENGTHS, VIEWS)
def test_fn_to_screen_nan_in_a_buffer_is_a_gap(data, n, view):
    (xb, xl), (yb, yl) = data.draw(series(n)), data.draw(series(n))
    gaps = [None if y != y else y for y in yl]
    want = exact(cy.fn_to_screen_cy(xl, gaps, *view))
    assert exact(kernels.fn_to_screen(xb, yb, *view)) == want
    assert exact(kernels.fn_to_screen(xl, gaps, *view)) == want


def test_ys_longer_than_xs_is_read_to_the_length_of_xs():
    x = np.arange(5.0)
    assert kernels.trapezoid_integral(x, np.arange(9.0), None, None) == 8.0


@pytest.mark.parametrize(
    "xs, ys, exc, text",
    [
        (np.zeros(3), [0.0] * 3, TypeError, "both as lists or both as buffers"),
        (None, np.zeros(3), TypeError, "both as lists or both as buffers"),
        ((1.0, 2.0), (1.0, 2.0), TypeError, "xs must be a list or an object exporting"),
        (np.zeros((2, 2)), np.zeros(4), ValueError, r"xs must be one-dimensional, got a buffer of shape \(2, 2\)"),
        (np.zeros(3), np.float64(1.0), ValueError, r"ys must be one-dimensional, got a buffer of shape \(\)"),
        (np.zeros(3, ">f8"), np.zeros(3), TypeError, "xs has items of format '>d'"),
        (np.zeros(3), np.zeros(3, bool), TypeError, r"ys has items of format '\?'"),
        (np.zeros(3), np.zeros(3, complex), TypeError, "ys has items of format 'Zd'"),
        (np.zeros(3), np.zeros(3, object), TypeError, "ys has items of format 'O'"),
        (np.zeros(3), np.zeros(3, "f8,f8"), TypeError, "ys has items of format 'T{"),
        (np.zeros(3), np.zeros(2), ValueError, "ys has 2 items, fewer than the 3 of xs"),
    ],
)
def test_inputs_refused_before_anything_is_read(xs, ys, exc, text):
    with pytest.raises(exc, match=text):
        kernels.trapezoid_integral(xs, ys, None, None)
