"""The system maths library's hypot and log10 on this machine and on Debian 11 (glibc 2.31, in the
root that tools/roots.sh makes), on the same inputs: how many results differ between the two and
by how many ulps, and how far each is from the correctly rounded value. Those are the two libm
functions behind the modules' results (nearest distances, logarithmic axes).

    python3 tools/libm_compare.py                 # as root: runs itself inside the bullseye root too
    python3 tools/libm_compare.py --root NAME     # against another root of tools/roots.sh
    python3 tools/libm_compare.py --dump OUT IN   # this system's results for the inputs in IN

Only the standard library: the functions are called through ctypes, the exact values come from
integer square roots (hypot) and decimal arithmetic at 60 digits (log10).
"""
import argparse
import array
import ctypes
import decimal
import math
import os
import random
import struct
import subprocess
import sys
from collections import Counter

HERE = os.path.dirname(os.path.abspath(__file__))
WORK = os.path.join(HERE, os.pardir, "build", "libm")
SEED = 20261209
N = 100_000  # inputs per family


def hypot_inputs(rng):
    """Families of (x, y) pairs, by name."""
    edge = [0.0, -0.0, 5e-324, 2.2250738585072014e-308, 1.0, 1.7976931348623157e308,
            math.inf, -math.inf, math.nan]
    return [
        # what the nearest scan passes: pixel offsets of a point from the cursor
        ("pixel offsets in (-2000, 2000)",
         [(rng.uniform(-2000, 2000), rng.uniform(-2000, 2000)) for _ in range(N)]),
        ("scales 2^-30 to 2^30 apart",
         [(math.ldexp(rng.random(), rng.randint(-30, 30)),
           math.ldexp(rng.random(), rng.randint(-30, 30))) for _ in range(N)]),
        ("the whole exponent range",
         [(math.ldexp(rng.random(), rng.randint(-1070, 1023)),
           math.ldexp(rng.random(), rng.randint(-1070, 1023))) for _ in range(N)]),
        ("zeros, subnormals, extremes, inf, NaN", [(a, b) for a in edge for b in edge]),
    ]


def log10_inputs(rng):
    """Families of arguments, by name."""
    return [
        ("data values in (0, 1e4)", [rng.uniform(0, 1e4) for _ in range(N)]),
        ("every binade", [math.ldexp(1 + rng.random(), rng.randint(-1074, 1023)) for _ in range(N)]),
        ("next to 1",
         [1 + rng.choice((-1, 1)) * math.ldexp(rng.random(), -rng.randint(1, 52)) for _ in range(N)]),
        ("powers of ten", [float("1e%d" % k) for k in range(-307, 309)]),
        ("zero, subnormal, negative, inf, NaN", [0.0, -0.0, 5e-324, -1.0, math.inf, -math.inf, math.nan]),
    ]


def libm_functions():
    """(name, callable) of this system's functions: hypot at its default symbol version and, on a
    glibc that has a newer one, also at the first version (what a module linked against an old
    glibc binds), and log10."""
    libm = ctypes.CDLL("libm.so.6")
    proto = ctypes.CFUNCTYPE(ctypes.c_double, ctypes.c_double, ctypes.c_double)
    one = ctypes.CFUNCTYPE(ctypes.c_double, ctypes.c_double)
    out = [("hypot", proto(("hypot", libm))), ("log10", one(("log10", libm)))]
    for lib in ("libc.so.6", "libdl.so.2"):
        try:
            dlvsym = ctypes.CDLL(lib).dlvsym
            break
        except (OSError, AttributeError):
            dlvsym = None
    if dlvsym is not None:
        dlvsym.restype, dlvsym.argtypes = ctypes.c_void_p, [ctypes.c_void_p] * 3
        default = ctypes.cast(proto(("hypot", libm)), ctypes.c_void_p).value
        old = dlvsym(ctypes.c_void_p(libm._handle), b"hypot", b"GLIBC_2.2.5")
        if old and old != default:
            out.append(("hypot@GLIBC_2.2.5", proto(old)))
    return out


def dump(out_path, in_path):
    """Writes this system's results for the inputs in in_path (the pair count, then doubles: the
    hypot pairs and the log10 arguments)."""
    pairs, logs = read_inputs(in_path)
    results = {}
    for name, fn in libm_functions():
        if name.startswith("hypot"):
            results[name] = array.array("d", (fn(pairs[i], pairs[i + 1]) for i in range(0, len(pairs), 2)))
        else:
            results[name] = array.array("d", (fn(x) for x in logs))
    with open(out_path, "w") as f:
        print("glibc", os.confstr("CS_GNU_LIBC_VERSION"), file=f)
        for name, vals in results.items():
            print(name, vals.tobytes().hex(), file=f)


def load(path):
    with open(path) as f:
        system = f.readline().split(None, 1)[1].strip()
        out = {}
        for line in f:
            name, data = line.split()
            out[name] = array.array("d", bytes.fromhex(data))
    return system, out


