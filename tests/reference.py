"""Plain-Python models of the screen mapping and the nearest-point search, operation by
operation in double precision, for comparing the module's results bit for bit.

Python's math.hypot is not the C library's (it rounds differently in the last bit), so the model
calls the C library's hypot through ctypes; math.log10 is the C library's log10.
"""
import ctypes
import ctypes.util
import math
import struct
import sys

_libm = ctypes.CDLL(ctypes.util.find_library("m") or ("msvcrt" if sys.platform == "win32" else None))
c_hypot = _libm.hypot
c_hypot.restype = ctypes.c_double
c_hypot.argtypes = [ctypes.c_double, ctypes.c_double]

DBL_MAX = sys.float_info.max


def bits(v):
    """A float's bit pattern (every NaN alike, whatever its sign), so that NaN compares equal to
    itself and -0.0 differs from 0.0."""
    return b"nan" if v != v else struct.pack("<d", v)


def same(a, b):
    """Sequences of floats equal bit for bit."""
    return len(a) == len(b) and all(bits(float(p)) == bits(float(q)) for p, q in zip(a, b))


def div(a, b):
    """a / b as the hardware divides: a zero divisor gives an infinity or NaN, never an error."""
    if b == 0:
        if a == 0 or a != a:
            return math.nan
        return math.copysign(math.inf, a) * math.copysign(1.0, b)
    return a / b


def _clamp(p):
    if p > 1e6:
        return 1e6
    if p < -1e6:
        return -1e6
    return p


def _axis(v, log):
    if not log:
        return v
    return math.log10(v) if v > 0 else -1e308


def to_screen(x, y, x0, dx, y0, dy, pl, pb, pw, ph, lx, ly):
    X = _axis(float(x), lx)
    px = _clamp(div(X - x0, dx) * pw + pl)
    Y = _axis(float(y), ly)
    py = _clamp(pb - div(Y - y0, dy) * ph)
    return px, py


def decimated_indices(n, max_pts):
    out_n = max_pts if max_pts < n else n
    if out_n <= 0:
        return []
    step = n / out_n if out_n < n else 1.0
    return [int(i * step) for i in range(out_n - 1)] + [n - 1]


def nearest(mx, my, xs, ys, *view):
    if not xs:
        return None
    return nearest_over(mx, my, len(xs), lambda i: (float(xs[i]), float(ys[i])), view)


def nearest_over(mx, my, n, vertex, view):
    """The nearest point of the n >= 1 vertices that vertex(i) reads and converts, in order."""
    xi0, yi0 = vertex(0)
    p0x, p0y = to_screen(xi0, yi0, *view)
    if n == 1:
        return (xi0, yi0, c_hypot(p0x - mx, p0y - my))
    bd, bxi, byi = DBL_MAX, 0.0, 0.0
    for i in range(n - 1):
        xi1, yi1 = vertex(i + 1)
        p1x, p1y = to_screen(xi1, yi1, *view)
        sx, sy = p1x - p0x, p1y - p0y
        sl2 = sx * sx + sy * sy
        t = 0.0
        if not sl2 < 1e-10:
            t = div((mx - p0x) * sx + (my - p0y) * sy, sl2)
            if t < 0:
                t = 0.0
            elif t > 1:
                t = 1.0
        d = c_hypot((sx * t + p0x) - mx, (sy * t + p0y) - my)
        if d < bd:
            bd, bxi, byi = d, (xi1 - xi0) * t + xi0, (yi1 - yi0) * t + yi0
        p0x, p0y, xi0, yi0 = p1x, p1y, xi1, yi1
    return (bxi, byi, bd)
