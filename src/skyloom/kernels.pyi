"""The kernels of ``skyloom._cy_utils`` on lists or on numeric buffers read in place.

Each function takes the parameters of its ``_cy`` counterpart, in the same order and with the
same names, returns the same types and follows the same numeric rules: on buffers its result is,
bit for bit, what the ``_cy`` function returns on lists holding the same values as Python floats.
See ``skyloom._cy_utils`` for the mapping to pixels and the view window.

Rules shared by all five functions:

- Every parameter is positional-or-keyword and required.
- The two series of a call (``xs, ys``, or ``xn, yn`` for the fit) are either both exact lists
  (``list`` or None), which behave exactly as in ``skyloom._cy_utils`` (the same conversions,
  the same errors), or both objects exporting a one-dimensional buffer: numpy arrays,
  ``array.array``, ``memoryview``, read-only ones too, with any stride (negative ones such as
  ``a[::-3]``, a column of a 2-D array), items at any alignment. Mixing a list and a buffer raises
  TypeError.
- Buffer items: format ``d``, ``f`` or ``e`` (float64, float32, float16) or the integers ``b h i
  l q n`` and ``B H I L Q N``, in the machine's byte order: with no prefix or ``@`` (native
  sizes), or with ``=`` or the explicit order of the machine (``<`` on little-endian machines,
  as ctypes arrays give it), which mean standard sizes (``<l`` is 4 bytes, ``<q`` 8; ``n`` and
  ``N`` have none). Each item is taken as ``float()`` takes it (integers correctly rounded). Any
  other format (``>d`` on a little-endian machine, ``?``, complex, objects, structures) raises
  TypeError naming the parameter and the format found, and so does an item size that differs
  from the format's (naming both); a buffer that is not one-dimensional raises ValueError naming
  its shape; an object exporting no buffer raises TypeError. An exporter that refuses its buffer
  gives TypeError (BufferError for a BufferError) naming the parameter, with the exporter's
  exception as ``__cause__``; numpy ``datetime64`` and ``timedelta64`` arrays have no buffer
  format and the message says to pass ``a.view('i8')``, read as the integer counts (NaT becomes
  -9.2e18; counts beyond 2**53, such as nanosecond stamps, are rounded to float64). A buffer
  with suboffsets (indirect), which are never asked for, raises BufferError. A ``ys`` buffer
  shorter than ``xs`` raises ValueError before anything is read; a longer one is read to the
  length of ``xs``. Buffers are never copied.
- In ``fn_to_screen`` a NaN in a ``ys`` buffer marks a gap, as None does in a list.
- The interpreter lock: a call on buffers that reads 2**19 points or more (about half a
  millisecond of reading), or that has run for a millisecond, reads and computes with the lock
  released, so other threads run meanwhile; shorter calls keep it, since taking it back beside a
  busy thread can wait a switch interval (``sys.getswitchinterval()``). A call takes it back once
  at its end; in the main thread of the main interpreter, where signal handlers run, also once
  per 100 ms of work so that Ctrl-C and other handlers run (a handler's exception ends the call).
  The buffers stay exported until the call returns (an ``array.array`` cannot be resized
  meanwhile). Another thread writing into the buffers during a call makes the result
  unspecified, never a crash. With lists the lock is held throughout, as in
  ``skyloom._cy_utils``.
- Subinterpreters: the module keeps its state per module, so it loads into any number of
  interpreters, including those with a GIL of their own (CPython 3.12 and later).
- Counts: a buffer may hold any number of items (counted in 64 bits); a list holds at most
  2**31 - 1, as in ``skyloom._cy_utils``. More raises OverflowError.
- MemoryError is raised when memory runs out; no partial result is left.
"""

from array import array
from typing import Any, Dict, SupportsFloat, SupportsIndex, SupportsInt, TypeVar, Union

from typing_extensions import Buffer, Protocol, final

class _NumpyArray(Protocol):
    # numpy arrays, which export their buffer but whose older stubs do not say so.
    @property
    def __array_interface__(self) -> Dict[str, Any]: ...

# A one-dimensional numeric buffer.
_Buffer = Union[Buffer, _NumpyArray]
# What the float conversion accepts: a float, an int, or anything with __float__ or __index__.
_Real = Union[SupportsFloat, SupportsIndex]
_X = TypeVar("_X", bound=_Real)
_Y = TypeVar("_Y", bound=_Real)
_XG = TypeVar("_XG", bound=Union[_Real, None])
_YG = TypeVar("_YG", bound=Union[_Real, None])

