"""Import behaviour, the namespace, and the module functions as objects."""
import array
import inspect
import pickle
import subprocess
import sys
import textwrap

import pytest

import skyloom._cy_utils as cy

FUNCTIONS = {
    # name: (first line, parameters, further locals)
    "nearest_on_segments_cy": (
        95,
        "mx my xs ys x0 dx y0 dy pl pb pw ph lx ly",
        "n i bd bxi byi p0x p0y p1x p1y sx sy sl2 t d xi0 yi0 xi1 yi1",
    ),
    "decimated_to_screen_cy": (
        132,
        "xs ys max_pts x0 dx y0 dy pl pb pw ph lx ly",
        "n out_n buf v step px py i idx",
    ),
    "trapezoid_integral_cy": (154, "xs ys x_lo x_hi", "n i lo hi total px py cx cy hp"),
    "fn_to_screen_cy": (
        201,
        "xs ys x0 dx y0 dy pl pb pw ph",
        "n i j seg_start seg_len simp_n out_n px2 py2 raw_px raw_py simp_px simp_py empty "
        "out_buf v yi_obj",
    ),
    "polyfit_cy": (280, "xn yn deg", "d n i r c j vtv vty row xi yi"),
}


def run_python(code):
    """Runs code in a fresh interpreter; returns (exit code, stdout, stderr)."""
    p = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)], capture_output=True, text=True, timeout=120
    )
    return p.returncode, p.stdout, p.stderr


def test_namespace():
    expected = {
        "__name__", "__doc__", "__loader__", "__file__", "__package__", "__spec__",
        "__builtins__", "_am", "__test__", *FUNCTIONS,
    }  # fmt: skip
    assert set(vars(cy)) == expected
    assert cy.__name__ == "skyloom._cy_utils"
    assert cy.__doc__ is None
    assert cy.__package__ == "skyloom"
    assert cy.__file__ == cy.__spec__.origin
    assert cy._am is array
    assert cy.__test__ == {} and type(cy.__test__) is dict
    assert cy.__builtins__ is __import__("builtins")
    assert not hasattr(cy, "__path__")


def test_one_module_object_per_process():
    cy.__test__["marker"] = 1
    try:
        del sys.modules["skyloom._cy_utils"]
        import skyloom._cy_utils as again

        assert again is cy
        assert again.__test__ == {"marker": 1}
        assert sys.modules["skyloom._cy_utils"] is cy
    finally:
        cy.__test__.clear()


@pytest.mark.parametrize("name", FUNCTIONS)
def test_function_attributes(name):
    first, params, local_names = FUNCTIONS[name]
    f = getattr(cy, name)
    assert f.__name__ == f.__qualname__ == name
    assert f.__module__ == "skyloom._cy_utils"
    assert f.__doc__ is None and f.__defaults__ is None
    assert f.__globals__ is vars(cy)
    code = f.__code__
    assert code.co_name == name
    assert code.co_filename.startswith("skyloom/_cy_utils.")
    assert code.co_firstlineno == first
    assert code.co_argcount == len(params.split())
    assert code.co_posonlyargcount == code.co_kwonlyargcount == 0
    assert code.co_flags == 0x3
    assert code.co_varnames == tuple(params.split() + local_names.split())
    sig = inspect.signature(f)
    assert list(sig.parameters) == params.split()
    assert all(
        p.default is p.empty and p.kind is p.POSITIONAL_OR_KEYWORD and p.annotation is p.empty
        for p in sig.parameters.values()
    )


def test_no_source_file_behind_code_file_name():
    """Tracebacks must not show lines of an unrelated file of that name."""
    import linecache

    filename = cy.polyfit_cy.__code__.co_filename
    assert linecache.getline(filename, 280, vars(cy)) == ""


@pytest.mark.parametrize("attr", ["__name__", "__qualname__"])
def test_name_setters(attr):
    f = cy.polyfit_cy
    with pytest.raises(TypeError, match="^%s must be set to a string object$" % attr):
        setattr(f, attr, 3)
    with pytest.raises(TypeError, match="^%s must be set to a string object$" % attr):
        delattr(f, attr)
    other = "__qualname__" if attr == "__name__" else "__name__"
    try:
        setattr(f, attr, "renamed")
        assert getattr(f, attr) == "renamed"
        assert getattr(f, other) == "polyfit_cy"
    finally:
        setattr(f, attr, "polyfit_cy")


def test_pickling_by_name():
    for name in FUNCTIONS:
        f = getattr(cy, name)
        for proto in range(pickle.HIGHEST_PROTOCOL + 1):
            assert pickle.loads(pickle.dumps(f, proto)) is f
    assert cy.polyfit_cy.__reduce__() == "polyfit_cy"
    cy.polyfit_cy.__qualname__ = "no_such_function"
    try:
        with pytest.raises(pickle.PicklingError):
            pickle.dumps(cy.polyfit_cy)
    finally:
        cy.polyfit_cy.__qualname__ = "polyfit_cy"


def test_binds_as_method():
    class Series:
        integrate = cy.trapezoid_integral_cy

    s = Series()
    assert Series.integrate is cy.trapezoid_integral_cy
    bound = s.integrate
    assert bound.__self__ is s and bound.__func__ is cy.trapezoid_integral_cy
    # The instance arrives as xs, which is not a list.
    with pytest.raises(TypeError, match=r"^Argument 'xs' has incorrect type \(expected list, got Series\)$"):
        s.integrate([0.0], None, None)


def test_repr_and_weakref():
    import weakref

    assert repr(cy.polyfit_cy).startswith("<function polyfit_cy at 0x")
    assert weakref.ref(cy.polyfit_cy)() is cy.polyfit_cy


