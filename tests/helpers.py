"""Shared test helpers: numbers whose conversions run Python code (and may misbehave), traceback
entries, reference counts and reference-leak checks. The drivers in tools/ use them too."""
import gc
import signal
import sys
import threading
import time

import skyloom._cy_utils as cy

SOURCE_PREFIX = "skyloom/_cy_utils"


class Boom(Exception):
    """An error that nothing but a test's own objects raises."""


class Box:
    """A number that is not a float: each conversion (__float__, __int__, __bool__) runs Python
    code, which allocates and lets the interpreter switch threads; freed like any instance when
    its list drops it."""

    def __init__(self, v):
        self.v = v

    def __float__(self):
        return float(self.v)

    def __int__(self):
        v = float(self.v)
        return int(v) if v == v and abs(v) < 1e300 else 0

    def __bool__(self):
        return bool(self.v)


class Hostile(Box):
    """A number whose first conversion runs action() before it answers."""

    def __init__(self, v, action):
        super().__init__(v)
        self.action = action

    def _fire(self):
        action, self.action = self.action, None
        if action is not None:
            action()

    def __float__(self):
        self._fire()
        return super().__float__()

    def __int__(self):
        self._fire()
        return super().__int__()

    def __bool__(self):
        self._fire()
        return super().__bool__()


class Logged(Box):
    """A number that appends its value to log each time it is converted to float."""

    def __init__(self, v, log):
        super().__init__(v)
        self.log = log

    def __float__(self):
        self.log.append(self.v)
        return super().__float__()


class Counted:
    """A number whose conversions are counted (in Counted.calls)."""

    calls = 0

    def __init__(self, v):
        self.v = v

    def __float__(self):
        Counted.calls += 1
        return self.v


class Shrinks:
    """An item that cuts the list victim down to its first keep items when converted."""

    def __init__(self, victim, value=1.0, keep=0):
        self.victim, self.value, self.keep = victim, value, keep

    def __float__(self):
        del self.victim[self.keep :]
        return self.value


class Raises:
    """A number whose every conversion raises a new error(text)."""

    def __init__(self, error=ZeroDivisionError, text="bad item"):
        self.error, self.text = error, text

    def __float__(self):
        raise self.error(self.text)

    __int__ = __bool__ = __float__


class IntLike:
    """An integer only through __int__, which returns v as it is (of any type)."""

    def __init__(self, v):
        self.v = v

    def __int__(self):
        return self.v


class FloatSub(float):
    """A float subclass: the module takes its value as float.__float__ gives it."""


class SealedFloat(FloatSub):
    """A float subclass whose own __float__ raises: the module must never call it."""

    def __float__(self):
        raise Boom()


class IntSub(int):
    pass


class OddName(str):
    """A keyword name whose == is eq(self, other) and whose hash is hash_(self) (str's if None)."""

    def __new__(cls, text, eq, hash_=None):
        s = super().__new__(cls, text)
        s.eq, s.hash_ = eq, hash_
        return s

    def __eq__(self, other):
        return self.eq(self, other)

    def __hash__(self):
        return self.hash_(self) if self.hash_ is not None else str.__hash__(self)


def entries(exc):
    """All (code name, file name, line) of an exception's traceback, outermost first."""
    out = []
    tb = exc.__traceback__
    while tb is not None:
        code = tb.tb_frame.f_code
        out.append((code.co_name, code.co_filename, tb.tb_lineno))
        tb = tb.tb_next
    return out


def assert_entry(excinfo, function, line):
    """The failure added exactly one entry for the module function, at line."""
    mine = [e for e in entries(excinfo.value) if e[0] == "skyloom._cy_utils." + function]
    assert len(mine) == 1, entries(excinfo.value)
    name, filename, lineno = mine[0]
    assert filename == cy.polyfit_cy.__code__.co_filename
    assert filename.startswith(SOURCE_PREFIX)
    assert lineno == line


def assert_no_module_entry(excinfo):
    """The failure added no entry of the module's own."""
    assert all(not e[0].startswith("skyloom._cy_utils") for e in entries(excinfo.value))


def refcount(obj):
    """The references to obj held by the caller's variables and by other objects, without the ones
    that taking the count adds. Pass a local variable: up to 3.13 the interpreter holds a
    temporary reference to each argument on its way in, from 3.14 a local is passed on borrowed;
    what this call adds is measured once, on an object with one reference."""
    return sys.getrefcount(obj) - _CALL_REFERENCES


def _call_references():
    probe = object()  # held by this local alone
    return refcount(probe) - 1


_CALL_REFERENCES = 0
_CALL_REFERENCES = _call_references()


def leak_check(call, objects, rounds=2000):
    """Runs call() many times; the reference counts of objects and the allocated block count
    must not grow."""
    for _ in range(200):
        call()
    gc.collect()
    before = [refcount(o) for o in objects]
    blocks = sys.getallocatedblocks()
    for _ in range(rounds):
        call()
    gc.collect()
    assert [refcount(o) for o in objects] == before
    assert sys.getallocatedblocks() - blocks < rounds // 10


def with_signal(call, handler, delay=0.002):
    """call() with SIGALRM delivered after delay seconds to handler."""
    old = signal.signal(signal.SIGALRM, handler)
    try:
        signal.setitimer(signal.ITIMER_REAL, delay)
        return call()
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, old)


def stamps_in_the_middle(call):
    """Runs call() while another thread notes the time as often as it can (a short switch
    interval, so that a switch just before or after the call cannot reach its middle); the
    stamps noted in the middle half of the call: none when the call held the lock throughout."""
    stamps, stop = [], threading.Event()
    interval = sys.getswitchinterval()
    sys.setswitchinterval(1e-4)

    def spin():
        while not stop.is_set():
            stamps.append(time.perf_counter())

    t = threading.Thread(target=spin)
    t.start()
    try:
        time.sleep(0.01)
        t0 = time.perf_counter()
        call()
        t1 = time.perf_counter()
    finally:
        stop.set()
        t.join()
        sys.setswitchinterval(interval)
    q = (t1 - t0) / 4
    return [s for s in stamps if t0 + q < s < t1 - q]
