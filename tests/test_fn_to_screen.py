"""fn_to_screen_cy: items that outlive their list, and thinning within half a pixel (examples,
failure lines and leaks of all five functions: test_common.py)."""
from hypothesis import given, settings
from hypothesis import strategies as st

from helpers import Box, Hostile
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


def test_y_item_outlives_the_x_conversion_that_drops_it():
    ys = [0.0, Box(7.0)]
    x = Hostile(1.0, lambda: ys.__setitem__(1, 5.0))  # drops the list's only reference to the Box
    assert flat(F([0.0, x], ys, *UNIT)) == pairs((0, 0), (1, -7))


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
