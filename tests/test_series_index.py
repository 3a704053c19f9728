"""skyloom.kernels.SeriesIndex against the full scans it stands in for: nearest points bit for
bit kernels.nearest_on_segments's and redraws bit for bit kernels.m4_to_screen's on random series
(walks, sines, repeated x, NaN runs, log axes, zoomed views, cursors on and off the curve), also
after the data grew or changed in place; the arguments it refuses; and several threads querying
while another updates."""
import array
import threading

import numpy as np
import pytest
from hypothesis import given, settings, strategies as st

import skyloom.kernels as kernels
from helpers import stamps_in_the_middle
from test_kernels import exact

KINDS = ["walk", "sine", "repeated x", "nan runs", "unsorted", "spikes", "infinite"]


def make(kind, n, rng):
    x = np.arange(n, dtype=np.float64)
    y = np.cumsum(rng.standard_normal(n))
    if kind == "sine":
        y = np.sin(x / 97.0) * 50
    elif kind == "repeated x":
        x = np.floor(x / 13.0)
    elif kind == "nan runs" and n:
        for s in rng.integers(0, n, size=4):
            y[s : s + int(rng.integers(1, 600))] = np.nan
        x[rng.integers(0, n, size=2)] = np.nan
    elif kind == "unsorted":
        x = rng.standard_normal(n).round(1) * 100
    elif kind == "spikes":
        y = rng.standard_normal(n)
        y[rng.random(n) < 0.002] = 1e300
        y[rng.random(n) < 0.002] = -np.inf
    elif kind == "infinite":  # whole blocks at +inf: log10 gives inf, a box's edge
        y = np.where(rng.random(n) < 0.01, y, np.inf)
    return x, y


def view(x, y, rng, zoom, lx, ly):
    fx, fy = x[np.isfinite(x)], y[np.isfinite(y) & (np.abs(y) < 1e200)]
    x_lo, x_hi = (float(fx.min()), float(fx.max())) if fx.size else (0.0, 1.0)
    y_lo, y_hi = (float(fy.min()), float(fy.max())) if fy.size else (0.0, 1.0)
    span = (x_hi - x_lo) or 1.0
    x0 = x_lo + float(rng.random()) * span * (1 - zoom)
    if zoom == 0 and fx.size:
        x0 = float(rng.choice(fx))  # that point's pixel is NaN
    v = [x0, span * zoom, y_lo, (y_hi - y_lo) or 1.0, 12.5, 250.0, 322.0, 246.0]
    if lx:
        v[0], v[1] = 0.0, float(np.log10(max(x_hi, 10.0)))
    if ly:
        v[2], v[3] = -2.0, float(np.log10(max(abs(y_hi), 10.0))) + 2
    return tuple(v) + (lx, ly)


@settings(max_examples=60, deadline=None)
@given(st.sampled_from(KINDS), st.integers(0, 5000) | st.sampled_from([1, 2, 256, 257, 40000]),
       st.integers(0, 2**32 - 1), st.sampled_from([1.0, 0.1, 1e-4, 0.0]), st.booleans(),
       st.booleans())
def test_nearest_equals_the_full_scan(kind, n, seed, zoom, lx, ly):
    # zoom 0 makes dx 0: a view whose pixels are NaN at x0 and +-1e6 elsewhere, never monotone.
    rng = np.random.default_rng(seed)
    x, y = make(kind, n, rng)
    v = view(x, y, rng, zoom, lx, ly)
    ix = kernels.SeriesIndex(x, y)
    assert ix.n == n
    assert ix.x_sorted == bool(n == 0 or (not np.isnan(x).any() and (np.diff(x) >= 0).all()))
    for q in range(8):
        if n and q < 4 and v[1]:  # near a point of the curve
            i = int(rng.integers(0, n))
            mx = (x[i] - v[0]) / v[1] * v[6] + v[4] + float(rng.normal(0, 5))
            my = v[5] - (y[i] - v[2]) / v[3] * v[7] + float(rng.normal(0, 5))
            if not (np.isfinite(mx) and np.isfinite(my)) or lx or ly:
                mx, my = float(rng.uniform(0, 340)), float(rng.uniform(0, 260))
        else:
            mx, my = float(rng.uniform(-50, 400)), float(rng.uniform(-50, 300))
        got = ix.nearest_on_segments(mx, my, *v)
        assert exact(got) == exact(kernels.nearest_on_segments(mx, my, x, y, *v)), (mx, my)


