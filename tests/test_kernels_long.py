"""skyloom.kernels on buffers of more than 2**31 - 1 items: views of one value repeated (stride 0)
give what the same value gives in a short array, the decimation and the sorted extremes of a
series off the plot read only what they draw, the curve's result too large for memory is a
MemoryError before anything is read, and the series index covers such buffers. Full scans take
seconds: they are marked slow and run by `pytest --run-slow` (the asan nox session) only."""
import numpy as np
import pytest

import skyloom.kernels as kernels

N = 2**31 + 5
VIEW = (0.0, 10.0, 0.0, 10.0, 0.0, 100.0, 100.0, 100.0)


def repeated(value, n=N, dtype=np.float64):
    """n items of one value in a buffer of one item."""
    return np.lib.stride_tricks.as_strided(np.array([value], dtype), (n,), (0,))


SCANS = {
    "trapezoid": lambda xs, ys: kernels.trapezoid_integral(xs, ys, 0.0, 10.0),
    "polyfit": lambda xs, ys: kernels.polyfit(xs, ys, 0),
    # The cursor on the points: every later segment is ruled out by the box test, which keeps
    # the scan of 2**31 points to seconds.
    "nearest": lambda xs, ys: kernels.nearest_on_segments(20.0, 70.0, xs, ys, *VIEW, False, False),
    # One column: the general scan by cells, its snapped rule, and the sorted scan's raw column.
    "m4": lambda xs, ys: kernels.m4_to_screen(xs, ys, *VIEW, False, False),
    "m4 snapped": lambda xs, ys: kernels.m4_to_screen(xs, ys, *VIEW, False, False, snap=True),
    "m4 sorted": lambda xs, ys: kernels.m4_to_screen(xs, ys, *VIEW, False, False, x_sorted=True),
}


@pytest.mark.slow
@pytest.mark.parametrize("name", sorted(SCANS))
def test_full_scan_of_a_long_series_as_of_a_short_one(name):
    call = SCANS[name]
    assert call(repeated(2.0), repeated(3.0)) == call(np.full(3, 2.0), np.full(3, 3.0))


@pytest.mark.parametrize("max_pts", [1, 2, 7, 1000])
@pytest.mark.parametrize("n", [N, 2**32 + 3, 3 * 2**31])
def test_decimation_of_a_long_series_reads_what_it_draws(n, max_pts):
    # Two values: x and y differ, so x and y may not be swapped; the drawn indices pass 2**31.
    long = kernels.decimated_to_screen(repeated(2.0, n), repeated(3.0, n), max_pts, *VIEW,
                                       False, True)
    short = kernels.decimated_to_screen(np.full(max_pts, 2.0), np.full(max_pts, 3.0), max_pts,
                                        *VIEW, False, True)
    assert long == short


def test_curve_too_large_for_memory_is_a_memory_error():
    with pytest.raises(MemoryError):
        kernels.fn_to_screen(repeated(1, 2**62, np.uint8), repeated(1, 2**62, np.uint8), *VIEW)


@pytest.mark.parametrize("x", [-5.0, 15.0])
@pytest.mark.parametrize("n", [N, 2**32 + 3])
def test_sorted_extremes_off_the_plot_read_only_the_ends(n, x):
    # Bisected to one side over all n points: the first and last point kept, at once.
    long = kernels.m4_to_screen(repeated(x, n), repeated(3.0, n), *VIEW, False, False,
                                x_sorted=True)
    assert long == kernels.m4_to_screen(np.full(3, x), np.full(3, 3.0), *VIEW, False, False)


@pytest.mark.slow
def test_series_index_of_a_long_series_as_of_a_short_one():
    short = kernels.nearest_on_segments(20.0, 70.0, np.full(3, 2.0), np.full(3, 3.0), *VIEW,
                                        False, False)
    index = kernels.SeriesIndex(repeated(2.0), repeated(3.0), n=2**31 - 3)
    index.extend(N)
    index.refresh(2**31 - 10, N)
    assert index.n == N
    # The cursor on the points: the box test rules out all but the first leaf.
    assert index.nearest_on_segments(20.0, 70.0, *VIEW, False, False) == short


def test_ys_shorter_than_a_long_xs():
    with pytest.raises(ValueError, match="^yn has 2147483652 items, fewer than the 2147483653 of xn$"):
        kernels.polyfit(repeated(2.0), repeated(3.0, N - 1), 1)
