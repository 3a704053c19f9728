"""The plain-Python model of the five module functions, which the tests compare the module with
bit for bit and the benchmarks time as the plain-Python way. It has the functions as Python code
sees them (binding of positional and keyword arguments, the conversions in parameter order, the
list type test) and, under them, kernels that read list items one at a time and convert each as
they read it, in the module's order. Items whose conversions run code (and change the lists, raise
or call back) then see the same things happen in the model as in the module, so the two outcomes
can be compared: the same exception type, or results equal to the bit.

Every step is one double operation in the module's order. Reads past a list's current length
raise IndexError, as the module does. Python's math.hypot is not the C library's (it rounds
differently in the last bit), so the model calls the C library's hypot through ctypes;
math.log10 is the C library's log10.
"""
import array
import ctypes
import ctypes.util
import math
import struct
import sys
import warnings

_libm = ctypes.CDLL(ctypes.util.find_library("m") or ("msvcrt" if sys.platform == "win32" else None))
c_hypot = _libm.hypot
c_hypot.restype = ctypes.c_double
c_hypot.argtypes = [ctypes.c_double, ctypes.c_double]

DBL_MAX = sys.float_info.max

VIEW = ("x0", "dx", "y0", "dy", "pl", "pb", "pw", "ph")
PARAMS = {
    "nearest_on_segments_cy": ("mx", "my", "xs", "ys") + VIEW + ("lx", "ly"),
    "decimated_to_screen_cy": ("xs", "ys", "max_pts") + VIEW + ("lx", "ly"),
    "trapezoid_integral_cy": ("xs", "ys", "x_lo", "x_hi"),
    "fn_to_screen_cy": ("xs", "ys") + VIEW,
    "polyfit_cy": ("xn", "yn", "deg"),
}
KIND = dict.fromkeys(VIEW + ("mx", "my"), "double")
KIND.update(dict.fromkeys(("xs", "ys", "xn", "yn"), "list"))
KIND.update(dict.fromkeys(("lx", "ly"), "flag"))
KIND.update(max_pts="int", deg="int", x_lo="object", x_hi="object")

INT32_MIN, INT32_MAX = -(2 ** 31), 2 ** 31 - 1


def to_double(o):
    if isinstance(o, float):
        return float.__float__(o)  # a float subclass gives its value; its __float__ is not called
    if isinstance(o, (str, bytes, bytearray)):
        raise TypeError("must be real number, not %s" % type(o).__name__)
    return float(o)


def _int_value(v):
    if not INT32_MIN <= v <= INT32_MAX:
        raise OverflowError("Python int too large to convert to C long")
    return v


def to_int32(o):
    if isinstance(o, int):
        return _int_value(int.__int__(o))
    to_int = getattr(type(o), "__int__", None)
    if to_int is None:
        raise TypeError("an integer is required")
    r = to_int(o)
    if type(r) is not int:
        if not isinstance(r, int):
            raise TypeError("__int__ returned non-int (type %s)" % type(r).__name__)
        warnings.warn(
            "__int__ returned non-int (type %s).  The ability to return an instance of a strict "
            "subclass of int is deprecated, and may be removed in a future version of Python."
            % type(r).__name__,
            DeprecationWarning,
        )
    return _int_value(int.__int__(r))


def to_flag(o):
    return 1 if bool(o) else 0


def length(lst):
    if lst is None:
        raise TypeError("object of type 'NoneType' has no len()")
    return len(lst)


def item(lst, i):
    if lst is None:
        raise TypeError("'NoneType' object is not subscriptable")
    if i >= len(lst):
        raise IndexError("index %d out of range" % i)
    return lst[i]


def read(lst, i):
    return to_double(item(lst, i))


def double_array(n):
    if n < 0:
        raise SystemError("bad argument to internal function")
    return array.array("d", bytes(8 * n))


# Numeric rules ----------------------------------------------------------------------------


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


def clamp(p):
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
    px = clamp(div(X - x0, dx) * pw + pl)
    Y = _axis(float(y), ly)
    py = clamp(pb - div(Y - y0, dy) * ph)
    return px, py


def decimated_indices(n, max_pts):
    out_n = max_pts if max_pts < n else n
    if out_n <= 0:
        return []
    step = n / out_n if out_n < n else 1.0
    return [int(i * step) for i in range(out_n - 1)] + [n - 1]


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


# Kernels -----------------------------------------------------------------------------------


