// Floors for the benchmarks: only the unavoidable part of each function's work, reading the same
// lists (or, for read_buffers, the same buffers of doubles). Each item pointer is read straight from the list and its float unboxed once; the bits are
// folded with XOR so the reads cannot be optimised away, without a dependent floating-point chain.
// Every floor takes the two lists first and then any further arguments, which it ignores, so that
// it can be called with as many arguments as the function it stands for.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdint>
#include <cstring>

namespace {

inline std::uint64_t bits(PyObject* o) {
  double v = PyFloat_CheckExact(o) ? PyFloat_AS_DOUBLE(o) : 0.0;
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

bool two_lists(PyObject* const* args, Py_ssize_t nargs, Py_ssize_t want) {
  if (nargs < want || !PyList_CheckExact(args[0]) || !PyList_CheckExact(args[1])) {
    PyErr_SetString(PyExc_TypeError, "expected two lists (and the counts the floor needs)");
    return false;
  }
  return true;
}

// The cheapest possible call with the same arguments.
PyObject* noop(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
  Py_RETURN_NONE;
}

// Every float of both lists, index by index.
PyObject* read_pairs(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!two_lists(args, nargs, 2)) return nullptr;
  Py_ssize_t n = PyList_GET_SIZE(args[0]);
  if (PyList_GET_SIZE(args[1]) < n) n = PyList_GET_SIZE(args[1]);
  std::uint64_t acc = 0;
  for (Py_ssize_t i = 0; i < n; ++i) {
    acc ^= bits(PyList_GET_ITEM(args[0], i)) ^ bits(PyList_GET_ITEM(args[1], i));
  }
  return PyLong_FromUnsignedLongLong(acc);
}

// The floats of both lists where ys is not None (a sampled curve's defined samples).
PyObject* read_defined_pairs(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!two_lists(args, nargs, 2)) return nullptr;
  Py_ssize_t n = PyList_GET_SIZE(args[0]);
  if (PyList_GET_SIZE(args[1]) < n) n = PyList_GET_SIZE(args[1]);
  std::uint64_t acc = 0;
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* y = PyList_GET_ITEM(args[1], i);
    if (y == Py_None) continue;
    acc ^= bits(PyList_GET_ITEM(args[0], i)) ^ bits(y);
  }
  return PyLong_FromUnsignedLongLong(acc);
}

// The floats of both lists at the indices that decimation to max_pts points chooses.
PyObject* read_strided_pairs(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (!two_lists(args, nargs, 3)) return nullptr;
  Py_ssize_t n = PyList_GET_SIZE(args[0]);
  if (PyList_GET_SIZE(args[1]) < n) n = PyList_GET_SIZE(args[1]);
  Py_ssize_t m = PyLong_AsSsize_t(args[2]);
  if (m == -1 && PyErr_Occurred()) return nullptr;
  if (m > n) m = n;
  std::uint64_t acc = 0;
  if (m > 0) {
    double step = m < n ? static_cast<double>(n) / static_cast<double>(m) : 1.0;
    for (Py_ssize_t i = 0; i + 1 < m; ++i) {
      Py_ssize_t idx = static_cast<Py_ssize_t>(static_cast<double>(i) * step);
      acc ^= bits(PyList_GET_ITEM(args[0], idx)) ^ bits(PyList_GET_ITEM(args[1], idx));
    }
    acc ^= bits(PyList_GET_ITEM(args[0], n - 1)) ^ bits(PyList_GET_ITEM(args[1], n - 1));
  }
  return PyLong_FromUnsignedLongLong(acc);
}

// Every double of each buffer argument (contiguous float64, e.g. a numpy array), folded as bits:
// the floor of reading the buffers once, a loop the compiler vectorises.
PyObject* read_buffers(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  std::uint64_t acc = 0;
  for (Py_ssize_t k = 0; k < nargs; ++k) {
    Py_buffer view;
    if (PyObject_GetBuffer(args[k], &view, PyBUF_C_CONTIGUOUS | PyBUF_FORMAT) < 0) return nullptr;
    if (view.itemsize != sizeof(double) || view.format == nullptr || view.format[0] != 'd') {
      PyBuffer_Release(&view);
      PyErr_SetString(PyExc_TypeError, "expected contiguous buffers of doubles");
      return nullptr;
    }
    const char* p = static_cast<const char*>(view.buf);
    const Py_ssize_t n = view.len / 8;
    std::uint64_t lanes[4] = {};
    Py_ssize_t i = 0;
    for (; i + 4 <= n; i += 4) {
      for (int l = 0; l < 4; ++l) {
        std::uint64_t b;
        std::memcpy(&b, p + 8 * (i + l), sizeof b);
        lanes[l] ^= b;
      }
    }
    for (; i < n; ++i) {
      std::uint64_t b;
      std::memcpy(&b, p + 8 * i, sizeof b);
      lanes[0] ^= b;
    }
    acc ^= lanes[0] ^ lanes[1] ^ lanes[2] ^ lanes[3];
    PyBuffer_Release(&view);
  }
  return PyLong_FromUnsignedLongLong(acc);
}

