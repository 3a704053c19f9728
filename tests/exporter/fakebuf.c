/* A buffer exporter for the tests only (never shipped): it exports whatever format, item size,
   shape, strides and suboffsets it is told to, over bytes it copies, so that tests can give the
   kernels buffers that ctypes, numpy and memoryview never make. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <string.h>

typedef struct {
  PyObject_HEAD
  char* data;
  Py_ssize_t len, itemsize, shape, stride;
  char format[32];
  int suboffsets, no_shape, no_strides, refuse;
  Py_ssize_t sub[1];
} Fake;

static int fake_init(Fake* self, PyObject* args, PyObject* kw) {
  static char* names[] = {"data",       "format",   "itemsize", "suboffsets", "no_shape",
                          "no_strides", "refuse",   NULL};
  Py_buffer data;
  const char* format;
  Py_ssize_t itemsize;
  self->suboffsets = self->no_shape = self->no_strides = self->refuse = 0;
  if (!PyArg_ParseTupleAndKeywords(args, kw, "y*sn|pppp", names, &data, &format, &itemsize,
                                   &self->suboffsets, &self->no_shape, &self->no_strides,
                                   &self->refuse)) {
    return -1;
  }
  PyMem_Free(self->data);
  self->data = PyMem_Malloc(data.len > 0 ? data.len : 1);
  if (self->data == NULL) {
    PyBuffer_Release(&data);
    PyErr_NoMemory();
    return -1;
  }
  memcpy(self->data, data.buf, data.len);
  self->len = data.len;
  PyBuffer_Release(&data);
  strncpy(self->format, format, sizeof self->format - 1);
  self->format[sizeof self->format - 1] = 0;
  self->itemsize = itemsize;
  self->shape = itemsize > 0 ? self->len / itemsize : 0;
  self->stride = itemsize;
  self->sub[0] = 0;
  return 0;
}

static int fake_getbuffer(Fake* self, Py_buffer* view, int flags) {
  (void)flags;
  if (self->refuse) {
    PyErr_SetString(PyExc_BufferError, "this exporter is closed");
    return -1;
  }
  view->obj = (PyObject*)self;
  Py_INCREF(self);
  view->buf = self->data;
  view->len = self->len;
  view->readonly = 1;
  view->itemsize = self->itemsize;
  view->format = self->format;
  view->ndim = 1;
  view->shape = self->no_shape ? NULL : &self->shape;
  view->strides = self->no_strides ? NULL : &self->stride;
  view->suboffsets = self->suboffsets ? self->sub : NULL;
  view->internal = NULL;
  return 0;
}

static void fake_dealloc(Fake* self) {
  PyMem_Free(self->data);
  Py_TYPE(self)->tp_free((PyObject*)self);
}

static PyBufferProcs fake_as_buffer = {(getbufferproc)fake_getbuffer, NULL};

static PyTypeObject FakeType = {
    PyVarObject_HEAD_INIT(NULL, 0) "fakebuf.Fake", /* tp_name */
    sizeof(Fake),                                  /* tp_basicsize */
};

static struct PyModuleDef fake_module = {PyModuleDef_HEAD_INIT, "fakebuf", NULL, -1, NULL};

PyMODINIT_FUNC PyInit_fakebuf(void) {
  FakeType.tp_flags = Py_TPFLAGS_DEFAULT;
  FakeType.tp_new = PyType_GenericNew;
  FakeType.tp_init = (initproc)fake_init;
  FakeType.tp_dealloc = (destructor)fake_dealloc;
  FakeType.tp_as_buffer = &fake_as_buffer;
  if (PyType_Ready(&FakeType) < 0) return NULL;
  PyObject* m = PyModule_Create(&fake_module);
  if (m == NULL) return NULL;
  Py_INCREF(&FakeType);
  if (PyModule_AddObject(m, "Fake", (PyObject*)&FakeType) < 0) {
    Py_DECREF(&FakeType);
    Py_DECREF(m);
    return NULL;
  }
  return m;
}