@settings(max_examples=25, deadline=None)
@given(st.sampled_from(KINDS), st.integers(2, 6000), st.integers(0, 2**32 - 1))
def test_after_extend_and_refresh(kind, cap, seed):
    rng = np.random.default_rng(seed)
    x, y = make(kind, cap, rng)
    n = int(rng.integers(0, cap))
    ix = kernels.SeriesIndex(x, y, n=n)
    v = view(x, y, rng, 1.0, False, False)
    for _ in range(4):
        if rng.random() < 0.5 and ix.n < cap:
            ix.extend(int(rng.integers(ix.n, cap + 1)))
        elif ix.n:
            a = int(rng.integers(0, ix.n))
            b = int(rng.integers(a, ix.n + 1))
            y[a:b] = rng.standard_normal(b - a) * 1000
            x[a:b] = x[a:b][::-1] if rng.random() < 0.3 else x[a:b]
            ix.refresh(a, b)
        m = ix.n
        assert ix.x_sorted == bool(m == 0 or (not np.isnan(x[:m]).any() and
                                              (np.diff(x[:m]) >= 0).all()))
        mx, my = float(rng.uniform(0, 340)), float(rng.uniform(0, 260))
        want = kernels.nearest_on_segments(mx, my, x[:m], y[:m], *v)
        assert exact(ix.nearest_on_segments(mx, my, *v)) == exact(want)


@settings(max_examples=40, deadline=None)
@given(st.sampled_from(KINDS + ["steps", "square"]), st.integers(0, 6000) | st.sampled_from([1, 513, 30000]),
       st.integers(0, 2**32 - 1), st.sampled_from([1.0, 0.1, 1e-2, 1e-4, 1e-6]),
       st.sampled_from([322.0, 7.0, 1.0]), st.booleans(), st.booleans())
