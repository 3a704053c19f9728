"""What differs between the supported interpreters: the build, the array layout, vectorcall,
reference counts of arguments and isolated subinterpreters."""
import array
import ctypes
import importlib.machinery
import struct
import subprocess
import sys
import textwrap
import weakref

import pytest

import skyloom._cy_utils as cy
from helpers import refcount

VECTORCALL_FLAG = 1 << 11  # Py_TPFLAGS_HAVE_VECTORCALL, the same bit on every version


def test_module_is_built_for_the_running_interpreter():
    assert any(cy.__file__.endswith(s) for s in importlib.machinery.EXTENSION_SUFFIXES)
    # A debug interpreter (ABI flag "d") also loads release builds: the flag must match too.
    assert ".cpython-%d%d%s-" % (*sys.version_info[:2], sys.abiflags) in cy.__file__


def test_array_layout_is_the_one_results_fill_in():
    # Header, item pointer, capacity, descriptor, weak-reference list and a 32-bit export count,
    # padded: 64 bytes with 8-byte pointers, which the import checks.
    assert struct.calcsize("P") == 8
    assert array.array.__basicsize__ == 64
    assert array.array("d").itemsize == 8


def test_array_fields_are_where_results_write_them():
    # The import checks only the size: a layout that moved the fields the module fills in and
    # kept the size would pass it. Read them back from arrays that the interpreter made.
    def fields(a):
        head = (ctypes.c_ssize_t * 7).from_address(id(a))
        exports = ctypes.c_ssize_t if sys.version_info >= (3, 9) else ctypes.c_int
        return (*head[2:7], exports.from_address(id(a) + 7 * ctypes.sizeof(ctypes.c_ssize_t)).value)

    a = array.array("d", [1.5, 2.5, 3.5])
    a.append(4.5)  # capacity beyond the length
    size, items, allocated, descr, weak, exports = fields(a)
    assert (size, items, weak, exports) == (4, a.buffer_info()[0], 0, 0)
    assert allocated >= 4
    assert descr == fields(array.array("d"))[3]  # one descriptor per typecode
    assert descr != fields(array.array("f"))[3]
    ref = weakref.ref(a)
    view = memoryview(a)
    assert fields(a)[4] != 0 and fields(a)[5] == 1
    view.release()
    del ref
    assert fields(a)[4:] == (0, 0)


def test_refcount_counts_what_the_caller_holds():
    # The leak tests compare counts: the helper must take out what the interpreter adds for the
    # call itself (which changed in 3.14), and nothing the caller holds.
    held = [1.0]
    assert refcount(held) == 1
    both = [held, held]
    assert refcount(held) == 3
    del both
    assert refcount(held) == 1


def test_functions_advertise_vectorcall():
    assert type(cy.polyfit_cy).__flags__ & VECTORCALL_FLAG


def run_python(code):
    p = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120
    )
    return p.returncode, p.stdout, p.stderr


@pytest.mark.skipif(sys.version_info < (3, 12), reason="isolated subinterpreters came with 3.12")
@pytest.mark.parametrize("main_first", [True, False], ids=["main imports first", "sub imports first"])
def test_isolated_subinterpreter_is_refused(main_first):
    # An interpreter with its own GIL must not share the module's process-wide state; the
    # import system refuses it before the module's own steps run, so the main interpreter can
    # still import the module afterwards.
    rc, out, err = run_python(
        """
        try:
            import _interpreters as interpreters
        except ImportError:
            import _xxsubinterpreters as interpreters
        if %r:
            import skyloom._cy_utils
        iid = interpreters.create()
        interpreters.run_string(iid, '''
        try:
            import skyloom._cy_utils
        except ImportError as e:
            print("refused:", e)
        ''')
        interpreters.destroy(iid)
        import skyloom._cy_utils as cy
        print(cy.trapezoid_integral_cy([0, 1, 2], [0, 1, 2], None, None))
        """
        % main_first
    )
    assert rc == 0, err
    assert out.splitlines() == [
        "refused: module skyloom._cy_utils does not support loading in subinterpreters",
        "2.0",
    ]


@pytest.mark.skipif(sys.version_info < (3, 14), reason="concurrent.interpreters came with 3.14")
def test_public_interpreters_are_refused():
    # What a program gets through 3.14's public API: the ImportError raised inside the new
    # interpreter comes back as ExecutionFailed, and the main interpreter still imports.
    rc, out, err = run_python(
        """
        from concurrent import interpreters
        interp = interpreters.create()
        try:
            interp.exec("import skyloom._cy_utils")
        except interpreters.ExecutionFailed as e:
            print(e.excinfo.type.__name__, e.excinfo.msg)
        interp.close()
        import skyloom._cy_utils as cy
        print(cy.trapezoid_integral_cy([0, 1, 2], [0, 1, 2], None, None))
        """
    )
    assert rc == 0, err
    assert out.splitlines() == [
        "ImportError module skyloom._cy_utils does not support loading in subinterpreters",
        "2.0",
    ]


KERNELS_IN_SUBINTERPRETER = '''
import array, sys
import skyloom.kernels as k
xs, ys = array.array("d", [0, 1, 2]), array.array("i", [0, 1, 2])
buf, n = k.decimated_to_screen(memoryview(xs), ys, 2, 0, 2, 0, 2, 0, 10, 10, 10, False, False)
print(k.trapezoid_integral(xs, ys, None, None), k.polyfit([0, 1], [1, 3], 1), list(buf), n)
sys.stdout.flush()
'''
KERNELS_RESULT = "2.0 [2.0, 1.0] [0.0, 10.0, 10.0, 0.0] 2"


@pytest.mark.parametrize("main_first", [True, False], ids=["main first", "sub first"])
@pytest.mark.parametrize("kind", ["classic", "isolated", "public"])
def test_kernels_load_into_subinterpreters(kind, main_first):
    # skyloom.kernels keeps its state per module, so every interpreter gets its own; from 3.12 it
    # also runs in interpreters that have a GIL of their own, which 3.14 opens to every program
    # through concurrent.interpreters.
    if kind == "isolated" and sys.version_info < (3, 12):
        pytest.skip("isolated subinterpreters came with 3.12")
    if kind == "public" and sys.version_info < (3, 14):
        pytest.skip("concurrent.interpreters came with 3.14")
    if kind == "classic":
        run = "import _testcapi\n_testcapi.run_in_subinterp(%r)" % KERNELS_IN_SUBINTERPRETER
    elif kind == "public":
        run = (
            "from concurrent import interpreters\n"
            "interp = interpreters.create()\n"
            "interp.exec(%r)\n"
            "interp.close()" % KERNELS_IN_SUBINTERPRETER
        )
    else:
        run = (
            "try:\n    import _interpreters as interpreters\n"
            "except ImportError:\n    import _xxsubinterpreters as interpreters\n"
            "iid = interpreters.create()\n"
            "interpreters.run_string(iid, %r)\n"
            "interpreters.destroy(iid)" % KERNELS_IN_SUBINTERPRETER
        )
    main = KERNELS_IN_SUBINTERPRETER
    rc, out, err = run_python((main if main_first else "") + run + "\n" + main)
    assert rc == 0, err
    assert out.splitlines() == [KERNELS_RESULT] * (3 if main_first else 2)
