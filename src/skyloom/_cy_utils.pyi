"""The compiled inner loops of skyloom: screen polylines, hit tests, integrals and fits.

The functions carry no ``__doc__`` at run time; their documentation lives here.

Rules shared by all five functions:

- Every parameter is positional-or-keyword and required.
- A number list must be exactly a ``list`` (no subclass, no tuple) or None; anything else raises
  TypeError "Argument 'xs' has incorrect type (expected list, got tuple)". Its items are
  converted to float only when they are read, like ``float(item)`` (an exact ``float`` directly,
  anything else through ``__float__`` or ``__index__``), and the conversion's own exception
  propagates. Only the x list is measured; the y list is read at the x list's indices, x item
  first. A None x list raises TypeError "object of type 'NoneType' has no len()"; a None y list
  raises TypeError "'NoneType' object is not subscriptable" when it is first read. A list that is
  shorter than needed, or that an item's ``__float__`` shrinks during the call, raises IndexError;
  nothing is ever read past a list's current length. Counts are 32-bit: a list of more than
  2**31 - 1 items raises OverflowError.
- Arithmetic is plain IEEE 754 double precision in a fixed order, with no fused multiply-add, so
  results are identical to the last bit on every platform. Nothing is divided with a guard: a
  zero span gives infinities or NaN, never ZeroDivisionError, and NaN or infinite data never
  raise.
- Screen coordinates are pixels: x grows to the right from the plot's left edge ``pl``, y grows
  downwards, so ``pb`` (the bottom edge) is the largest y of the plot and ``pb - ph`` its top.
  Mapped coordinates are clamped to [-1e6, 1e6]; NaN passes through unclamped.
- The view window ``x0, dx, y0, dy`` is in data units on a linear axis. On a logarithmic axis it
  is in decades: ``x0`` is log10 of the value at the left edge and ``dx`` the number of decades
  across the width (likewise ``y0``, ``dy`` from the bottom edge up).
- Every failure raises a Python exception and adds a traceback entry
  ``skyloom._cy_utils.<function>`` at the failing step (the list type test adds none). A wrong
  number or name of arguments raises TypeError, e.g. "polyfit_cy() takes exactly 3 positional
  arguments (2 given)". MemoryError is raised when memory runs out; no partial result is left.
"""

from array import array
from typing import SupportsFloat, SupportsIndex, SupportsInt, TypeVar, Union

# What the float conversion accepts: a float, an int, or anything with __float__ or __index__.
_Real = Union[SupportsFloat, SupportsIndex]
# Items of the number lists. Type variables, so that a list[int] is accepted as well as a
# list[float] (lists are invariant in their item type).
_X = TypeVar("_X", bound=_Real)
_Y = TypeVar("_Y", bound=_Real)
# Items of a sampled curve, where None marks a gap.
_XG = TypeVar("_XG", bound=Union[_Real, None])
_YG = TypeVar("_YG", bound=Union[_Real, None])

__test__: dict[str, object]  # empty: the module has no doctests

def nearest_on_segments_cy(
    mx: _Real,
    my: _Real,
    xs: list[_X] | None,
    ys: list[_Y] | None,
    x0: _Real,
    dx: _Real,
    y0: _Real,
    dy: _Real,
    pl: _Real,
    pb: _Real,
    pw: _Real,
    ph: _Real,
    lx: object,
    ly: object,
) -> tuple[float, float, float] | None:
    """The point of a drawn series nearest to a screen position, and its distance in pixels.

    The series is the polyline through (xs[i], ys[i]). Every vertex is mapped to pixels as
    ``decimated_to_screen_cy`` maps points (linear or base-10 logarithmic axes, clamped to
    +-1e6), and the distance from (mx, my) to each segment is measured in pixels, to the segment
    itself (the foot point is clamped to its end points). A segment shorter than 1e-5 pixels
    counts as its first vertex. Among equally near segments the first one wins; a segment whose
    distance is NaN or infinite is never chosen. No pick radius is applied: compare the distance
    with your own.

    The returned point is interpolated linearly in data units between the segment's two data
    vertices, at the fraction found in pixel space (on a logarithmic axis it therefore lies on
    the straight data-space chord, not on the drawn curve).

    Args:
        mx: x of the query position (e.g. the cursor), in pixels.
        my: y of the query position, in pixels (growing downwards).
        xs: x of the vertices, in data units.
        ys: y of the vertices, in data units; at least len(xs) items, extra ones are ignored.
        x0: data x at the left edge of the plot; log10 of it (decades) when ``lx`` is true.
        dx: data span across the plot's width; in decades when ``lx`` is true.
        y0: data y at the bottom edge of the plot; log10 of it (decades) when ``ly`` is true.
        dy: data span across the plot's height; in decades when ``ly`` is true.
        pl: pixel x of the plot's left edge.
        pb: pixel y of the plot's bottom edge.
        pw: plot width in pixels.
        ph: plot height in pixels.
        lx: truth value; true makes the x axis base-10 logarithmic.
        ly: truth value; true makes the y axis base-10 logarithmic.

    Returns:
        None when ``xs`` is empty (``ys`` is then not looked at). Otherwise a tuple
        ``(x, y, distance)`` of floats: the nearest point in data units and its Euclidean
        distance from (mx, my) in pixels. With a single vertex that vertex and its distance;
        with two or more vertices and no finite distance at all (e.g. a NaN or infinite query
        position), ``(0.0, 0.0, 1.7976931348623157e308)``.

    Raises:
        TypeError: ``xs`` is None; ``ys`` is None and ``xs`` is not empty; a list argument is
            not exactly a list or None; a number argument or a truth value cannot be converted.
        IndexError: ``ys`` is shorter than ``xs``, or a list shrinks during the call.
        MemoryError: no memory for the result.
    """