def test_redraw_equals_the_full_scan(kind, cap, seed, zoom, pw, lx, ly):
    # Narrow plots make columns of thousands of points, the ones read through the bounds; steps
    # put many points on one pixel row, a square wave leaves a column's first row and comes
    # back. Grown and changed in place, the redraw follows the data.
    rng = np.random.default_rng(seed)
    x, y = make(kind if kind in KINDS else "walk", cap, rng)
    if kind == "steps":
        y = np.round(y / 4)
    elif kind == "square":
        y = (np.arange(cap) // int(rng.integers(1, 300)) % 2) * 10.0
    ix = kernels.SeriesIndex(x, y, n=int(rng.integers(0, cap + 1)))
    v = view(x, y, rng, zoom, lx, ly)
    v = v[:6] + (pw,) + v[7:]
    for step in range(4):
        m = ix.n
        for snap in (False, True):
            want = kernels.m4_to_screen(x[:m], y[:m], *v, x_sorted=ix.x_sorted, snap=snap)
            got = ix.m4_to_screen(*v, snap=snap)
            assert got[1] == want[1] and got[0].tobytes() == want[0].tobytes(), (step, snap)
        if rng.random() < 0.5 and m < cap:
            ix.extend(int(rng.integers(m, cap + 1)))
        elif m:
            a = int(rng.integers(0, m))
            b = int(rng.integers(a, min(m, a + 700) + 1))
            y[a:b] = np.cumsum(rng.standard_normal(b - a)) + y[a]
            y[a:b:97] = np.nan
            ix.refresh(a, b)


def test_formats_and_strides_as_the_kernels_take_them():
    rng = np.random.default_rng(5)
    base = np.cumsum(rng.standard_normal(3000))
    v = (0.0, 3000.0, float(base.min()), float(np.ptp(base)), 0.0, 200.0, 300.0, 200.0, 0, 0)
    for x, y in [
        (np.arange(3000.0)[::-1], base.astype(np.float32)),
        (np.arange(6000, dtype=np.int16)[::2], base),
        (memoryview(array.array("d", range(3000))), array.array("f", base)),
    ]:
        got = kernels.SeriesIndex(x, y).nearest_on_segments(150.0, 90.0, *v)
        assert exact(got) == exact(kernels.nearest_on_segments(150.0, 90.0, x, y, *v))


@pytest.mark.parametrize("args, kwargs, exc, text", [
    (([0.0, 1.0], [0.0, 1.0]), {}, TypeError, "not lists: pass arrays"),
    ((np.zeros(3), [0.0] * 3), {}, TypeError, "not lists"),
    ((np.zeros((2, 2)), np.zeros(4)), {}, ValueError, "one-dimensional"),
    ((np.zeros(3), np.zeros(3, bool)), {}, TypeError, "format"),
    ((np.zeros(3), np.zeros(2)), {}, ValueError, "ys has 2 items, fewer than the 3"),
    ((np.zeros(3), np.zeros(3)), {"n": 4}, ValueError, r"n must be in \[0, 3\], got 4"),
    ((np.zeros(3), np.zeros(3)), {"n": -1}, ValueError, "got -1"),
    ((np.zeros(3), np.zeros(3)), {"n": 1.5}, TypeError, "integer"),
    ((np.zeros(3), np.zeros(3), 2), {}, TypeError, "positional"),
])
def test_refused_arguments(args, kwargs, exc, text):
    with pytest.raises(exc, match=text):
        kernels.SeriesIndex(*args, **kwargs)


def test_updates_check_their_range_and_keep_the_buffers():
    xs, ys = array.array("d", range(10)), array.array("d", range(12))
    ix = kernels.SeriesIndex(xs, ys, n=4)
    with pytest.raises(ValueError, match=r"n must be in \[4, 10\], got 11"):
        ix.extend(11)
    with pytest.raises(ValueError, match=r"n must be in \[4, 10\], got 3"):
        ix.extend(3)
    with pytest.raises(ValueError, match=r"stop must be in \[2, 4\], got 5"):
        ix.refresh(2, 5)
    with pytest.raises(BufferError):
        xs.append(1.0)  # exported for the index's life
    ix.extend(10)
    assert ix.n == 10 and ix.nbytes > 0
    assert kernels.SeriesIndex(np.zeros(0), np.zeros(0)).nearest_on_segments(
        0, 0, 0, 1, 0, 1, 0, 1, 1, 1, 0, 0) is None
    del ix
    xs.append(1.0)  # given back


def test_queries_beside_an_updating_thread():
    rng = np.random.default_rng(9)
    n = 2**20
    x = np.arange(n, dtype=np.float64)
    y = np.cumsum(rng.standard_normal(n))
    ix = kernels.SeriesIndex(x, y, n=n // 2)
    v = (0.0, float(n), float(y.min()), float(np.ptp(y)), 0.0, 246.0, 322.0, 246.0, 0, 0)
    done, errors = threading.Event(), []

    def update():
        k = n // 2
        while not done.is_set():
            k = min(n, k + 997)
            ix.extend(k)
            ix.refresh(k // 3, k // 2)

    def query():
        try:
            for _ in range(200):
                r = ix.nearest_on_segments(float(rng.uniform(0, 322)), 100.0, *v)
                assert r is not None and len(r) == 3
                assert 0 < ix.m4_to_screen(*v, snap=True)[1] <= 6 * 322 + 4
        except BaseException as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=update)] + [threading.Thread(target=query) for _ in range(3)]
    for t in threads:
        t.start()
    for t in threads[1:]:
        t.join()
    done.set()
    threads[0].join()
    assert errors == []
    m = ix.n
    want = kernels.nearest_on_segments(100.0, 100.0, x[:m], y[:m], *v)
    assert exact(ix.nearest_on_segments(100.0, 100.0, *v)) == exact(want)
    want = kernels.m4_to_screen(x[:m], y[:m], *v, x_sorted=True)
    assert ix.m4_to_screen(*v)[0].tobytes() == want[0].tobytes()


@pytest.mark.timing
def test_a_long_redraw_releases_the_lock():
    # The general scan of unsorted x reads every point (milliseconds): another thread that notes
    # the time as often as it can runs during it.
    rng = np.random.default_rng(4)
    n = 4 * 10**6
    x = rng.permutation(n).astype(np.float64)
    y = np.cumsum(rng.standard_normal(n))
    ix = kernels.SeriesIndex(x, y)
    v = (0.0, float(n), float(y.min()), float(np.ptp(y)), 0.0, 246.0, 322.0, 246.0, 0, 0)
    assert stamps_in_the_middle(lambda: ix.m4_to_screen(*v, snap=True))
