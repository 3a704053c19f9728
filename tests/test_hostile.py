"""Hostile callbacks: items and arguments whose conversions change the lists being read, drop
the other arguments, raise, collect garbage or call the module again, and keyword names whose
__eq__ and __hash__ misbehave. Each call must end as the plain-Python model of the same call
does: the same exception type, or the same result to the bit, never a crash or a read past a
list's end (the ASan build runs these too)."""
import gc
import math
import sys

import pytest

import skyloom._cy_utils as cy
import surface as S
from helpers import Box, Boom, Hostile, OddName, Raises


class Finaliser:
    """Part of a reference cycle: when the collector frees it, it runs an action."""

    def __init__(self, action):
        self.action = action
        self.cycle = self

    def __del__(self):
        self.action()


def module(name, *args, **kwargs):
    return getattr(cy, name)(*args, **kwargs)


def model(name, *args, **kwargs):
    return S.call(name, *args, **kwargs)


class Case:
    """One call's lists and arguments, made afresh for each run, with what a hostile action
    may touch: the lists, the argument holder, the implementation under test and a log of the
    nested calls' outcomes."""

    VIEW = (0.0, 4.0, -1.0, 2.0, 10.0, 300.0, 640.0, 280.0)

    def __init__(self, name, impl):
        self.name, self.impl, self.log = name, impl, []
        # Fresh objects, some of them not floats: an item that a list drops is really freed.
        self.xs = [i * 0.5 for i in range(7)]
        self.ys = [v * 1.0 for v in (0.0, 1.0, 0.25, -1.0, 0.5, 2.0, 1.5)]
        self.xs[2], self.ys[5], self.ys[6] = Box(1.0), Box(2.0), Box(1.5)
        if name == "fn_to_screen_cy":
            self.ys[4] = None
        self.scalars = {
            "nearest_on_segments_cy": dict(mx=300.0, my=150.0, lx=False, ly=False),
            "decimated_to_screen_cy": dict(max_pts=4, lx=False, ly=False),
            "trapezoid_integral_cy": dict(x_lo=0.25, x_hi=None),
            "fn_to_screen_cy": {},
            "polyfit_cy": dict(deg=2),
        }[name]
        self.scalars.update(zip(S.VIEW, self.VIEW))
        self.holder = []

    def args(self):
        lists = {"xs": self.xs, "ys": self.ys, "xn": self.xs, "yn": self.ys}
        return [lists[p] if p in lists else self.scalars[p] for p in S.PARAMS[self.name]]

    def nested(self, name, *args):
        self.log.append(S.outcome(self.impl, name, *args))

    def run(self):
        self.holder = self.args()
        result = S.outcome(self.impl, self.name, *self.holder)
        return result, self.log


def clear(lst):
    del lst[:]


ACTIONS = {
    "raise": lambda c: (_ for _ in ()).throw(Boom()),
    "clear xs": lambda c: clear(c.xs),
    "clear ys": lambda c: clear(c.ys),
    "shrink xs": lambda c: c.xs.__delitem__(slice(3, None)),
    "shrink ys": lambda c: c.ys.__delitem__(slice(3, None)),
    "extend both": lambda c: (c.xs.extend([9.0] * 40), c.ys.extend([-9.0] * 40)),
    "replace items": lambda c: (
        c.xs.__setitem__(slice(None), [Hostile(v, None) for v in c.xs]),
        c.ys.__setitem__(slice(None), [v if v is None else Box(S.to_double(v) + 1) for v in c.ys]),
    ),
    "wrong item type": lambda c: c.ys.__setitem__(-1, "text"),
    "gap in ys": lambda c: c.ys.__setitem__(5, None),
    "drop the arguments": lambda c: (c.holder.clear(), clear(c.xs), clear(c.ys)),
    "collect garbage": lambda c: gc.collect(),
    "finaliser clears xs": lambda c: (Finaliser(lambda: clear(c.xs)), gc.collect()),
    "call again on the same lists": lambda c: c.nested(c.name, *c.args()),
    "call every function": lambda c: [
        c.nested(name, *Case(name, c.impl).args()) for name in S.PARAMS
    ],
    "shrink and call again": lambda c: (clear(c.ys), c.nested(c.name, *c.args())),
}