def trapezoid_integral_cy(xs, ys, x_lo, x_hi):
    n = length(xs)
    if n < 2:
        return 0.0
    lo = -DBL_MAX if x_lo is None else to_double(x_lo)
    hi = DBL_MAX if x_hi is None else to_double(x_hi)
    total, px, py, hp = 0.0, 0.0, 0.0, False
    for i in range(n):
        cx = read(xs, i)
        cy = read(ys, i)
        if lo > cx or cx > hi:
            hp = False
            continue
        if hp:
            total += ((cx - px) * (py + cy)) * 0.5
        px, py, hp = cx, cy, True
    return total


def solve(d, vtv, vty):
    """Gauss-Jordan elimination with partial pivoting, in place; vty ends as the coefficients."""
    for j in range(d):
        e, best = j, abs(vtv[j * d + j])
        for k in range(j + 1, d):
            if abs(vtv[k * d + j]) > best:
                e, best = k, abs(vtv[k * d + j])
        if e != j:
            for c in range(d):
                vtv[j * d + c], vtv[e * d + c] = vtv[e * d + c], vtv[j * d + c]
            vty[j], vty[e] = vty[e], vty[j]
        piv = vtv[j * d + j]
        if piv == 0.0:
            continue
        for c in range(d):
            vtv[j * d + c] = vtv[j * d + c] / piv
        vty[j] = vty[j] / piv
        for r in range(d):
            if r != j:
                f = vtv[r * d + j]
                for c in range(d):
                    vtv[r * d + c] = vtv[r * d + c] - f * vtv[j * d + c]
                vty[r] = vty[r] - f * vty[j]


def accumulate(d, points, vtv, vty):
    for xi, yi in points:
        row = [0.0] * d
        row[d - 1] = 1.0
        for c in range(d - 2, -1, -1):
            row[c] = xi * row[c + 1]
        for r in range(d):
            for c in range(d):
                vtv[r * d + c] = row[r] * row[c] + vtv[r * d + c]
            vty[r] = yi * row[r] + vty[r]


def polyfit_cy(xn, yn, deg):
    d = 10 if deg >= 9 else deg + 1
    n = length(xn)
    if d <= 0 and n > 0:
        raise ValueError("polyfit_cy() needs deg >= 0 for a non-empty xn")
    points = []
    for i in range(n):
        xi = read(xn, i)
        points.append((xi, read(yn, i)))
    d = max(d, 0)
    vtv, vty = [0.0] * (d * d), [0.0] * d
    accumulate(d, points, vtv, vty)
    solve(d, vtv, vty)
    return vty


def simplify(px, py, tol2):
    """The kept points of one run, by the explicit-stack subdivision with a keep mask."""
    n = len(px)
    if n <= 2:
        return list(zip(px, py))
    keep = [False] * n
    keep[0] = keep[n - 1] = True
    stack = [(0, n - 1)]
    while stack:
        s, e = stack[-1]
        if e - s <= 1:
            stack.pop()
            continue
        ax, ay = px[s], py[s]
        cx, cy = px[e] - ax, py[e] - ay
        L = cx * cx + cy * cy
        best, idx = -1.0, s + 1
        for j in range(s + 1, e):
            if L < 1e-15:
                d2 = (px[j] - ax) * (px[j] - ax) + (py[j] - ay) * (py[j] - ay)
            else:
                t = div((px[j] - ax) * cx + (py[j] - ay) * cy, L)
                if t < 0:
                    t = 0.0
                elif t > 1:
                    t = 1.0
                fx, fy = ax + t * cx - px[j], ay + t * cy - py[j]
                d2 = fx * fx + fy * fy
            if d2 > best:
                best, idx = d2, j
        if best > tol2:
            keep[idx] = True
            stack[-1] = (s, idx)
            stack.append((idx, e))
        else:
            stack.pop()
    return [(px[k], py[k]) for k in range(n) if keep[k]]


def fn_to_screen_cy(xs, ys, x0, dx, y0, dy, pl, pb, pw, ph):
    n = length(xs)
    if n == 0:
        return (double_array(0), 0)
    out, segment = [], []

    def flush():
        if out:
            out.append((1e308, 1e308))
        out.extend(simplify([p[0] for p in segment], [p[1] for p in segment], 0.25))
        segment.clear()

    for i in range(n):
        yo = item(ys, i)
        if yo is None:
            if segment:
                flush()
            continue
        x = read(xs, i)
        segment.append(to_screen(x, to_double(yo), x0, dx, y0, dy, pl, pb, pw, ph, False, False))
    if segment:
        flush()
    buf = double_array(2 * n)
    for k, (px, py) in enumerate(out):
        buf[2 * k], buf[2 * k + 1] = px, py
    return (buf, len(out))


