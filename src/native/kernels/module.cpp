// skyloom.kernels: the module object, its state and its method table; each function lives in a
// file of its own in this folder. The kernels of skyloom._cy_utils on lists or on numeric
// buffers read in place, with the interpreter lock released while buffers are read. Per-module
// state only, so the module can be loaded into any number of interpreters.
#include "kernels/args.h"
#include "kernels/functions.h"
#include "python/compat.h"
#include "python/darray.h"

namespace skyloom::kernels {

namespace {

struct State {
  PyObject* double_template;  // array.array('d'), cloned for every result
};

State* state(PyObject* module) noexcept {
  return static_cast<State*>(PyModule_GetState(module));
}

PyMethodDef kernel_methods[] = {
    SKYLOOM_METHOD(decimated_to_screen, decimated_to_screen_doc),
    SKYLOOM_METHOD(fn_to_screen, fn_to_screen_doc),
    SKYLOOM_METHOD(nearest_on_segments, nearest_on_segments_doc),
    SKYLOOM_METHOD(trapezoid_integral, trapezoid_integral_doc),
    SKYLOOM_METHOD(polyfit, polyfit_doc),
    SKYLOOM_METHOD(m4_to_screen, m4_to_screen_doc),
    {nullptr, nullptr, 0, nullptr},
};

int kernels_exec(PyObject* module) noexcept {
  Ref am(PyImport_ImportModule("array"));
  if (!am) return -1;
  Ref type(PyObject_GetAttrString(am.get(), "array"));
  if (!type || !check_array_type(type.get())) return -1;
  PyObject* tmpl = PyObject_CallFunction(type.get(), "s", "d");
  if (tmpl == nullptr) return -1;
  state(module)->double_template = tmpl;
  return add_series_index(module) ? 0 : -1;
}

int kernels_traverse(PyObject* module, visitproc visit, void* arg) noexcept {
  State* s = state(module);
  if (s != nullptr) Py_VISIT(s->double_template);
  return 0;
}

int kernels_clear(PyObject* module) noexcept {
  State* s = state(module);
  if (s != nullptr) Py_CLEAR(s->double_template);
  return 0;
}

void kernels_free(void* module) noexcept {
  kernels_clear(static_cast<PyObject*>(module));
}

PyModuleDef_Slot kernel_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(kernels_exec)},
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
    {0, nullptr},
};

PyModuleDef kernels_def = {
    PyModuleDef_HEAD_INIT,
    "skyloom.kernels",
    "The kernels of skyloom on lists or on numeric buffers (numpy arrays, array.array, "
    "memoryview, ...), read in place.",
    sizeof(State),
    kernel_methods,
    kernel_slots,
    kernels_traverse,
    kernels_clear,
    kernels_free,
};

}  // namespace

PyObject* double_template(PyObject* module) noexcept {
  return state(module)->double_template;
}

}  // namespace skyloom::kernels

extern "C" SKYLOOM_EXPORT PyObject* PyInit_kernels(void) {
  return PyModuleDef_Init(&skyloom::kernels::kernels_def);
}