# Where the hostile object stands: an item of a list, or an argument that the front end (or,
# for the bounds of the integral, the kernel) converts.
PLACES = {
    "nearest_on_segments_cy": ["x 0", "y 0", "x 3", "y 3", "y 6", "mx", "x0", "ly"],
    "decimated_to_screen_cy": ["x 0", "y 1", "x 3", "y 6", "max_pts", "ph", "lx"],
    "trapezoid_integral_cy": ["x 0", "y 0", "x 3", "y 6", "x_lo", "x_hi"],
    "fn_to_screen_cy": ["x 0", "y 0", "y 3", "x 5", "y 6", "dx"],
    "polyfit_cy": ["x 0", "y 2", "x 6", "y 6", "deg"],
}


def build(name, place, action, impl):
    """A Case of name with the hostile object at place, running action."""
    c = Case(name, impl)
    where, *index = place.split()
    if index:
        lst = c.xs if where == "x" else c.ys
        i = int(index[0])
        lst[i] = Hostile(lst[i], lambda: ACTIONS[action](c))
    else:
        value = c.scalars[place]
        if place == "x_hi":
            value = 2.75
        c.scalars[place] = Hostile(value, lambda: ACTIONS[action](c))
    return c


@pytest.mark.parametrize("action", list(ACTIONS))
@pytest.mark.parametrize(
    "name, place", [(name, place) for name, places in PLACES.items() for place in places]
)
def test_hostile_conversions(name, place, action):
    got = build(name, place, action, module).run()
    want = build(name, place, action, model).run()
    assert got == want


def test_hostile_cases_reach_every_outcome():
    """The cases above are not all alike: they end in results and in each kind of error."""
    seen = set()
    for name, places in PLACES.items():
        for place in places:
            for action in ACTIONS:
                result, _ = build(name, place, action, module).run()
                seen.add(result[1] if result[0] == "raises" else "result")
    assert {"result", Boom, IndexError, TypeError} <= seen


