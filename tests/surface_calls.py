"""Random calls of the Python surface: a byte string becomes one call of one of the five functions,
with a random mix of argument kinds (floats, ints, float subclasses, objects with conversions,
strings, None, hostile objects whose conversions change the lists, raise, collect garbage or call
the module again), bound by position or keyword (str subclass names included, through the
vectorcall entry or the type's call slot). The module's outcome must be the plain-Python model's
(tests/surface.py): the same exception type or the same result to the bit, the same nested calls
and the same lists afterwards.

The suite runs check() through hypothesis (tests/test_fuzz_surface.py) and replays the kept
corpus (fuzz/corpus/surface/); `make fuzz-python` runs it under atheris, coverage-guided
(tools/fuzz_surface.py).
"""
import gc
import struct

import skyloom._cy_utils as cy
import surface as S
from helpers import Box, Boom, Hostile, IntSub, OddName, SealedFloat

NAMES = list(S.PARAMS)
VIEW = (0.0, 4.0, -1.0, 2.0, 10.0, 300.0, 640.0, 280.0)
SPECIAL = (0.0, -0.0, float("nan"), float("inf"), float("-inf"), 1e308, -1e308, 5e-324, 1e6,
           -1e6, 0.25, 1e-300, 1e150, 2.5, -7.0)


class Bytes:
    def __init__(self, data):
        self.data, self.pos = data, 0

    def byte(self):
        if self.pos >= len(self.data):
            return 0
        self.pos += 1
        return self.data[self.pos - 1]

    def below(self, n):
        return self.byte() % n

    def raw(self):
        chunk = bytes(self.byte() for _ in range(8))
        return struct.unpack("<d", chunk)[0]

    def float(self):
        mode = self.below(8)
        if mode == 0:
            return self.raw()
        if mode == 1:
            return SPECIAL[self.below(len(SPECIAL))]
        return ((self.byte() ^ 0x80) - 128) * 0.5