def ordered(x):
    """The double's place on the line of all doubles: neighbours differ by 1."""
    i = struct.unpack("<q", struct.pack("<d", x))[0]
    return i if i >= 0 else -(i & 0x7FFFFFFFFFFFFFFF)


def ulps_apart(a, b):
    if a != a or b != b:
        return 0 if (a != a) == (b != b) else None  # NaN against NaN agrees
    return abs(ordered(a) - ordered(b))


def ulp(x):
    x = abs(x)
    return math.ldexp(1.0, math.frexp(x)[1] - 53) if x >= 2.2250738585072014e-308 else 5e-324


def scaled(v):
    """The double v times 2^1074: an integer, since every double is a multiple of 2^-1074."""
    n, d = v.as_integer_ratio()
    return n * (2**1074 // d)


def hypot_error(x, y, r):
    """|r - sqrt(x^2 + y^2)| in ulps of r, from an integer square root with 64 spare bits."""
    if not all(map(math.isfinite, (x, y, r))) or r == 0:
        return 0.0
    root = math.isqrt((scaled(abs(x)) ** 2 + scaled(abs(y)) ** 2) << 128)
    return abs((scaled(r) << 64) - root) / (scaled(ulp(r)) << 64)


def log10_exact(x, ctx=decimal.Context(prec=60)):
    return ctx.log10(decimal.Decimal(x)) if math.isfinite(x) and x > 0 else None


def log10_error(exact, r):
    if exact is None or not math.isfinite(r):
        return 0.0
    return float(abs(decimal.Decimal(r) - exact) / decimal.Decimal(ulp(r)))


def read_inputs(path):
    with open(path, "rb") as f:
        n_pairs = struct.unpack("<q", f.read(8))[0]
        values = array.array("d")
        values.frombytes(f.read())
    return values[: 2 * n_pairs], values[2 * n_pairs:]


def spread(counts):
    """"1 ulp: 26, 2 ulp: 1" from a Counter of distances (None: one side NaN)."""
    parts = ["%s ulp: %d" % (k if k is not None else "NaN against a number", c)
             for k, c in sorted(counts.items(), key=lambda kv: (kv[0] is None, kv[0] or 0)) if k != 0]
    return ", ".join(parts) or "none"


def compare(families, mine, theirs):
    """Prints, per function and family of inputs: results that are not correctly rounded on
    each side, and results that differ between the sides, by ulps."""
    (sys_a, a), (sys_b, b) = load(mine), load(theirs)
    print("libm: A is %s (this machine), B is %s" % (sys_a, sys_b))
    print("  results more than 0.5 ulp from the exact value (not correctly rounded), worst error;")
    print("  then results of A that differ from B's, by how many ulps")
    for fn in ("hypot", "log10"):
        start = 0
        for family, args in families[fn]:
            span = slice(start, start + len(args))
            start += len(args)
            if fn == "hypot":
                error = [lambda r, a=xy: hypot_error(a[0], a[1], r) for xy in args]
            else:
                exact = [log10_exact(x) for x in args]
                error = [lambda r, e=e: log10_error(e, r) for e in exact]
            print("%s, %s (%d):" % (fn, family, len(args)))
            sides = [("A " + k, v[span]) for k, v in sorted(a.items()) if k.split("@")[0] == fn]
            sides += [("B " + k, v[span]) for k, v in sorted(b.items()) if k.split("@")[0] == fn]
            for name, res in sides:
                errs = [f(r) for f, r in zip(error, res)]
                print("  %-21s %6d not correctly rounded, worst %.3f ulp"
                      % (name, sum(e > 0.5 for e in errs), max(errs)))
            for name, res in sides:
                if name.startswith("A "):
                    apart = Counter(ulps_apart(x, y) for x, y in zip(res, b[fn][span]))
                    print("  %-21s %6d differ from B %s (%s)"
                          % (name, len(args) - apart[0], fn, spread(apart)))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--root", default="bullseye")
    parser.add_argument("--dump", nargs=2, metavar=("OUT", "IN"))
    args = parser.parse_args()
    if args.dump:
        dump(*args.dump)
        return
    os.makedirs(WORK, exist_ok=True)
    rng = random.Random(SEED)
    families = {"hypot": hypot_inputs(rng), "log10": log10_inputs(rng)}
    h = [v for _, pairs in families["hypot"] for p in pairs for v in p]
    lg = [x for _, xs in families["log10"] for x in xs]
    inputs = os.path.join(WORK, "inputs.bin")
    with open(inputs, "wb") as f:
        f.write(struct.pack("<q", len(h) // 2))
        array.array("d", h + lg).tofile(f)
    here, there = os.path.join(WORK, "here.txt"), os.path.join(WORK, args.root + ".txt")
    dump(here, inputs)
    subprocess.run([os.path.join(HERE, "roots.sh"), "make", args.root], check=True)
    subprocess.run([os.path.join(HERE, "roots.sh"), "run", args.root, "--", "python3",
                    os.path.abspath(__file__), "--dump", os.path.abspath(there),
                    os.path.abspath(inputs)], check=True)
    compare(families, here, there)


if __name__ == "__main__":
    sys.exit(main())
