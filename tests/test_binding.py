"""Argument binding, conversions and the list type test, shared by all five functions."""
import sys
import warnings

import pytest

import skyloom._cy_utils as cy
from helpers import IntLike, IntSub, OddName, Raises, assert_entry, assert_no_module_entry

trap = cy.trapezoid_integral_cy
XS, YS = [0.0, 1.0, 2.0], [0.0, 1.0, 2.0]


def kw(name):
    """An equal but distinct (not interned) str, to take the by-value path of keyword matching."""
    s = "".join(list(name))
    assert s == name
    return s


class StrSub(str):
    pass


@pytest.mark.parametrize(
    "call, message",
    [
        (lambda: cy.polyfit_cy([], []), "polyfit_cy() takes exactly 3 positional arguments (2 given)"),
        (lambda: cy.polyfit_cy([], [], 1, 2), "polyfit_cy() takes exactly 3 positional arguments (4 given)"),
        # The count is tested before any keyword is looked at.
        (lambda: cy.polyfit_cy([], [], 1, 2, degree=1), "polyfit_cy() takes exactly 3 positional arguments (4 given)"),
        (lambda: cy.polyfit_cy([], [], 1, xn=[]), "polyfit_cy() got multiple values for keyword argument 'xn'"),
        # Reported before the missing deg is noticed.
        (lambda: cy.polyfit_cy([], [], xn=[]), "polyfit_cy() got multiple values for keyword argument 'xn'"),
        (lambda: cy.polyfit_cy([], [], **{kw("xn"): []}), "polyfit_cy() got multiple values for keyword argument 'xn'"),
        (lambda: cy.polyfit_cy([], [], degree=1), "polyfit_cy() got an unexpected keyword argument 'degree'"),
        # The number reported is how many leading parameters are bound.
        (lambda: cy.polyfit_cy([], deg=1), "polyfit_cy() takes exactly 3 positional arguments (1 given)"),
        (lambda: trap(XS, x_lo=None, x_hi=None), "trapezoid_integral_cy() takes exactly 4 positional arguments (1 given)"),
        (lambda: trap(ys=YS, x_lo=None, x_hi=None), "trapezoid_integral_cy() takes exactly 4 positional arguments (0 given)"),
        (lambda: trap(), "trapezoid_integral_cy() takes exactly 4 positional arguments (0 given)"),
        (lambda: cy.fn_to_screen_cy(*range(11)), "fn_to_screen_cy() takes exactly 10 positional arguments (11 given)"),
        (lambda: cy.nearest_on_segments_cy(1), "nearest_on_segments_cy() takes exactly 14 positional arguments (1 given)"),
        (lambda: cy.decimated_to_screen_cy(), "decimated_to_screen_cy() takes exactly 13 positional arguments (0 given)"),
    ],
)
def test_binding_errors(call, message):
    with pytest.raises(TypeError) as e:
        call()
    assert str(e.value) == message
    name = message.split("(")[0]
    assert_entry(e, name, cy.__dict__[name].__code__.co_firstlineno)



def test_non_str_keyword_reaching_binding():
    """A keyword name that is not a str, handed over by a vectorcall as it is."""
    _testcapi = pytest.importorskip("_testcapi")
    with pytest.raises(TypeError) as e:
        _testcapi.pyobject_vectorcall(cy.polyfit_cy, ([], 2), (1,))
    assert str(e.value) == "polyfit_cy() keywords must be strings"
    assert_entry(e, "polyfit_cy", 280)


def test_non_str_keyword_from_a_dict():
    with pytest.raises(TypeError) as e:
        cy.polyfit_cy(**{1: 2})
    if sys.version_info < (3, 9):
        # 3.8 passes the dict's keys on unchecked, so binding is what refuses them.
        assert str(e.value) == "polyfit_cy() keywords must be strings"
        assert_entry(e, "polyfit_cy", 280)
    else:
        # Later interpreters refuse them while unpacking the dict, before any callee runs.
        assert str(e.value) == "keywords must be strings"
        assert_no_module_entry(e)

