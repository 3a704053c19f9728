// The module function type: a vectorcall entry into the binding engine, with the attributes,
// pickling and method binding of a Python function.
#include "cy_utils/function.h"

#include <structmember.h>

#include "cy_utils/lines.h"
#include "python/compat.h"

namespace skyloom {

namespace {

struct Function {
  PyObject_HEAD vectorcallfunc vectorcall;
  FunctionDef* def;
  PyObject* name;
  PyObject* qualname;
  PyObject* module;
  PyObject* doc;
  PyObject* globals;
  PyObject* code;
  PyObject* annotations;  // made on first access, like a Python function's
  PyObject* dict;
  PyObject* weakreflist;
};

Function* as_function(PyObject* self) noexcept {
  return reinterpret_cast<Function*>(self);
}

PyObject* function_vectorcall(PyObject* self, PyObject* const* args, size_t nargsf,
                              PyObject* kwnames) noexcept {
  return call_function(*as_function(self)->def, args, PyVectorcall_NARGS(nargsf), kwnames);
}

// Calls through the type's call slot: copies the tuple and dict into the vectorcall form.
PyObject* function_call(PyObject* self, PyObject* args, PyObject* kwargs) noexcept {
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  const Py_ssize_t nkw = kwargs ? PyDict_GET_SIZE(kwargs) : 0;
  if (nkw == 0)
    return call_function(*as_function(self)->def, &PyTuple_GET_ITEM(args, 0), nargs, nullptr);
  Ref stack_owner(PyTuple_New(nargs + nkw));  // holds the values while the call runs
  Ref kwnames(PyTuple_New(nkw));
  if (!stack_owner || !kwnames) return nullptr;
  for (Py_ssize_t i = 0; i < nargs; ++i) {
    PyObject* a = PyTuple_GET_ITEM(args, i);
    Py_INCREF(a);
    PyTuple_SET_ITEM(stack_owner.get(), i, a);
  }
  Py_ssize_t pos = 0, q = 0;
  PyObject *key, *value;
  while (PyDict_Next(kwargs, &pos, &key, &value)) {
    if (!PyUnicode_Check(key)) {
      PyErr_SetString(PyExc_TypeError, "keywords must be strings");
      return nullptr;
    }
    Py_INCREF(key);
    PyTuple_SET_ITEM(kwnames.get(), q, key);
    Py_INCREF(value);
    PyTuple_SET_ITEM(stack_owner.get(), nargs + q, value);
    ++q;
  }
  return call_function(*as_function(self)->def, &PyTuple_GET_ITEM(stack_owner.get(), 0), nargs,
                       kwnames.get());
}

// A module function fetched through an instance becomes a bound method, as a Python function.
PyObject* function_descr_get(PyObject* self, PyObject* obj, PyObject*) noexcept {
  if (obj == nullptr || obj == Py_None) return Ref::borrow(self).release();
  return PyMethod_New(self, obj);
}

PyObject* function_repr(PyObject* self) noexcept {
  return PyUnicode_FromFormat("<function %U at %p>", as_function(self)->qualname, self);
}

int function_traverse(PyObject* self, visitproc visit, void* arg) noexcept {
  Function* f = as_function(self);
  Py_VISIT(f->name);
  Py_VISIT(f->qualname);
  Py_VISIT(f->module);
  Py_VISIT(f->doc);
  Py_VISIT(f->globals);
  Py_VISIT(f->code);
  Py_VISIT(f->annotations);
  Py_VISIT(f->dict);
  return 0;
}

int function_clear(PyObject* self) noexcept {
  Function* f = as_function(self);
  Py_CLEAR(f->name);
  Py_CLEAR(f->qualname);
  Py_CLEAR(f->module);
  Py_CLEAR(f->doc);
  Py_CLEAR(f->globals);
  Py_CLEAR(f->code);
  Py_CLEAR(f->annotations);
  Py_CLEAR(f->dict);
  return 0;
}

void function_dealloc(PyObject* self) noexcept {
  PyObject_GC_UnTrack(self);
  if (as_function(self)->weakreflist != nullptr) PyObject_ClearWeakRefs(self);
  function_clear(self);
  PyObject_GC_Del(self);
}

// __name__ and __qualname__: writable, but only with a str.
int set_str_attr(PyObject*& slot, PyObject* value, const char* message) noexcept {
  if (value == nullptr || !PyUnicode_Check(value)) {
    PyErr_SetString(PyExc_TypeError, message);
    return -1;
  }
  Py_INCREF(value);
  Py_SETREF(slot, value);
  return 0;
}

PyObject* get_name(PyObject* self, void*) noexcept {
  return Ref::borrow(as_function(self)->name).release();
}
int set_name(PyObject* self, PyObject* value, void*) noexcept {
  return set_str_attr(as_function(self)->name, value, "__name__ must be set to a string object");
}
PyObject* get_qualname(PyObject* self, void*) noexcept {
  return Ref::borrow(as_function(self)->qualname).release();
}
int set_qualname(PyObject* self, PyObject* value, void*) noexcept {
  return set_str_attr(as_function(self)->qualname, value,
                      "__qualname__ must be set to a string object");
}
PyObject* get_none(PyObject*, void*) noexcept {
  Py_RETURN_NONE;
}
PyObject* get_annotations(PyObject* self, void*) noexcept {
  Function* f = as_function(self);
  if (f->annotations == nullptr && (f->annotations = PyDict_New()) == nullptr) return nullptr;
  return Ref::borrow(f->annotations).release();
}

// Pickling stores the function by module and name; unpickling fetches it from the module.
PyObject* function_reduce(PyObject* self, PyObject*) noexcept {
  return Ref::borrow(as_function(self)->qualname).release();
}

PyGetSetDef function_getset[] = {
    {"__name__", get_name, set_name, nullptr, nullptr},
    {"__qualname__", get_qualname, set_qualname, nullptr, nullptr},
    {"__defaults__", get_none, nullptr, nullptr, nullptr},
    {"__kwdefaults__", get_none, nullptr, nullptr, nullptr},
    {"__closure__", get_none, nullptr, nullptr, nullptr},
    {"__annotations__", get_annotations, nullptr, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMemberDef function_members[] = {
    {"__module__", T_OBJECT, offsetof(Function, module), 0, nullptr},
    {"__doc__", T_OBJECT, offsetof(Function, doc), 0, nullptr},
    {"__globals__", T_OBJECT, offsetof(Function, globals), READONLY, nullptr},
    {"__code__", T_OBJECT, offsetof(Function, code), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyMethodDef function_methods[] = {
    {"__reduce__", function_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyTypeObject function_type = [] {
  PyTypeObject t{};
  t.ob_base.ob_base.ob_refcnt = 1;  // a static type lives for the process
  t.tp_name = "skyloom_function";
  t.tp_basicsize = sizeof(Function);
  t.tp_dealloc = function_dealloc;
  t.tp_vectorcall_offset = offsetof(Function, vectorcall);
  t.tp_repr = function_repr;
  t.tp_call = function_call;
  t.tp_getattro = PyObject_GenericGetAttr;
  t.tp_setattro = PyObject_GenericSetAttr;
  t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_METHOD_DESCRIPTOR |
               compat::kHaveVectorcall;
  t.tp_traverse = function_traverse;
  t.tp_clear = function_clear;
  t.tp_weaklistoffset = offsetof(Function, weakreflist);
  t.tp_methods = function_methods;
  t.tp_members = function_members;
  t.tp_getset = function_getset;
  t.tp_descr_get = function_descr_get;
  t.tp_dictoffset = offsetof(Function, dict);
  return t;
}();

}  // namespace

bool ready_function_type() noexcept {
  return PyType_Ready(&function_type) == 0;
}

PyObject* new_function(FunctionDef& def, PyObject* code, PyObject* globals) noexcept {
  Ref name(PyUnicode_FromString(def.name));
  Ref module(PyUnicode_FromString("skyloom._cy_utils"));
  if (!name || !module) return nullptr;
  Function* f = PyObject_GC_New(Function, &function_type);
  if (f == nullptr) return nullptr;
  f->vectorcall = function_vectorcall;
  f->def = &def;
  f->qualname = Ref::borrow(name.get()).release();
  f->name = name.release();
  f->module = module.release();
  f->doc = Ref::borrow(Py_None).release();
  f->globals = Ref::borrow(globals).release();
  f->code = Ref::borrow(code).release();
  f->annotations = nullptr;
  f->dict = nullptr;
  f->weakreflist = nullptr;
  PyObject_GC_Track(f);
  return reinterpret_cast<PyObject*>(f);
}

bool intern_names(FunctionDef& def) noexcept {
  for (int k = 0; k < def.nparams; ++k) {
    PyObject* s = PyUnicode_InternFromString(def.params[k].name);
    if (s == nullptr) return false;
    def.names[k] = s;  // owned by the module for the life of the process
    if ((def.hashes[k] = PyObject_Hash(s)) == -1) return false;
  }
  return true;
}

PyObject* new_code_object(const FunctionDef& def) noexcept {
  // An empty code object, then the signature that introspection reads: argument count,
  // variable names and the flags of an optimised function with new locals.
  Ref code(
      reinterpret_cast<PyObject*>(PyCode_NewEmpty(lines::kSourcePath, def.name, def.first_line)));
  const Py_ssize_t nvars = def.nparams + def.nlocals;
  Ref varnames(PyTuple_New(nvars));
  if (!code || !varnames) return nullptr;
  for (Py_ssize_t k = 0; k < nvars; ++k) {
    PyObject* s = k < def.nparams ? Ref::borrow(def.names[k]).release()
                                  : PyUnicode_InternFromString(def.locals[k - def.nparams]);
    if (s == nullptr) return nullptr;
    PyTuple_SET_ITEM(varnames.get(), k, s);
  }
  Ref replace(PyObject_GetAttrString(code.get(), "replace"));
  Ref empty(PyTuple_New(0));
  Ref kw(Py_BuildValue("{s:i,s:O,s:n,s:i}", "co_argcount", def.nparams, "co_varnames",
                       varnames.get(), "co_nlocals", nvars, "co_flags",
                       CO_OPTIMIZED | CO_NEWLOCALS));
  if (!replace || !empty || !kw) return nullptr;
  Ref result(PyObject_Call(replace.get(), empty.get(), kw.get()));
  if (result) compat::set_code_flags(result.get(), CO_OPTIMIZED | CO_NEWLOCALS);
  return result.release();
}

}  // namespace skyloom