class Call:
    """One call built from the bytes, for one implementation: the module or the model."""

    def __init__(self, data, impl):
        self.b, self.impl, self.log, self.depth = Bytes(data), impl, [], 0
        self.name = NAMES[self.b.below(len(NAMES))]
        # Tame calls (plain numbers, every argument by position) are the common case; wilder
        # ones bring in objects with conversions of their own, then anything.
        self.wild = self.b.below(4)
        n = self.b.below(24)
        self.xs = [self.item() for _ in range(n)]
        self.ys = [self.item() for _ in range(max(0, n + self.b.below(8) - 1))]
        self.args = [self.argument(p) for p in S.PARAMS[self.name]]
        self.binding = self.b.below(16 if self.wild >= 2 else 8)
        self.split = self.b.below(len(self.args) + 2)
        self.order = [self.b.byte() for _ in self.args]
        self.odd_eq = self.b.below(4)

    def action(self):
        k = self.b.below(12)
        if k == 0:
            return lambda: self.raise_()
        if k == 1:
            return lambda: self.xs.clear()
        if k == 2:
            return lambda: self.ys.clear()
        if k == 3:
            return lambda: self.xs.__delitem__(slice(len(self.xs) // 2, None))
        if k == 4:
            return lambda: self.ys.__delitem__(slice(len(self.ys) // 2, None))
        if k == 5:
            return lambda: (self.xs.extend([1.5] * 30), self.ys.extend([Box(-1.5)] * 30))
        if k == 6:
            return lambda: self.ys.__setitem__(slice(None), [None] * len(self.ys))
        if k == 7:
            return lambda: gc.collect()
        if k == 8:
            return lambda: self.ys.reverse()
        target = NAMES[self.b.below(len(NAMES))]
        return lambda: self.nested(target)

    @staticmethod
    def raise_():
        raise Boom()

    def nested(self, name):
        """Calls a function again (once deep) on this call's lists."""
        if self.depth > 0:
            return
        self.depth += 1
        try:
            args = {"xs": self.xs, "ys": self.ys, "xn": self.xs, "yn": self.ys, "max_pts": 5,
                    "deg": 2, "lx": False, "ly": True, "x_lo": None, "x_hi": None,
                    "mx": 300.0, "my": 100.0}
            args.update(zip(S.VIEW, VIEW))
            values = [args[p] for p in S.PARAMS[name]]
            self.log.append(S.outcome(self.impl, name, values, []))
        finally:
            self.depth -= 1

    def item(self):
        mode = self.b.below((8, 11, 16, 16)[self.wild])
        if mode <= 6:
            return self.b.float()
        if mode == 7:
            return self.b.below(7) - 3
        if mode == 8:
            return SealedFloat(self.b.float())
        if mode == 9:
            return Box(self.b.float())
        if mode == 10 or mode >= 14:
            return Hostile(self.b.float(), self.action())
        if mode == 11:
            return [2 ** 70, -(2 ** 64), 10 ** 400, True][self.b.below(4)]
        if mode == 12:
            return None
        return ["x", b"1", (), 1j][self.b.below(4)]

    def argument(self, param):
        kind = S.KIND[param]
        mode = self.b.below(16)
        if self.wild < 2:
            mode = mode % (2 if kind == "list" and self.wild == 0 else 8) + (kind == "list") * 2
        if kind == "list":
            if mode == 0:
                return None
            if mode == 1:
                return tuple(self.xs)
            return self.xs if param in ("xs", "xn") else self.ys
        if kind == "int":
            if mode < 8:
                return self.b.below(14) - 2
            odd = self.b.below(12)
            if odd == 8:
                return Hostile(3.0, self.action())
            return [2 ** 31 - 1, -(2 ** 31), 2 ** 31, 2.9, -1.5, IntSub(3), Box(4.0), "1", None,
                    float("nan"), None, 10 ** 30][odd]
        if kind == "flag":
            if mode < 6:
                return bool(mode & 1)
            return [0, 1, "", [0], None, Box(0.0), Box(2.0), Hostile(1.0, self.action()),
                    Hostile(0.0, self.action()), 7][mode - 6]
        if kind == "object" and mode < 6:
            return None
        if mode < 9:
            if param in ("mx", "my"):
                return [300.0, 150.0][param == "my"] + self.b.float()
            return VIEW[S.VIEW.index(param)] if param in S.VIEW else self.b.float()
        if mode < 12:
            return self.b.float()
        return [3, Box(self.b.float()), "s", Hostile(self.b.float(), self.action())][mode - 12]

    def run(self):
        """Outcome of the call, the outcomes of the calls made from inside it, and the lists
        afterwards."""
        result = S.outcome(self.invoke)
        return result, self.log, describe(self.xs), describe(self.ys)

    def invoke(self):
        params = S.PARAMS[self.name]
        N = len(params)
        if self.binding < 6:
            return self.impl(self.name, self.args, [])
        if self.binding == 8:  # one argument too many
            return self.impl(self.name, self.args + [None], [])
        k = min(self.split, N)  # by position; the rest by keyword, in any order
        rest = sorted(range(k, N), key=lambda j: (self.order[j], j))
        pairs = [(params[j], self.args[j]) for j in rest]
        if self.binding == 9 and pairs:
            pairs.pop()  # one parameter left out
        if self.binding == 10:
            pairs.append(("deg" if self.name != "polyfit_cy" else "degree", 1))
        if self.binding == 11 and k > 0:
            pairs.insert(0, (params[0], self.args[0]))  # given twice
        if self.binding >= 12:
            eq = [lambda s, o: str.__eq__(s, o), lambda s, o: True, lambda s, o: self.raise_(),
                  lambda s, o: (self.ys.clear(), str.__eq__(s, o))[1]][self.odd_eq]
            pairs = [(OddName(p, eq), v) for p, v in pairs]
        # The keyword names are made into a dict as a call site would.
        kwargs = {}
        for p, v in pairs:
            kwargs[p] = v
        return self.impl(self.name, self.args[:k], list(kwargs.items()),
                         slot=self.binding in (13, 15))


def module(name, args, pairs, slot=False):
    fn = getattr(cy, name)
    kwargs = dict(pairs)
    if slot:
        return type(fn).__call__(fn, *args, **kwargs)
    return fn(*args, **kwargs)


def model(name, args, pairs, slot=False):
    return S.call_pairs(name, args, pairs)


def describe(o):
    """A comparable description of an item or list, whichever run made it."""
    if isinstance(o, list):
        return [describe(v) for v in o]
    if isinstance(o, Box):
        return (type(o).__name__, describe(o.v))
    if isinstance(o, float):
        return (type(o).__name__, S.key(float.__float__(o)))
    if isinstance(o, (int, str, bytes, complex, tuple, type(None))):
        return (type(o).__name__, repr(o))
    return type(o).__name__


def check(data):
    """Builds the call that data describes for the module and for the model; fails with an
    AssertionError when they end differently."""
    got = Call(data, module).run()
    want = Call(data, model).run()
    if got != want:
        raise AssertionError("module %r\nmodel  %r\nfor %r" % (got, want, data))
    return got