def nearest_on_segments(
    mx: _Real,
    my: _Real,
    xs: _Buffer | list[_X] | None,
    ys: _Buffer | list[_Y] | None,
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

    As ``skyloom._cy_utils.nearest_on_segments_cy``: every vertex is mapped to pixels (linear or
    base-10 logarithmic axes, clamped to +-1e6), the distance from (mx, my) to each segment is
    measured in pixels, the first of the nearest segments wins, and the point returned is
    interpolated in data units at the fraction found in pixel space.

    Args:
        mx: x of the query position (e.g. the cursor), in pixels.
        my: y of the query position, in pixels (growing downwards).
        xs: x of the vertices, in data units: a list or a buffer.
        ys: y of the vertices, in data units: of the same kind as ``xs``, at least as long.
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
        None when ``xs`` is empty. Otherwise ``(x, y, distance)``: the nearest point in data
        units and its distance from (mx, my) in pixels; ``(0.0, 0.0, 1.7976931348623157e308)``
        when no segment has a finite distance.

    Raises:
        TypeError: a list and a buffer mixed; a buffer of an unsupported format or an object
            that is neither; for lists, as ``nearest_on_segments_cy``; a number or a truth value
            that cannot be converted.
        ValueError: a buffer that is not one-dimensional, or a ``ys`` buffer shorter than ``xs``.
        IndexError: a ``ys`` list shorter than ``xs``, or a list that shrinks during the call.
        OverflowError: a list of more than 2**31 - 1 items.
        MemoryError: no memory for the working storage.
    """

def decimated_to_screen(
    xs: _Buffer | list[_X] | None,
    ys: _Buffer | list[_Y] | None,
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

    As ``skyloom._cy_utils.decimated_to_screen_cy``: with ``n = len(xs) > max_pts`` the points
    at ``int(i * (n / max_pts))`` for ``i = 0 .. max_pts - 2`` and the last point are kept,
    otherwise every point; each is mapped to pixels. Only the kept items are read, so the time
    depends on ``max_pts``, not on ``n``.

    Args:
        xs: x values of the series, in data units: a list or a buffer.
        ys: y values in data units: of the same kind as ``xs``, at least as long.
        max_pts: the most points to return; a signed 32-bit integer, not negative.
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
        ``(buf, out_n)``: ``buf`` an ``array.array('d')`` of ``2 * out_n`` interleaved pixel
        coordinates x, y, x, y, ...; ``out_n = min(max_pts, len(xs))``.

    Raises:
        TypeError: a list and a buffer mixed; a buffer of an unsupported format or an object
            that is neither; for lists, as ``decimated_to_screen_cy``; a number, ``max_pts`` or
            a truth value that cannot be converted.
        ValueError: ``max_pts`` is negative; a buffer that is not one-dimensional, or a ``ys``
            buffer shorter than ``xs``.
        IndexError: a ``ys`` list shorter than ``xs``, or a list that shrinks during the call.
        OverflowError: ``max_pts`` outside the signed 32-bit range, or a list of more than
            2**31 - 1 items.
        MemoryError: no memory for the result.
    """

def trapezoid_integral(
    xs: _Buffer | list[_X] | None,
    ys: _Buffer | list[_Y] | None,
    x_lo: _Real | None,
    x_hi: _Real | None,
) -> float:
    """The trapezoid integral of the series y(x) over the x window [x_lo, x_hi].

    As ``skyloom._cy_utils.trapezoid_integral_cy``: a segment adds
    ``((x[i] - x[i-1]) * (y[i-1] + y[i])) * 0.5`` when both of its x values lie in the window,
    summed in index order; nothing is interpolated at the window's edges.

    Args:
        xs: x values of the series, in data units: a list or a buffer.
        ys: y values in data units: of the same kind as ``xs``, at least as long.
        x_lo: lower end of the window in data units, or None to leave it open.
        x_hi: upper end of the window in data units, or None to leave it open.

    Returns:
        The integral as a float, in x units times y units; 0.0 for fewer than two points or
        when no segment lies in the window.

    Raises:
        TypeError: a list and a buffer mixed; a buffer of an unsupported format or an object
            that is neither; for lists, as ``trapezoid_integral_cy``; a bound that cannot be
            converted.
        ValueError: a buffer that is not one-dimensional, or a ``ys`` buffer shorter than ``xs``.
        IndexError: a ``ys`` list shorter than ``xs``, or a list that shrinks during the call.
        OverflowError: a list of more than 2**31 - 1 items.
        MemoryError: no memory for the working storage.
    """

def fn_to_screen(
    xs: _Buffer | list[_XG] | None,
    ys: _Buffer | list[_YG] | None,
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

    As ``skyloom._cy_utils.fn_to_screen_cy``: the defined samples are mapped to pixels, cut into
    runs at the gaps, each run thinned to half a pixel, and the runs packed one after another
    with the pair (1e308, 1e308) between two of them. A gap is a None in a ``ys`` list or a NaN
    in a ``ys`` buffer.

    Args:
        xs: x values of the samples, in data units: a list or a buffer.
        ys: y values in data units, a gap where the curve is undefined: of the same kind as
            ``xs``, at least as long.
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
        ``2 * out_n`` hold the polyline as interleaved pixel pairs, the rest 0.0.

    Raises:
        TypeError: a list and a buffer mixed; a buffer of an unsupported format or an object
            that is neither; for lists, as ``fn_to_screen_cy``; a number that cannot be
            converted.
        ValueError: a buffer that is not one-dimensional, or a ``ys`` buffer shorter than ``xs``.
        IndexError: a ``ys`` list shorter than ``xs``, or a list that shrinks during the call.
        OverflowError: a list of more than 2**31 - 1 items.
        MemoryError: no memory for the result or the working storage (a result of 2 * len(xs)
            doubles larger than memory can address is refused before anything is read).
    """

def polyfit(
    xn: _Buffer | list[_X] | None, yn: _Buffer | list[_Y] | None, deg: SupportsInt
) -> list[float]:
    """The least-squares polynomial of degree ``deg`` (at most 9) through (xn[i], yn[i]).

    As ``skyloom._cy_utils.polyfit_cy``: the normal equations of the Vandermonde matrix, summed
    point by point in index order, solved by Gauss-Jordan elimination with partial pivoting; a
    column whose pivot is exactly 0.0 is skipped.

    Args:
        xn: x of the points, in data units: a list or a buffer.
        yn: y of the points, in data units: of the same kind as ``xn``, at least as long.
        deg: the polynomial degree; a signed 32-bit integer. 9 or more is fitted as 9.

    Returns:
        A new list of ``min(deg + 1, 10)`` floats, highest power first; zeros for no points, and
        ``[]`` for a negative ``deg`` with no points.

    Raises:
        TypeError: a list and a buffer mixed; a buffer of an unsupported format or an object
            that is neither; for lists, as ``polyfit_cy``; ``deg`` that cannot be converted.
        ValueError: ``deg`` is negative and ``xn`` is not empty; a buffer that is not
            one-dimensional, or a ``yn`` buffer shorter than ``xn``.
        IndexError: a ``yn`` list shorter than ``xn``, or a list that shrinks during the call.
        OverflowError: ``deg`` outside the signed 32-bit range, or a list of more than
            2**31 - 1 items.
        MemoryError: no memory for the result.
    """

def m4_to_screen(
    xs: _Buffer | list[_X] | None,
    ys: _Buffer | list[_Y] | None,
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
    *,
    x_sorted: object = False,
    snap: object = False,
) -> tuple[array[float], int]:
    """A long series decimated to the points that draw exactly its pixels.

    Each point is mapped as ``decimated_to_screen`` maps it. Of every run of consecutive points
    in one pixel column (``int(px)``) the first, the lowest, the highest and the last are kept
    (ties: the earliest); of every run off the plot to one side (``int(px) < int(pl)`` or
    ``int(px) > int(pl + pw)``), the first and the last. A point with a NaN coordinate inside the
    plot's columns is kept alone. Drawn as one polyline by a rasteriser that truncates
    coordinates, the kept points light inside the plot's columns exactly the pixels that all the
    points light. Kept points stay in input order; unsorted x only makes more runs.

    Args:
        xs: x values of the series, in data units: a list or a buffer.
        ys: y values in data units: of the same kind as ``xs``, at least as long.
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
        x_sorted: truth value, keyword only; true promises that ``xs`` ascends (no NaN): the
            visible part and the column boundaries are then found by bisection and only what
            the view shows is read. A broken promise gives another polyline, never a crash.
        snap: truth value, keyword only; true makes every point stand for its pixel
            ``(floor(px), floor(py))`` and returns the kept points at their pixels' centres
            (``floor + 0.5``; a NaN coordinate as it is), for renderers that sample at pixel
            centres or antialias. Runs are keyed by ``floor(px)``, with the columns next to the
            plot's on either side counted as the plot's. A run is the path of its pixels,
            consecutive repeats of one pixel one step; of every run the first, second,
            penultimate and last step are kept and, of a column, in its lowest and in its
            highest row the earliest step that is neither the first nor the last (at most 6 per
            column, 4 per run off the plot); consecutive kept points in one pixel come back as
            one. Drawn with the renderer's own snapping off, the kept points give the picture
            of all the points, snapped.

    Returns:
        ``(buf, count)``: ``buf`` an ``array.array('d')`` of exactly ``2 * count`` interleaved
        pixel coordinates x, y, x, y, ...

    Raises:
        TypeError: a list and a buffer mixed; a buffer of an unsupported format or an object
            that is neither; a number or truth value that cannot be converted; for lists, an
            item's own conversion error.
        ValueError: a buffer that is not one-dimensional, or a ``ys`` buffer shorter than
            ``xs``.
        IndexError: a ``ys`` list shorter than ``xs``, or a list that shrinks during the call.
        OverflowError: a list of more than 2**31 - 1 items.
        MemoryError: no memory for the kept points or the result.
    """

@final
class SeriesIndex:
    """The first ``n`` points of two buffers with a pyramid of per-block bounds, so that hit
    tests (and, with ascending x, redraws) read only the blocks that can matter, with the
    results of the full scans bit for bit.

    The bounds are the smallest and largest x and y of every block of 256 points, and of every
    16 blocks of the level below: some 45 bytes per 256 points, 1.1 % of two float64 buffers
    (2.3 % of float32 ones, 9 % of int8 ones). A query maps a block's bounds to pixels and
    skips the block when its pixel box proves that none of its points can change the answer;
    the answer is the full scan's, ties included.

    Both buffers stay exported for the index's life: an ``array.array`` cannot be resized while
    an index holds it (BufferError), and a ``np.memmap`` keeps its file mapped. The index reads
    the buffers in place and copies nothing: writing into them is allowed, but a query then
    sees the new values against old bounds; call ``refresh`` for the range written (and
    ``extend`` for points appended in place) before the next query. Until then results are
    unspecified, never a crash.

    Threads: queries of one index may run at once from several threads; ``extend`` and
    ``refresh`` wait for running queries and keep new ones out while they write. Whoever waits
    does so with the interpreter lock released. A query that takes well under a millisecond
    keeps the interpreter lock; longer ones, and long builds and updates, release it (see the
    module's notes on the lock).

    Args:
        xs: x values, a one-dimensional buffer of a supported format (lists raise TypeError:
            pass arrays).
        ys: y values, a buffer of at least ``n`` items.
        n: keyword only; the number of points covered, at most ``len(xs)``; all of ``xs`` when
            None. ``extend`` may later cover up to ``min(len(xs), len(ys))``.

    Raises:
        TypeError: lists, or an object that is not a one-dimensional numeric buffer.
        ValueError: ``n`` out of range, or ``ys`` shorter than ``n``.
        MemoryError: no memory for the bounds.
    """

    def __new__(cls, xs: _Buffer, ys: _Buffer, *, n: SupportsIndex | None = None) -> SeriesIndex: ...
    @property
    def n(self) -> int:
        """The number of points indexed."""
    @property
    def x_sorted(self) -> bool:
        """Whether x ascends (never falls, no NaN) over the indexed points."""
    @property
    def nbytes(self) -> int:
        """The bytes the bounds take (allocated for every point the buffers can hold)."""
    def nearest_on_segments(
        self,
        mx: _Real,
        my: _Real,
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
        """``kernels.nearest_on_segments(mx, my, xs[:n], ys[:n], ...)``, bit for bit, for any x
        order: None for no points, else ``(x, y, distance)``."""
    def m4_to_screen(
        self,
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
        *,
        snap: object = False,
    ) -> tuple[array[float], int]:
        """``kernels.m4_to_screen(xs[:n], ys[:n], ..., x_sorted=True, snap=snap)``, bit for bit,
        when ``x_sorted`` is true: columns are found by bisection and a long column's kept
        points through the bounds (its lowest and highest pixel y from its blocks' y range, the
        earliest point in each found by a search that skips blocks), so a redraw reads a few
        blocks per column, not the column. On a log y axis, or a view whose y span is zero or
        not finite, the visible y are read as the sorted scan reads them.

        When ``x_sorted`` is false (x falls somewhere, or is NaN) the result is the general
        scan's, ``kernels.m4_to_screen(..., x_sorted=False)``, every point read (with the
        interpreter lock released for long series), never a wrong one.

        Raises:
            MemoryError: no memory for the result."""
    def extend(self, n: SupportsIndex) -> None:
        """The buffers' first ``n`` points are covered (they grew in place): only the last
        partial block, the new ones and their ancestors change. ``n`` must lie between the
        current ``n`` and ``min(len(xs), len(ys))`` (ValueError)."""
    def refresh(self, start: SupportsIndex, stop: SupportsIndex) -> None:
        """The points ``[start, stop)`` changed in place: their blocks' bounds are recomputed.
        ``0 <= start <= stop <= n`` (ValueError). An interrupted refresh (a signal handler's
        exception) leaves bounds that hold for the old and the new values alike: call it
        again."""
