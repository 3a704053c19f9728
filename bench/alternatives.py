"""What a user would write instead of each module function: with numpy (the conversion of the
lists to arrays included, since the caller holds lists; float64 arrays are used as they are) and
in plain Python. The numpy versions compute the same things, but not to the bit (numpy sums
pairwise and rounds hypot its own way): they are here to be timed, not to check results. The
plain-Python versions are the tests' bit-exact model (tests/surface.py), but for the fit, which a
user would accumulate from power sums rather than point by point.

numpy is imported lazily: the suite runs without it and then leaves the numpy column out.
"""
import os
import sys
import warnings

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "tests"))

import surface as model  # noqa: E402
from surface import DBL_MAX  # noqa: E402


def numpy_or_none():
    try:
        import numpy
    except ImportError:
        return None
    return numpy


# ---- trapezoid_integral_cy(xs, ys, x_lo, x_hi)


def trapezoid_np(np, xs, ys, x_lo, x_hi):
    x = np.asarray(xs, dtype=float)
    y = np.asarray(ys, dtype=float)
    lo = -DBL_MAX if x_lo is None else float(x_lo)
    hi = DBL_MAX if x_hi is None else float(x_hi)
    inside = (x >= lo) & (x <= hi)
    both = inside[1:] & inside[:-1]
    return float(np.sum(((x[1:] - x[:-1]) * (y[:-1] + y[1:]) * 0.5)[both]))


# ---- data to screen, shared by the screen functions


def _axis_np(np, v, log):
    if not log:
        return v
    with np.errstate(divide="ignore", invalid="ignore"):
        return np.where(v > 0, np.log10(np.where(v > 0, v, 1.0)), -1e308)


def to_screen_np(np, x, y, x0, dx, y0, dy, pl, pb, pw, ph, lx, ly):
    with np.errstate(over="ignore", invalid="ignore", divide="ignore"):
        px = np.clip((_axis_np(np, x, lx) - x0) / dx * pw + pl, -1e6, 1e6)
        py = np.clip(pb - (_axis_np(np, y, ly) - y0) / dy * ph, -1e6, 1e6)
    return px, py


# ---- decimated_to_screen_cy(xs, ys, max_pts, x0, dx, y0, dy, pl, pb, pw, ph, lx, ly)


def decimate_np(np, xs, ys, max_pts, *view):
    x = np.asarray(xs, dtype=float)
    y = np.asarray(ys, dtype=float)
    n = len(x)
    out_n = min(max_pts, n)
    step = n / out_n if out_n < n else 1.0
    idx = (np.arange(out_n - 1) * step).astype(np.int64)
    idx = np.append(idx, n - 1)
    px, py = to_screen_np(np, x[idx], y[idx], *view)
    buf = np.empty(2 * out_n)
    buf[0::2], buf[1::2] = px, py
    return buf, out_n


# ---- nearest_on_segments_cy(mx, my, xs, ys, x0, dx, y0, dy, pl, pb, pw, ph, lx, ly)


def nearest_np(np, mx, my, xs, ys, *view):
    x = np.asarray(xs, dtype=float)
    y = np.asarray(ys, dtype=float)
    px, py = to_screen_np(np, x, y, *view)
    sx, sy = np.diff(px), np.diff(py)
    sl2 = sx * sx + sy * sy
    with np.errstate(divide="ignore", invalid="ignore"):
        t = np.where(sl2 < 1e-10, 0.0, ((mx - px[:-1]) * sx + (my - py[:-1]) * sy) / sl2)
    t = np.clip(t, 0.0, 1.0)
    d = np.hypot(sx * t + px[:-1] - mx, sy * t + py[:-1] - my)
    k = int(np.argmin(d))
    return (
        float((x[k + 1] - x[k]) * t[k] + x[k]),
        float((y[k + 1] - y[k]) * t[k] + y[k]),
        float(d[k]),
    )


# ---- fn_to_screen_cy(xs, ys, x0, dx, y0, dy, pl, pb, pw, ph)


def _rdp_np(np, px, py, tol2):
    n = len(px)
    if n < 3:
        return np.arange(n)
    keep = np.zeros(n, dtype=bool)
    keep[0] = keep[-1] = True
    stack = [(0, n - 1)]
    while stack:
        s, e = stack.pop()
        if e - s < 2:
            continue
        ax, ay = px[s], py[s]
        cx, cy = px[e] - ax, py[e] - ay
        L = cx * cx + cy * cy
        ux, uy = px[s + 1 : e] - ax, py[s + 1 : e] - ay
        if L < 1e-15:
            d2 = ux * ux + uy * uy
        else:
            t = np.clip((ux * cx + uy * cy) / L, 0.0, 1.0)
            fx, fy = t * cx - ux, t * cy - uy
            d2 = fx * fx + fy * fy
        k = int(np.argmax(d2))
        if d2[k] > tol2:
            idx = s + 1 + k
            keep[idx] = True
            stack.append((s, idx))
            stack.append((idx, e))
    return np.flatnonzero(keep)


def fn_to_screen_np(np, xs, ys, x0, dx, y0, dy, pl, pb, pw, ph):
    x = np.asarray(xs, dtype=float)
    y = np.asarray(ys, dtype=float)  # None becomes NaN: the gaps
    px, py = to_screen_np(np, x, y, x0, dx, y0, dy, pl, pb, pw, ph, False, False)
    defined = ~np.isnan(y)
    edges = np.flatnonzero(np.diff(np.concatenate(([False], defined, [False])).astype(np.int8)))
    out = np.zeros(2 * len(x))
    m = 0
    for s, e in zip(edges[0::2], edges[1::2]):
        if m:
            out[2 * m : 2 * m + 2] = 1e308
            m += 1
        k = _rdp_np(np, px[s:e], py[s:e], 0.25) + s
        out[2 * m : 2 * (m + len(k)) : 2] = px[k]
        out[2 * m + 1 : 2 * (m + len(k)) : 2] = py[k]
        m += len(k)
    return out, m


# ---- polyfit_cy(xn, yn, deg)


def polyfit_py(xs, ys, deg):
    """The normal equations from the power sums (vtv depends only on r + c), then the model's
    Gauss-Jordan solve."""
    d = min(deg + 1, 10)
    s = [0.0] * (2 * d - 1)
    t = [0.0] * d
    for x, y in zip(xs, ys):
        p = 1.0
        for k in range(2 * d - 1):
            s[k] += p
            if k < d:
                t[k] += y * p
            p *= x
    vtv = [s[2 * d - 2 - r - c] for r in range(d) for c in range(d)]
    vty = [t[d - 1 - r] for r in range(d)]
    model.solve(d, vtv, vty)
    return vty


def polyfit_np(np, xs, ys, deg):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        x, y = np.asarray(xs, dtype=float), np.asarray(ys, dtype=float)
        return np.polyfit(x, y, min(deg, 9)).tolist()
