"""The type stubs: installed beside the module, true to it, documented, and usable by mypy."""
import ast
import inspect
import os
import subprocess
import sys
import textwrap

import pytest

import skyloom._cy_utils as cy
import skyloom.kernels as kernels

pytest.importorskip("mypy", reason="mypy is not installed for this interpreter")

PACKAGE_DIR = os.path.dirname(cy.__file__)
STUB = os.path.join(PACKAGE_DIR, "_cy_utils.pyi")
KERNELS_STUB = os.path.join(PACKAGE_DIR, "kernels.pyi")
FUNCTIONS = [
    "nearest_on_segments_cy",
    "decimated_to_screen_cy",
    "trapezoid_integral_cy",
    "fn_to_screen_cy",
    "polyfit_cy",
]


def run_mypy_tool(args, cwd):
    """Runs a mypy entry point in a fresh interpreter from cwd; returns (exit code, output)."""
    p = subprocess.run(
        [sys.executable, "-m", *args],
        cwd=str(cwd),
        capture_output=True,
        text=True,
        timeout=300,
    )
    return p.returncode, p.stdout + p.stderr


def test_stub_and_marker_are_installed_beside_the_module():
    assert os.path.isfile(STUB) and os.path.isfile(KERNELS_STUB)
    assert os.path.isfile(os.path.join(PACKAGE_DIR, "py.typed"))


@pytest.mark.parametrize("module", ["skyloom._cy_utils", "skyloom.kernels"])
def test_stubtest_finds_no_difference(tmp_path, module):
    # Run from an empty directory, so the installed package is what both sides see.
    rc, out = run_mypy_tool(["mypy.stubtest", module], tmp_path)
    assert rc == 0, out


def stub_functions(stub=STUB):
    with open(stub) as f:
        tree = ast.parse(f.read())
    return {node.name: node for node in tree.body if isinstance(node, ast.FunctionDef)}


def parameters(fn):
    if hasattr(fn, "__code__"):
        return fn.__code__.co_varnames[: fn.__code__.co_argcount]
    return list(inspect.signature(fn).parameters)  # the kernels' text signatures


@pytest.mark.parametrize(
    "module, stub", [(cy, STUB), (kernels, KERNELS_STUB)], ids=["cy", "kernels"]
)
@pytest.mark.parametrize("name", FUNCTIONS)
def test_each_function_is_documented_in_the_stub(module, stub, name):
    if module is kernels:
        name = name[: -len("_cy")]
    else:
        # At run time __doc__ stays None: the stub is where the documentation lives.
        assert getattr(cy, name).__doc__ is None
    doc = ast.get_docstring(stub_functions(stub)[name])
    assert doc, name + " has no docstring in the stub"
    for section in ("Args:", "Returns:", "Raises:"):
        assert section in doc, name + " lacks " + section
    # Every parameter is described, under its own name.
    for param in parameters(getattr(module, name)):
        assert ("\n    " + param + ":") in ("\n" + doc.split("Args:")[1]), (name, param)


def test_typical_calls_type_check_and_wrong_ones_do_not(tmp_path):
    # Lists of ints, of floats and of mixed numbers all pass (lists are invariant, so this
    # needs the stubs' item type variables); a tuple, a str count and a bad result use fail.
    good = tmp_path / "good.py"
    good.write_text(
        textwrap.dedent(
            """
            from array import array
            from typing import List, Optional, Tuple
            from skyloom._cy_utils import (
                decimated_to_screen_cy, fn_to_screen_cy, nearest_on_segments_cy, polyfit_cy,
                trapezoid_integral_cy,
            )

            ints: List[int] = [0, 1, 2]
            floats: List[float] = [0.0, 0.5, 1.0]
            gaps: List[Optional[float]] = [1.0, None, 2.0]
            buf: "array[float]"
            buf, n = decimated_to_screen_cy(ints, floats, 1000, 0, 1, 0, 1.0, 0, 100, 100, 100, False, 1)
            buf, n = fn_to_screen_cy(floats, gaps, 0, 1, 0, 1, 0, 100, 100, 100)
            hit: Optional[Tuple[float, float, float]] = nearest_on_segments_cy(
                50, 50, [0, 1.5], ints, 0, 1, 0, 1, 0, 100, 100, 100, lx=True, ly=0
            )
            area: float = trapezoid_integral_cy(floats, ints, None, 2)
            coeffs: List[float] = polyfit_cy(ints, floats, deg=2.0)
            total: int = n + 1

            import numpy as np
            from skyloom import kernels
            xa = np.linspace(0.0, 1.0, 5)
            coeffs = kernels.polyfit(xa, xa[::-1], 2)
            coeffs = kernels.polyfit(memoryview(b"abc"), array("i", [1, 2, 3]), 1)
            buf, n = kernels.fn_to_screen(floats, gaps, 0, 1, 0, 1, 0, 100, 100, 100)
            area = kernels.trapezoid_integral(xa, xa, None, 0.5)
            """
        )
    )
    cache = ["--cache-dir", str(tmp_path / "cache")]
    rc, out = run_mypy_tool(["mypy", "--strict", *cache, str(good)], tmp_path)
    assert rc == 0, out

    bad = tmp_path / "bad.py"
    bad.write_text(
        textwrap.dedent(
            """
            from skyloom._cy_utils import decimated_to_screen_cy, polyfit_cy, trapezoid_integral_cy

            trapezoid_integral_cy((0.0, 1.0), [0.0, 1.0], None, None)
            polyfit_cy([0.0], [1.0], "1")
            trapezoid_integral_cy(["0"], [1.0], None, None)
            decimated_to_screen_cy([0.0], [0.0], 10, 0, 1, 0, 1, 0, 100, 100, 100, False, False)[0].upper()
            polyfit_cy([0.0], [1.0], 1).count()
            import skyloom.kernels as k; k.polyfit((0.0,), [1.0], 1)
            """
        )
    )
    rc, out = run_mypy_tool(["mypy", *cache, str(bad)], tmp_path)
    assert rc == 1, out
    lines = sorted({int(line.split(":")[1]) for line in out.splitlines() if ": error:" in line})
    assert lines == [4, 5, 6, 7, 8, 9], out
