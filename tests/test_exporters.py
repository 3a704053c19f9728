"""Buffers as exporters other than numpy give them: ctypes arrays (explicit byte order), a
test-only exporter for formats, sizes and layouts nobody else makes, and exporters that refuse."""
import ctypes
import os
import shutil
import struct
import subprocess
import sys
import sysconfig

import numpy as np
import pytest

import skyloom._cy_utils as cy
import skyloom.kernels as kernels

VALUES = [0.0, 1.0, 3.0, 2.0, 7.0, 5.0]
# ctypes types whose arrays export '<d', '<f', '<b', ... ('>' on a big-endian machine).
CTYPES = [ctypes.c_double, ctypes.c_float, ctypes.c_byte, ctypes.c_ubyte, ctypes.c_short,
          ctypes.c_ushort, ctypes.c_int, ctypes.c_uint, ctypes.c_longlong, ctypes.c_ulonglong]


@pytest.fixture(scope="session")
def fake(tmp_path_factory):
    """The test exporter's type, compiled for this interpreter."""
    cc = (sysconfig.get_config_var("CC") or "cc").split()
    if shutil.which(cc[0]) is None:
        pytest.skip("no C compiler (%s) to build the test exporter" % cc[0])
    out = tmp_path_factory.mktemp("fakebuf")
    target = out / ("fakebuf" + sysconfig.get_config_var("EXT_SUFFIX"))
    src = os.path.join(os.path.dirname(__file__), "exporter", "fakebuf.c")
    subprocess.run(cc + ["-shared", "-fPIC", "-O1", "-I", sysconfig.get_paths()["include"],
                         src, "-o", str(target)], check=True)
    sys.path.insert(0, str(out))
    try:
        import fakebuf
    finally:
        sys.path.remove(str(out))
    return fakebuf.Fake


def reference(values):
    return cy.trapezoid_integral_cy(values, values, None, None)


@pytest.mark.parametrize("ctype", CTYPES, ids=lambda t: t.__name__)
def test_ctypes_arrays_are_read_in_the_machines_order(ctype):
    floating = ctype in (ctypes.c_double, ctypes.c_float)
    a = (ctype * len(VALUES))(*[v if floating else int(v) for v in VALUES])
    assert memoryview(a).format[0] in "<>"  # ctypes names the order explicitly
    assert kernels.trapezoid_integral(a, a, None, None) == reference(VALUES)


NATIVE = "<" if sys.byteorder == "little" else ">"
OTHER = ">" if sys.byteorder == "little" else "<"


@pytest.mark.parametrize("code, size, pack", [
    ("e", 2, "e"), ("l", 4, "i"), ("L", 4, "I"), ("d", 8, "d"), ("q", 8, "q"), ("H", 2, "H"),
])
@pytest.mark.parametrize("prefix", sorted({NATIVE, "=", "!" if NATIVE == ">" else "="}))
def test_standard_sizes_under_the_machines_order(fake, code, size, pack, prefix):
    values = VALUES if pack in "ed" else [int(v) for v in VALUES]
    buf = fake(struct.pack("=%d%s" % (len(values), pack), *values), prefix + code, size)
    assert kernels.trapezoid_integral(buf, buf, None, None) == reference(VALUES)


@pytest.mark.parametrize("fmt, itemsize, text", [
    (OTHER + "d", 8, "has items of format '%sd'" % OTHER),
    ("!d" if NATIVE == "<" else "<d", 8, "has items of format"),
    (NATIVE + "n", 8, "has items of format '%sn'" % NATIVE),
    (NATIVE + "N", 8, "has items of format '%sN'" % NATIVE),
    (NATIVE + "l", 8, "has items of format '%sl', which are 4 bytes, but its buffer gives an item size of 8"
     % NATIVE),
    ("d", 4, "has items of format 'd', which are 8 bytes, but its buffer gives an item size of 4"),
    ("=q", 4, "has items of format '=q', which are 8 bytes, but its buffer gives an item size of 4"),
])
def test_other_orders_and_sizes_are_refused(fake, fmt, itemsize, text):
    buf = fake(bytes(8 * itemsize), fmt, itemsize)
    with pytest.raises(TypeError, match="xs " + text):
        kernels.trapezoid_integral(buf, buf, None, None)


def test_layouts_the_exporter_leaves_out(fake):
    raw = struct.pack("=6d", *VALUES)
    for kw in ({"no_shape": True}, {"no_strides": True}, {"no_shape": True, "no_strides": True}):
        buf = fake(raw, "d", 8, **kw)
        assert kernels.trapezoid_integral(buf, buf, None, None) == reference(VALUES), kw
    buf = fake(raw, "d", 8, suboffsets=True)
    with pytest.raises(BufferError, match="ys: its exporter gave an indirect buffer"):
        kernels.trapezoid_integral(np.zeros(6), buf, None, None)


def test_an_exporters_refusal_names_the_parameter(fake):
    closed = fake(b"", "d", 8, refuse=True)
    with pytest.raises(BufferError, match="yn could not be exported as a buffer: this exporter "
                       "is closed") as e:
        kernels.polyfit(np.zeros(3), closed, 1)
    assert isinstance(e.value.__cause__, BufferError)


@pytest.mark.parametrize("dtype", ["datetime64[ns]", "timedelta64[s]"])
def test_numpy_dates_say_how_to_pass_them(dtype):
    t = np.arange(4).astype(dtype)
    with pytest.raises(TypeError, match=r"xs holds numpy dates or durations.*xs\.view\('i8'\)") \
            as e:
        kernels.trapezoid_integral(t, np.ones(4), None, None)
    assert isinstance(e.value.__cause__, ValueError)
    # The way the message gives: the integer counts, as floats.
    assert kernels.trapezoid_integral(t.view("i8"), np.ones(4), None, None) == 3.0