def decimated_to_screen_cy(xs, ys, max_pts, x0, dx, y0, dy, pl, pb, pw, ph, lx, ly):
    n = length(xs)
    out_n = max_pts if max_pts < n else n
    buf = double_array(2 * out_n)
    view = (x0, dx, y0, dy, pl, pb, pw, ph, lx, ly)
    for k, idx in enumerate(decimated_indices(n, out_n)):
        x = read(xs, idx)
        buf[2 * k], buf[2 * k + 1] = to_screen(x, read(ys, idx), *view)
    return (buf, out_n)


def nearest_on_segments_cy(mx, my, xs, ys, x0, dx, y0, dy, pl, pb, pw, ph, lx, ly):
    n = length(xs)
    if n == 0:
        return None
    view = (x0, dx, y0, dy, pl, pb, pw, ph, lx, ly)
    return nearest_over(mx, my, n, lambda i: (read(xs, i), read(ys, i)), view)


KERNELS = {
    "nearest_on_segments_cy": nearest_on_segments_cy,
    "decimated_to_screen_cy": decimated_to_screen_cy,
    "trapezoid_integral_cy": trapezoid_integral_cy,
    "fn_to_screen_cy": fn_to_screen_cy,
    "polyfit_cy": polyfit_cy,
}

# The front end ------------------------------------------------------------------------------

UNBOUND = object()


def _count_error(name, given):
    n = len(PARAMS[name])
    return TypeError("%s() takes exactly %d positional arguments (%d given)" % (name, n, given))


def _same_name(key, param):
    # An exact str compares by value without running code; a subclass's own __eq__ decides.
    return key == param if type(key) is str else bool(key == param)


def bind(name, args, kwargs):
    """The arguments by parameter, from positional ones and (name, value) pairs in call order."""
    params = PARAMS[name]
    N, n = len(params), len(args)
    if not kwargs:
        if n != N:
            raise _count_error(name, n)
        return list(args)
    if n > N:
        raise _count_error(name, n)
    bound = list(args) + [UNBOUND] * (N - n)
    for key, value in kwargs:
        if not isinstance(key, str):
            raise TypeError("%s() keywords must be strings" % name)
        k = next((k for k in range(n, N) if _same_name(key, params[k])), None)
        if k is None:
            if any(_same_name(key, params[k]) for k in range(n)):
                raise TypeError("%s() got multiple values for keyword argument '%s'" % (name, key))
            raise TypeError("%s() got an unexpected keyword argument '%s'" % (name, key))
        bound[k] = value
    for k in range(N):
        if bound[k] is UNBOUND:
            raise _count_error(name, k)
    return bound


CONVERT = {"double": to_double, "int": to_int32, "flag": to_flag}


def call(name, *args, **kwargs):
    """What calling the module function name with these arguments gives, or raises."""
    return call_pairs(name, args, list(kwargs.items()))


def call_pairs(name, args, pairs):
    bound = bind(name, args, pairs)
    params = PARAMS[name]
    values = [CONVERT[KIND[p]](v) if KIND[p] in CONVERT else v for p, v in zip(params, bound)]
    for p, v in zip(params, bound):
        if KIND[p] == "list" and v is not None and type(v) is not list:
            raise TypeError(
                "Argument '%s' has incorrect type (expected list, got %s)" % (p, type(v).__name__)
            )
    return KERNELS[name](*values)


# Comparing outcomes ---------------------------------------------------------------------------


def key(r):
    """A comparable form of a result: floats by bit pattern (every NaN alike), arrays by typecode
    and items, containers item by item."""
    if isinstance(r, float):
        return ("float", bits(r))
    if isinstance(r, array.array):
        return (type(r).__name__, r.typecode, tuple([key(v) for v in r]))
    if isinstance(r, (tuple, list)):
        return (type(r).__name__, tuple([key(v) for v in r]))
    return (type(r).__name__, r)


def outcome(f, *args, **kwargs):
    """key() of what f(*args, **kwargs) returns, or the type of the exception it raises."""
    try:
        return key(f(*args, **kwargs))
    except Exception as e:  # noqa: BLE001 - every exception type is part of the outcome
        return ("raises", type(e))