def decimated_to_screen_cy(
    xs: list[_X] | None,
    ys: list[_Y] | None,
    max_pts: SupportsInt,
    x0: _Real,
    dx: _Real,
    y0: _Real,
    dy: _Real,
    pl: _Real,
    pb: _Real,
    pw: _Real,
    ph: _Real,
    lx: object,
    ly: object,
) -> tuple[array[float], int]:
    """A long data series strided down to a screen polyline of at most ``max_pts`` points.

    With ``n = len(xs)``: when ``n <= max_pts`` every point is kept, in order. Otherwise exactly
    ``max_pts`` points are kept, the input points at indices ``int(i * (n / max_pts))`` for
    ``i = 0 .. max_pts - 2``, then always the last point. Points are not averaged, sorted or
    deduplicated, and items at indices that are not kept are never read.

    Each kept point (x, y) is mapped to pixels:
    ``px = (X - x0) / dx * pw + pl`` and ``py = pb - (Y - y0) / dy * ph``, each operation in
    this order, then each clamped to [-1e6, 1e6] (NaN passes). ``X`` is ``x`` on a linear axis,
    and ``log10(x)`` on a logarithmic one, where a value that is not greater than 0 (or NaN)
    becomes -1e308 and so lands at the clamp: far left for x, far below the plot for y (with
    positive spans and sizes). ``Y`` likewise from ``y``.

    Args:
        xs: x values of the series, in data units.
        ys: y values in data units, read at the kept indices; at least len(xs) items, extra
            ones are ignored.
        max_pts: the most points to return; a signed 32-bit integer (an int or anything with
            ``__int__``: a float is truncated toward zero).
        x0: data x at the left edge of the plot; log10 of it (decades) when ``lx`` is true.
        dx: data span across the plot's width; in decades when ``lx`` is true.
        y0: data y at the bottom edge of the plot; log10 of it (decades) when ``ly`` is true.
        dy: data span across the plot's height; in decades when ``ly`` is true.
        pl: pixel x of the plot's left edge.
        pb: pixel y of the plot's bottom edge (pixel y grows downwards).
        pw: plot width in pixels.
        ph: plot height in pixels.
        lx: truth value; true makes the x axis base-10 logarithmic.
        ly: truth value; true makes the y axis base-10 logarithmic.

    Returns:
        ``(buf, out_n)``: ``buf`` an ``array.array('d')`` of ``2 * out_n`` pixel coordinates,
        interleaved x0, y0, x1, y1, ...; ``out_n = min(max_pts, len(xs))``, the number of points.
        ``max_pts == 0``, or an empty ``xs`` with ``max_pts >= 0``, give an empty array and 0
        without reading any item.

    Raises:
        TypeError: ``xs`` is None; ``ys`` is None and a point is kept; a list argument is not
            exactly a list or None; a number, ``max_pts`` or a truth value cannot be converted
            (e.g. "an integer is required").
        OverflowError: ``max_pts`` lies outside the signed 32-bit range.
        SystemError: ``max_pts`` is negative (even with an empty ``xs``).
        IndexError: ``ys`` is shorter than ``xs``, or a list shrinks during the call.
        MemoryError: no memory for the result.
    """