// Every value of two float64 buffers, index by index, read in place (any stride): the floor of
// the kernels on buffers.
PyObject* read_buffer_pairs(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
  if (nargs < 2) {
    PyErr_SetString(PyExc_TypeError, "expected two buffers");
    return nullptr;
  }
  Py_buffer bx, by;
  if (PyObject_GetBuffer(args[0], &bx, PyBUF_STRIDES | PyBUF_FORMAT) < 0) return nullptr;
  if (PyObject_GetBuffer(args[1], &by, PyBUF_STRIDES | PyBUF_FORMAT) < 0) {
    PyBuffer_Release(&bx);
    return nullptr;
  }
  std::uint64_t acc = 0;
  if (bx.ndim != 1 || by.ndim != 1 || bx.itemsize != 8 || by.itemsize != 8 ||
      std::strcmp(bx.format, "d") != 0 || std::strcmp(by.format, "d") != 0) {
    PyErr_SetString(PyExc_TypeError, "expected two one-dimensional float64 buffers");
  } else {
    const Py_ssize_t n = bx.shape[0] < by.shape[0] ? bx.shape[0] : by.shape[0];
    const char* px = static_cast<const char*>(bx.buf);
    const char* py = static_cast<const char*>(by.buf);
    const Py_ssize_t sx = bx.strides[0], sy = by.strides[0];
    if (sx == 8 && sy == 8) {  // the common case, as a loop the compiler can vectorise
      for (Py_ssize_t i = 0; i < n; ++i) {
        std::uint64_t a, b;
        std::memcpy(&a, px + 8 * i, 8);
        std::memcpy(&b, py + 8 * i, 8);
        acc ^= a ^ b;
      }
    } else {
      for (Py_ssize_t i = 0; i < n; ++i) {
        std::uint64_t a, b;
        std::memcpy(&a, px + sx * i, 8);
        std::memcpy(&b, py + sy * i, 8);
        acc ^= a ^ b;
      }
    }
  }
  PyBuffer_Release(&bx);
  PyBuffer_Release(&by);
  return PyErr_Occurred() ? nullptr : PyLong_FromUnsignedLongLong(acc);
}

// The no-op call that also makes polyfit_cy's result for no points, a new list of min(deg + 1,
// 10) zeros (one shared 0.0): the part of that call which no implementation can skip.
PyObject* zeros_list(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject*) {
  if (nargs != 3) {
    PyErr_SetString(PyExc_TypeError, "expected xn, yn, deg");
    return nullptr;
  }
  long d = PyLong_AsLong(args[2]);
  if (d == -1 && PyErr_Occurred()) return nullptr;
  d = d >= 9 ? 10 : d + 1;
  static PyObject* zero = PyFloat_FromDouble(0.0);
  PyObject* list = PyList_New(d > 0 ? d : 0);
  if (list == nullptr) return nullptr;
  for (long k = 0; k < d; ++k) {
    Py_INCREF(zero);
    PyList_SET_ITEM(list, k, zero);
  }
  return list;
}

PyMethodDef methods[] = {
    {"noop", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(noop)),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"zeros_list", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(zeros_list)),
     METH_FASTCALL | METH_KEYWORDS, nullptr},
    {"read_pairs", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_pairs)),
     METH_FASTCALL, nullptr},
    {"read_defined_pairs",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_defined_pairs)), METH_FASTCALL,
     nullptr},
    {"read_buffers", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_buffers)),
     METH_FASTCALL, nullptr},
    {"read_strided_pairs",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_strided_pairs)), METH_FASTCALL,
     nullptr},
    {"read_buffer_pairs",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(read_buffer_pairs)), METH_FASTCALL,
     nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef module = {PyModuleDef_HEAD_INIT,
                      "skyloom_bench_floor",
                      nullptr,
                      -1,
                      methods,
                      nullptr,
                      nullptr,
                      nullptr,
                      nullptr};

}  // namespace

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_skyloom_bench_floor() {
  return PyModule_Create(&module);
}