def test_list_cleared_during_a_run_of_exact_floats():
    """The inner loop over exact floats reads the lists straight from their storage; an item that
    runs code between two such runs must make the kernel look at the lists afresh."""
    n = 5000
    for name in S.PARAMS:
        for impl in (module, model):
            c = Case(name, impl)
            c.scalars["max_pts"] = 3001
            c.xs[:] = [i * 1e-3 for i in range(n)]
            c.ys[:] = [math.sin(i * 1e-3) for i in range(n)]
            # Converting item 2500 cuts both lists short a little further on.
            c.xs[n // 2] = Hostile(0.5, lambda c=c: (c.xs.__delitem__(slice(n // 2 + 10, None)),
                                                     c.ys.__delitem__(slice(n // 2 + 20, None))))
            if impl is module:
                got = c.run()
            else:
                assert got == c.run()
        assert got[0] == ("raises", IndexError)


# Keyword names --------------------------------------------------------------------------------


# Each takes (the state of one run, self, other).
EQS = {
    "always": lambda r, s, o: True,
    "never": lambda r, s, o: False,
    "raises": lambda r, s, o: (_ for _ in ()).throw(Boom()),
    "not implemented": lambda r, s, o: NotImplemented,
    "truthy list": lambda r, s, o: [0],
    "falsy object": lambda r, s, o: Box(0.0),
    "bool raises": lambda r, s, o: Raises(Boom),
    "clears ys": lambda r, s, o: (clear(r["ys"]), str.__eq__(s, o))[1],
    "collects garbage": lambda r, s, o: (gc.collect(), str.__eq__(s, o))[1],
    "calls the function": lambda r, s, o: (
        r["log"].append(S.outcome(r["impl"], r["name"], *Case(r["name"], r["impl"]).args())),
        str.__eq__(s, o),
    )[1],
}
HASHES = {"str": None, "constant": lambda s: 7}
# CPython 3.9 alone unpacks a ** dict into a call by inserting its keys one by one into a new
# dict, so each key is compared with the earlier keys of equal hash before the function is
# reached; 3.8 hands the dict over as it is and 3.10 on clone it without comparing.
UNPACKING_COPIES_KEYS = sys.version_info[:2] == (3, 9)

# Calls: (function, positional arguments, keyword names in order); the lists come from the run.
CALLS = [
    ("trapezoid_integral_cy", ("xs", "ys"), ("x_lo", "x_hi")),
    ("trapezoid_integral_cy", ("xs",), ("x_hi", "ys", "x_lo")),
    ("trapezoid_integral_cy", ("xs", "ys", None), ("x_lo",)),  # given twice
    ("polyfit_cy", ("xn",), ("deg", "yn")),
    ("polyfit_cy", (), ("yn", "xn", "deg")),
    ("fn_to_screen_cy", ("xs", "ys") + S.VIEW[:6], ("ph", "pw")),
    ("decimated_to_screen_cy", ("xs", "ys", 3) + S.VIEW, ("ly", "lx")),
    ("nearest_on_segments_cy", (1.0, 2.0, "xs", "ys") + S.VIEW, ("lx", "ly")),
]
VALUES = {"x_lo": 0.1, "x_hi": None, "deg": 1, "lx": False, "ly": 1, "pw": 5.0, "ph": 3.0}
VALUES.update(zip(S.VIEW, Case.VIEW))


def keyword_run(call, eq, hash_, impl, through_call_slot=False):
    """The outcome of one call with odd keyword names, the outcomes of the calls that their
    __eq__ made, and ys afterwards."""
    name, positional, names = call
    run = {"xs": [0.0, 1.0, 2.0, 3.0], "ys": [1.0, 3.0, 2.0, 5.0], "log": [], "impl": impl}
    run["name"] = name
    odd_eq = lambda s, o: EQS[eq](run, s, o)  # noqa: E731
    lists = {"xs": run["xs"], "ys": run["ys"], "xn": run["xs"], "yn": run["ys"]}
    args = [lists[a] if a in lists else VALUES.get(a, a) for a in positional]

    def call_it():
        kwargs = {}  # made here: a constant hash makes the dict compare the names
        for k in names:
            kwargs[OddName(k, odd_eq, HASHES[hash_])] = lists[k] if k in lists else VALUES[k]
        if impl is model:
            if UNPACKING_COPIES_KEYS:
                kwargs = {k: v for k, v in kwargs.items()}  # the same comparisons, in order
            return S.call_pairs(name, args, list(kwargs.items()))
        if through_call_slot:
            return type(cy.polyfit_cy).__call__(getattr(cy, name), *args, **kwargs)
        return getattr(cy, name)(*args, **kwargs)

    return S.outcome(call_it), run["log"], run["ys"]


@pytest.mark.parametrize("hash_", list(HASHES))
@pytest.mark.parametrize("eq", list(EQS))
@pytest.mark.parametrize("call", CALLS, ids=lambda c: "%s-%s" % (c[0], "-".join(c[2])))
def test_odd_keyword_names(call, eq, hash_):
    want = keyword_run(call, eq, hash_, model)
    assert keyword_run(call, eq, hash_, module) == want
    assert keyword_run(call, eq, hash_, module, through_call_slot=True) == want


def test_odd_keyword_names_reach_every_outcome():
    seen = set()
    for call in CALLS:
        for eq in EQS:
            result = keyword_run(call, eq, "str", module)[0]
            seen.add(result[1] if result[0] == "raises" else "result")
    assert {"result", Boom, TypeError, IndexError} <= seen
