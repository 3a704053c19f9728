"""Shared test helpers: traceback entries and reference-leak checks."""
import gc
import sys

import skyloom._cy_utils as cy

SOURCE_PREFIX = "skyloom/_cy_utils"


class Counted:
    """A number whose conversions are counted."""

    calls = 0

    def __init__(self, v):
        self.v = v

    def __float__(self):
        Counted.calls += 1
        return self.v


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


def leak_check(call, objects, rounds=2000):
    """Runs call() many times; the reference counts of objects and the allocated block count
    must not grow."""
    for _ in range(200):
        call()
    gc.collect()
    before = [sys.getrefcount(o) for o in objects]
    blocks = sys.getallocatedblocks()
    for _ in range(rounds):
        call()
    gc.collect()
    assert [sys.getrefcount(o) for o in objects] == before
    assert sys.getallocatedblocks() - blocks < rounds // 10
