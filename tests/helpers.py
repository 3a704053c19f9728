"""Shared test helpers: traceback entries and reference-leak checks."""
import gc
import sys

import skyloom._cy_utils as cy

SOURCE_PREFIX = "skyloom/_cy_utils"


def last_entry(excinfo):
    """(code name, file name, line) of the innermost traceback entry of a pytest ExceptionInfo."""
    tb = excinfo.value.__traceback__
    while tb.tb_next is not None:
        tb = tb.tb_next
    code = tb.tb_frame.f_code
    return code.co_name, code.co_filename, tb.tb_lineno


def entries(exc):
    """All (code name, line) pairs of an exception's traceback, outermost first."""
    out = []
    tb = exc.__traceback__
    while tb is not None:
        out.append((tb.tb_frame.f_code.co_name, tb.tb_lineno))
        tb = tb.tb_next
    return out


def assert_entry(excinfo, function, line):
    """The failure added the module's entry for function at line, as its innermost entry."""
    name, filename, lineno = last_entry(excinfo)
    assert name == "skyloom._cy_utils." + function
    assert filename == cy.polyfit_cy.__code__.co_filename
    assert filename.startswith(SOURCE_PREFIX)
    assert lineno == line


def assert_no_module_entry(excinfo):
    """The failure added no entry of the module's own."""
    assert all(not name.startswith("skyloom._cy_utils") for name, _ in entries(excinfo.value))


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