def trapezoid_integral_cy(
    xs: list[_X] | None,
    ys: list[_Y] | None,
    x_lo: _Real | None,
    x_hi: _Real | None,
) -> float:
    """The trapezoid integral of the series y(x) over the x window [x_lo, x_hi].

    A segment from point i - 1 to point i adds ``((x[i] - x[i-1]) * (y[i-1] + y[i])) * 0.5``
    exactly when both of its x values lie in the window (bounds inclusive). The window selects
    points, it does not cut segments: nothing is interpolated at its edges, and a point outside
    it removes both segments that touch it. The x values need not be sorted; a run of decreasing
    x adds negative area. A NaN x counts as inside; x = +-inf is outside even with both ends
    open.

    Args:
        xs: x values of the series, in data units.
        ys: y values in data units; at least len(xs) items, extra ones are ignored.
        x_lo: lower end of the window in data units, or None to leave it open (converted only
            when ``len(xs) >= 2``).
        x_hi: upper end of the window in data units, or None to leave it open.

    Returns:
        The integral as a float, in x units times y units; 0.0 when ``xs`` has fewer than two
        items (then nothing else is looked at) or when no segment lies in the window.

    Raises:
        TypeError: ``xs`` is None; ``ys`` is None and ``xs`` has two or more items; a list
            argument is not exactly a list or None; a bound or an item cannot be converted.
        IndexError: ``ys`` is shorter than ``xs``, or a list shrinks during the call.
        MemoryError: no memory for the result.
    """

def fn_to_screen_cy(
    xs: list[_XG] | None,
    ys: list[_YG] | None,
    x0: _Real,
    dx: _Real,
    y0: _Real,
    dy: _Real,
    pl: _Real,
    pb: _Real,
    pw: _Real,
    ph: _Real,
) -> tuple[array[float], int]:
    """A sampled curve with gaps to a thinned, gap-separated screen polyline (linear axes).

    Each sample (xs[i], ys[i]) whose ``ys[i]`` is not None is mapped to pixels:
    ``px = (x - x0) / dx * pw + pl`` and ``py = pb - (y - y0) / dy * ph``, each clamped to
    [-1e6, 1e6] (NaN passes). A None in ``ys`` is a gap: the curve is cut there, and the ``xs``
    item at that position is never read (it may be None or anything else). Each run of
    consecutive defined samples is thinned (Ramer-Douglas-Peucker, distances to the chord as a
    closed segment): every dropped sample lies within half a pixel of the line that replaces
    it, and a run's first and last samples always stay. Runs of one or two samples are kept as
    they are.

    Args:
        xs: x values of the samples, in data units.
        ys: y values in data units, or None where the curve is undefined; at least len(xs)
            items, extra ones are ignored.
        x0: data x at the left edge of the plot.
        dx: data span across the plot's width.
        y0: data y at the bottom edge of the plot.
        dy: data span across the plot's height.
        pl: pixel x of the plot's left edge.
        pb: pixel y of the plot's bottom edge (pixel y grows downwards).
        pw: plot width in pixels.
        ph: plot height in pixels.

    Returns:
        ``(buf, out_n)``: ``buf`` an ``array.array('d')`` of ``2 * len(xs)`` items whose first
        ``2 * out_n`` hold the polyline as interleaved pixel pairs x, y, x, y, ...; the runs
        follow each other separated by the pair (1e308, 1e308), which stands only between two
        runs, never before the first or after the last. The items after the first
        ``2 * out_n`` are 0.0. An empty ``xs`` gives an empty array and 0 (``ys`` is then not
        looked at); a curve with no defined sample gives ``out_n == 0``.

    Raises:
        TypeError: ``xs`` is None; ``ys`` is None and ``xs`` is not empty; a list argument is
            not exactly a list or None; a number or a sample cannot be converted.
        IndexError: ``ys`` is shorter than ``xs``, or a list shrinks during the call.
        MemoryError: no memory for the result or the working storage.
    """

def polyfit_cy(xn: list[_X] | None, yn: list[_Y] | None, deg: SupportsInt) -> list[float]:
    """The least-squares polynomial of degree ``deg`` (at most 9) through (xn[i], yn[i]).

    Solves the normal equations (V^T V) c = V^T y of the Vandermonde matrix V by Gauss-Jordan
    elimination with partial pivoting. The x values are neither centred nor scaled and no
    weights are applied. A column whose pivot is exactly 0.0 is skipped rather than reported,
    so an under-determined or singular fit (too few points, repeated x) still returns numbers;
    NaN or infinite data give NaN coefficients instead of an error.

    Args:
        xn: x of the points, in data units.
        yn: y of the points, in data units; at least len(xn) items, extra ones are ignored.
        deg: the polynomial degree; a signed 32-bit integer (an int or anything with
            ``__int__``: a float is truncated toward zero). A degree of 9 or more is fitted as
            9.

    Returns:
        A new list of ``min(deg + 1, 10)`` floats, the coefficients with the highest power
        first and the constant term last; the coefficient of x**k is in y units per x unit to
        the k. An empty ``xn`` gives that many zeros, and ``[]`` for a negative ``deg``.

    Raises:
        TypeError: ``xn`` is None; ``yn`` is None and ``xn`` is not empty; a list argument is
            not exactly a list or None; ``deg`` or an item cannot be converted.
        OverflowError: ``deg`` lies outside the signed 32-bit range.
        ValueError: ``deg`` is negative and ``xn`` is not empty.
        IndexError: ``yn`` is shorter than ``xn``, or a list shrinks during the call.
        MemoryError: no memory for the result.
    """