def test_version_guard_is_silent_on_the_compiled_version():
    rc, out, err = run_python(
        """
        import warnings
        warnings.simplefilter("error")
        import skyloom._cy_utils
        print("ok")
        """
    )
    assert rc == 0 and out.strip() == "ok", err


def test_other_interpreter_is_refused():
    inner = "try:\n    import skyloom._cy_utils\nexcept ImportError as e:\n    print('refused:', e)\n"
    rc, out, err = run_python(
        """
        import _testcapi
        import skyloom._cy_utils
        _testcapi.run_in_subinterp(%r)
        """
        % inner
    )
    assert rc == 0, err
    assert out.strip() == (
        "refused: Interpreter change detected - this module can only be loaded into one "
        "interpreter per process."
    )


def test_exec_on_a_second_module_object_is_refused():
    rc, out, err = run_python(
        """
        import _imp, importlib.util
        spec = importlib.util.find_spec("skyloom._cy_utils")
        a = _imp.create_dynamic(spec)
        b = _imp.create_dynamic(spec)
        assert a is not b
        _imp.exec_dynamic(a)
        try:
            _imp.exec_dynamic(b)
        except RuntimeError as e:
            print(e)
        assert _imp.create_dynamic(spec) is a
        """
    )
    assert rc == 0, err
    assert out.strip() == (
        "Module '_cy_utils' has already been imported. Re-initialisation is not supported."
    )


# A failed import adds the entry "init skyloom._cy_utils" at the failing step's line, and a later
# import in the same process starts afresh.
FAILED_IMPORTS = {
    "array module missing": (
        "sys.modules['array'] = None",
        "ModuleNotFoundError",
        1,
    ),
    "array.array not a type": (
        "fake = types.ModuleType('array'); fake.array = len; sys.modules['array'] = fake",
        "TypeError: array.array is not a type object",
        1,
    ),
    "array.array too small": (
        "fake = types.ModuleType('array'); fake.array = int; sys.modules['array'] = fake",
        "ValueError: array.array size changed",
        1,
    ),
    "template not an array": (
        "import array\n"
        "class A(array.array):\n"
        "    __slots__ = ()\n"
        "    def __new__(cls, tc): return 5\n"
        "fake = types.ModuleType('array'); fake.array = A; sys.modules['array'] = fake",
        "TypeError: Cannot convert int to A",
        8,
    ),
}


@pytest.mark.parametrize("setup, error, line", FAILED_IMPORTS.values(), ids=list(FAILED_IMPORTS))
def test_failed_import(setup, error, line):
    rc, out, err = run_python(
        """
        import sys, types, traceback
        real = sys.modules.get('array')
        %s
        try:
            import skyloom._cy_utils
        except Exception as e:
            print(type(e).__name__ + ": " + str(e))
            tb = traceback.extract_tb(e.__traceback__)
            print([(f.name, f.filename, f.lineno) for f in tb if f.name.startswith("init")])
        else:
            print("imported")
        sys.modules.pop('skyloom._cy_utils', None)
        if real is None:
            del sys.modules['array']
        else:
            sys.modules['array'] = real
        import skyloom._cy_utils as m
        print(m.trapezoid_integral_cy([0, 1], [1, 1], None, None), type(m._am.array))
        """
        % textwrap.indent(setup, " " * 8).strip()
    )
    assert rc == 0, err
    lines = out.strip().splitlines()
    assert lines[0].startswith(error)
    assert lines[1] == str([("init skyloom._cy_utils", "skyloom/_cy_utils.cpp", line)])
    assert lines[2] == "1.0 <class 'type'>"


# A lookup of the exec step that raises: a key of the same hash as the name looked up, whose
# comparison answers "different" until the lookup to test is due, then raises, then claims
# equality (so a lookup that swallowed the error would go on to replace that key's entry). The
# namespace's _am is stored before it is looked up: only the lookup after the store may raise.
@pytest.mark.parametrize(
    "where, name, due, line",
    [
        ("sys.modules", "skyloom._cy_utils", "True", 1),
        ("module.__dict__", "_am", "'_am' in [k for k in module.__dict__ if type(k) is str]", 8),
    ],
    ids=["sys.modules", "namespace"],
)
def test_failing_lookup_at_import_propagates(where, name, due, line):
    rc, out, err = run_python(
        """
        import importlib.util, sys, traceback

        class Boom(Exception):
            pass

        class Key(str):
            state = "idle"
            def __hash__(self):
                return str.__hash__(self)
            def __eq__(self, other):
                if Key.state == "armed" and %(due)s:
                    Key.state = "raised"
                    raise Boom()
                return Key.state == "raised"

        spec = importlib.util.find_spec("skyloom._cy_utils")
        module = importlib.util.module_from_spec(spec)
        planted = object()
        %(where)s[Key(%(name)r)] = planted
        Key.state = "armed"
        try:
            spec.loader.exec_module(module)
        except Boom as e:
            tb = traceback.extract_tb(e.__traceback__)
            print([(f.name, f.filename, f.lineno) for f in tb if f.name.startswith("init")])
        else:
            print("imported")
        Key.state = "raised"  # equal to the planted key from now on
        print(%(where)s[Key(%(name)r)] is planted)
        """
        % dict(where=where, name=name, due=due)
    )
    assert rc == 0, err
    assert err == ""
    assert out.splitlines() == [
        str([("init skyloom._cy_utils", "skyloom/_cy_utils.cpp", line)]),
        "True",
    ]