@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((XS,), {"ys": YS, "x_lo": None, "x_hi": None}),
        ((), {"x_hi": None, "x_lo": None, "ys": YS, "xs": XS}),
        ((XS, YS), {kw("x_lo"): None, kw("x_hi"): None}),
        ((XS, YS), {StrSub("x_lo"): None, StrSub("x_hi"): None}),
    ],
)
def test_keyword_binding(args, kwargs):
    assert trap(*args, **kwargs) == 2.0


def test_call_slot():
    call = type(trap).__call__
    assert call(trap, XS, YS, None, x_hi=None) == 2.0
    with pytest.raises(TypeError) as e:
        call(trap, XS, YS, None, **{1: None})
    assert str(e.value) == "keywords must be strings"
    assert_no_module_entry(e)


def test_str_subclass_keyword_with_odd_eq():
    """A str subclass is compared with ==: its own __eq__ decides, and its errors propagate."""
    always = OddName("anything", lambda s, o: True)
    raising = OddName("x_hi", lambda s, o: 1 / 0)
    # Matches the first unbound parameter whatever its text.
    assert trap(XS, YS, None, **{always: None}) == 2.0
    with pytest.raises(ZeroDivisionError) as e:
        trap(XS, YS, None, **{raising: None})
    assert_entry(e, "trapezoid_integral_cy", 154)


NEAREST_ARGS = [0.0, 0.0, [], [], 0.0, 1.0, 0.0, 1.0, 0.0, 100.0, 100.0, 100.0, False, False]
DECIMATE_ARGS = [[], [], 10, 0.0, 1.0, 0.0, 1.0, 0.0, 100.0, 100.0, 100.0, False, False]
FN_ARGS = [[], [], 0.0, 1.0, 0.0, 1.0, 0.0, 100.0, 100.0, 100.0]


def with_arg(fn, args, index, value):
    args = list(args)
    args[index] = value
    return lambda: fn(*args)


@pytest.mark.parametrize(
    "fn, args, index, line",
    [(cy.nearest_on_segments_cy, NEAREST_ARGS, i, line) for i, line in
     [(0, 96), (1, 96), (4, 98), (7, 98), (8, 99), (11, 99)]]
    + [(cy.decimated_to_screen_cy, DECIMATE_ARGS, i, line) for i, line in
       [(3, 134), (6, 134), (7, 135), (10, 135)]]
    + [(cy.fn_to_screen_cy, FN_ARGS, i, line) for i, line in
       [(2, 203), (5, 203), (6, 204), (9, 204)]],
)  # fmt: skip
def test_double_conversion_errors(fn, args, index, line):
    with pytest.raises(TypeError) as e:
        with_arg(fn, args, index, "1.0")()
    assert_entry(e, fn.__name__, line)
    with pytest.raises(KeyError) as e:
        with_arg(fn, args, index, Raises(KeyError))()
    assert_entry(e, fn.__name__, line)


@pytest.mark.parametrize(
    "fn, args, index, line",
    [(cy.nearest_on_segments_cy, NEAREST_ARGS, 12, 100), (cy.nearest_on_segments_cy, NEAREST_ARGS, 13, 100),
     (cy.decimated_to_screen_cy, DECIMATE_ARGS, 11, 136), (cy.decimated_to_screen_cy, DECIMATE_ARGS, 12, 136)],
)  # fmt: skip
def test_flag_conversion_errors(fn, args, index, line):
    with pytest.raises(KeyError) as e:
        with_arg(fn, args, index, Raises(KeyError))()
    assert_entry(e, fn.__name__, line)


