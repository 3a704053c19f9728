"""What a user would write instead of each module function: with numpy (the conversion of the
lists to arrays included, since the caller holds lists) and in plain Python. They compute the same
things, but not to the bit (numpy sums pairwise, math.hypot rounds its own way): they are here to
be timed, not to check results.

numpy is imported lazily: the suite runs without it and then leaves the numpy column out.
"""
import array
import math
import warnings

DBL_MAX = 1.7976931348623157e308


def numpy_or_none():
    try:
        import numpy
    except ImportError:
        return None
    return numpy


def _clamp(p):
    return 1e6 if p > 1e6 else -1e6 if p < -1e6 else p


# ---- trapezoid_integral_cy(xs, ys, x_lo, x_hi)


def trapezoid_py(xs, ys, x_lo, x_hi):
    lo = -DBL_MAX if x_lo is None else float(x_lo)
    hi = DBL_MAX if x_hi is None else float(x_hi)
    total, hp, px, py = 0.0, False, 0.0, 0.0
    for cx, cy in zip(xs, ys):
        if lo > cx or cx > hi:
            hp = False
            continue
        if hp:
            total += (cx - px) * (py + cy) * 0.5
        px, py, hp = cx, cy, True
    return total


def trapezoid_np(np, xs, ys, x_lo, x_hi):
    x = np.array(xs, dtype=float)
    y = np.array(ys, dtype=float)
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


def to_screen_py(x, y, x0, dx, y0, dy, pl, pb, pw, ph, lx, ly):
    if lx:
        x = math.log10(x) if x > 0 else -1e308
    if ly:
        y = math.log10(y) if y > 0 else -1e308
    return _clamp((x - x0) / dx * pw + pl), _clamp(pb - (y - y0) / dy * ph)


# ---- decimated_to_screen_cy(xs, ys, max_pts, x0, dx, y0, dy, pl, pb, pw, ph, lx, ly)


def decimate_py(xs, ys, max_pts, *view):
    n = len(xs)
    out_n = min(max_pts, n)
    step = n / out_n if out_n < n else 1.0
    idx = [int(i * step) for i in range(out_n - 1)] + [n - 1]
    buf = array.array("d")
    for i in idx:
        buf.extend(to_screen_py(xs[i], ys[i], *view))
    return buf, out_n


def decimate_np(np, xs, ys, max_pts, *view):
    x = np.array(xs, dtype=float)
    y = np.array(ys, dtype=float)
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


def nearest_py(mx, my, xs, ys, *view):
    xi0, yi0 = xs[0], ys[0]
    p0x, p0y = to_screen_py(xi0, yi0, *view)
    bd, bxi, byi = DBL_MAX, 0.0, 0.0
    for i in range(1, len(xs)):
        xi1, yi1 = xs[i], ys[i]
        p1x, p1y = to_screen_py(xi1, yi1, *view)
        sx, sy = p1x - p0x, p1y - p0y
        sl2 = sx * sx + sy * sy
        t = 0.0
        if sl2 >= 1e-10:
            t = min(max(((mx - p0x) * sx + (my - p0y) * sy) / sl2, 0.0), 1.0)
        d = math.hypot(sx * t + p0x - mx, sy * t + p0y - my)
        if d < bd:
            bd, bxi, byi = d, (xi1 - xi0) * t + xi0, (yi1 - yi0) * t + yi0
        p0x, p0y, xi0, yi0 = p1x, p1y, xi1, yi1
    return bxi, byi, bd


def nearest_np(np, mx, my, xs, ys, *view):
    x = np.array(xs, dtype=float)
    y = np.array(ys, dtype=float)
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


def _rdp_py(px, py, tol2):
    """Kept indices of one segment: farthest point from the chord, split, repeat."""
    n = len(px)
    if n < 3:
        return list(range(n))
    keep = [False] * n
    keep[0] = keep[-1] = True
    stack = [(0, n - 1)]
    while stack:
        s, e = stack.pop()
        if e - s < 2:
            continue
        ax, ay = px[s], py[s]
        cx, cy = px[e] - ax, py[e] - ay
        L = cx * cx + cy * cy
        best, idx = -1.0, s + 1
        for j in range(s + 1, e):
            ux, uy = px[j] - ax, py[j] - ay
            if L < 1e-15:
                d2 = ux * ux + uy * uy
            else:
                t = min(max((ux * cx + uy * cy) / L, 0.0), 1.0)
                fx, fy = t * cx - ux, t * cy - uy
                d2 = fx * fx + fy * fy
            if d2 > best:
                best, idx = d2, j
        if best > tol2:
            keep[idx] = True
            stack.append((s, idx))
            stack.append((idx, e))
    return [k for k in range(n) if keep[k]]


def fn_to_screen_py(xs, ys, x0, dx, y0, dy, pl, pb, pw, ph):
    buf = array.array("d")
    seg_x, seg_y = [], []

    def flush():
        if buf:
            buf.extend((1e308, 1e308))
        for k in _rdp_py(seg_x, seg_y, 0.25):
            buf.extend((seg_x[k], seg_y[k]))

    for x, y in zip(xs, ys):
        if y is None:
            if seg_x:
                flush()
                seg_x, seg_y = [], []
            continue
        seg_x.append(_clamp((x - x0) / dx * pw + pl))
        seg_y.append(_clamp(pb - (y - y0) / dy * ph))
    if seg_x:
        flush()
    return buf, len(buf) // 2


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
    x = np.array(xs, dtype=float)
    y = np.array(ys, dtype=float)  # None becomes NaN: the gaps
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
    """Normal equations from the power sums (vtv depends only on r + col), Gauss-Jordan solve."""
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
    a = [[s[2 * d - 2 - r - c] for c in range(d)] for r in range(d)]
    b = [t[d - 1 - r] for r in range(d)]
    for j in range(d):
        e = max(range(j, d), key=lambda r: abs(a[r][j]))
        a[j], a[e], b[j], b[e] = a[e], a[j], b[e], b[j]
        piv = a[j][j]
        if piv == 0.0:
            continue
        a[j] = [v / piv for v in a[j]]
        b[j] /= piv
        for r in range(d):
            if r != j:
                f = a[r][j]
                a[r] = [v - f * w for v, w in zip(a[r], a[j])]
                b[r] -= f * b[j]
    return b


def polyfit_np(np, xs, ys, deg):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return np.polyfit(np.array(xs, dtype=float), np.array(ys, dtype=float), min(deg, 9)).tolist()