@pytest.mark.parametrize(
    "value, exc, message",
    [
        ("1", TypeError, "an integer is required"),
        (2**40, OverflowError, "Python int too large to convert to C long"),
        (2**31, OverflowError, "Python int too large to convert to C long"),
        (-(2**31) - 1, OverflowError, "Python int too large to convert to C long"),
        (IntLike(2**31), OverflowError, "Python int too large to convert to C long"),
        (IntLike(1.0), TypeError, "__int__ returned non-int (type float)"),
        (IntLike(None), TypeError, "__int__ returned non-int (type NoneType)"),
        (float("inf"), OverflowError, None),
        (float("nan"), ValueError, None),
        (type("IndexOnly", (), {"__index__": lambda self: 1})(), TypeError, "an integer is required"),
        (Raises(KeyError), KeyError, None),
    ],
)
def test_integer_conversion_errors(value, exc, message):
    with pytest.raises(exc) as e:
        cy.polyfit_cy([], [], value)
    if message is not None:
        assert str(e.value) == message
    assert_entry(e, "polyfit_cy", 280)


@pytest.mark.parametrize("value", [0, 2**31 - 1, -(2**31), True, 1.9, -2.9, IntSub(5), IntLike(7), 2**30, -(2**30)])
def test_integer_conversion_accepts(value):
    """Accepted values pass the front end and reach the kernel, which then looks at xn."""
    with pytest.raises((TypeError, NotImplementedError)) as e:
        cy.polyfit_cy(None, None, value)
    assert e.type is NotImplementedError or str(e.value) == "object of type 'NoneType' has no len()"


def test_int_subclass_from_int_warns():
    with warnings.catch_warnings(record=True) as w:
        warnings.simplefilter("always")
        try:
            cy.polyfit_cy(None, None, IntLike(IntSub(3)))
        except (TypeError, NotImplementedError):
            pass
    assert [str(x.message) for x in w if x.category is DeprecationWarning] == [
        "__int__ returned non-int (type IntSub).  The ability to return an instance of a strict "
        "subclass of int is deprecated, and may be removed in a future version of Python."
    ]
    with warnings.catch_warnings():
        warnings.simplefilter("error", DeprecationWarning)
        with pytest.raises(DeprecationWarning) as e:
            cy.polyfit_cy(None, None, IntLike(IntSub(3)))
    assert_entry(e, "polyfit_cy", 280)


class ListSub(list):
    pass


@pytest.mark.parametrize(
    "fn, args, index, name",
    [(trap, [XS, YS, None, None], 0, "xs"), (trap, [XS, YS, None, None], 1, "ys"),
     (cy.polyfit_cy, [[], [], 1], 0, "xn"), (cy.polyfit_cy, [[], [], 1], 1, "yn"),
     (cy.nearest_on_segments_cy, NEAREST_ARGS, 3, "ys"), (cy.decimated_to_screen_cy, DECIMATE_ARGS, 0, "xs"),
     (cy.fn_to_screen_cy, FN_ARGS, 1, "ys")],
)  # fmt: skip
@pytest.mark.parametrize("bad, type_name", [((1.0,), "tuple"), (ListSub([1.0]), "ListSub"), ("abc", "str")])
def test_list_type_test(fn, args, index, name, bad, type_name):
    with pytest.raises(TypeError) as e:
        with_arg(fn, args, index, bad)()
    assert str(e.value) == "Argument '%s' has incorrect type (expected list, got %s)" % (name, type_name)
    assert_no_module_entry(e)


def test_number_errors_come_before_list_errors():
    args = list(NEAREST_ARGS)
    args[2] = (1.0,)  # xs wrong
    args[13] = Raises(KeyError)  # and a flag that raises
    with pytest.raises(KeyError):
        cy.nearest_on_segments_cy(*args)
    with pytest.raises(TypeError, match="an integer is required"):
        cy.polyfit_cy((), (), "1")


def test_list_type_test_uses_the_types_full_name():
    import array

    with pytest.raises(TypeError, match=r"got array\.array\)$"):
        trap(array.array("d"), [], None, None)
