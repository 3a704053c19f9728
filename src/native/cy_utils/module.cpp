// Module definition and multi-phase initialisation: one module object per process, bound to the
// first interpreter that loads it.
#include <cstdio>
#include <cstring>
#include <iterator>

#include "cy_utils/function.h"
#include "cy_utils/lines.h"
#include "cy_utils/state.h"
#include "cy_utils/traceback.h"
#include "cy_utils/version.h"
#include "python/compat.h"
#include "python/darray.h"

namespace skyloom {

ModuleState g_module;

namespace {

constexpr char kModuleName[] = "skyloom._cy_utils";
constexpr char kInitName[] = "init skyloom._cy_utils";

FunctionDef* const kFunctions[] = {&kNearestOnSegments, &kDecimatedToScreen, &kTrapezoidIntegral,
                                   &kFnToScreen, &kPolyfit};

// Copies one attribute of the import spec into the new module's namespace; a missing one is
// skipped.
bool copy_spec_attr(PyObject* spec, const char* from, PyObject* dict, const char* to,
                    bool skip_none) noexcept {
  Ref value(PyObject_GetAttrString(spec, from));
  if (!value) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return false;
    PyErr_Clear();
    return true;
  }
  if (skip_none && value.get() == Py_None) return true;
  return PyDict_SetItemString(dict, to, value.get()) == 0;
}

PyObject* module_create(PyObject* spec, PyModuleDef*) noexcept {
  std::int64_t id = PyInterpreterState_GetID(compat::current_interpreter());
  if (id == -1) return nullptr;
  if (g_module.owner_interpreter == -1) {
    g_module.owner_interpreter = id;
  } else if (g_module.owner_interpreter != id) {
    PyErr_SetString(PyExc_ImportError,
                    "Interpreter change detected - this module can only be loaded into one "
                    "interpreter per process.");
    return nullptr;
  }
  if (g_module.module != nullptr) return Ref::borrow(g_module.module).release();

  Ref name(PyObject_GetAttrString(spec, "name"));
  if (!name) return nullptr;
  Ref module(PyModule_NewObject(name.get()));
  if (!module) return nullptr;
  PyObject* dict = PyModule_GetDict(module.get());
  if (!copy_spec_attr(spec, "loader", dict, "__loader__", false) ||
      !copy_spec_attr(spec, "origin", dict, "__file__", false) ||
      !copy_spec_attr(spec, "parent", dict, "__package__", false) ||
      !copy_spec_attr(spec, "submodule_search_locations", dict, "__path__", true)) {
    return nullptr;
  }
  return module.release();
}

// Warns when the running interpreter is not the one the module was compiled for.
bool check_version() noexcept {
  static VersionCheck check =
      compare_versions(Py_GetVersion(), kModuleName, PY_MAJOR_VERSION, PY_MINOR_VERSION);
  if (!check.mismatch) return true;
  return PyErr_WarnEx(PyExc_RuntimeWarning, check.message, 1) == 0;
}

// Fetches array.array and checks that its instances have the layout that double arrays fill in.
bool fetch_array_type() noexcept {
  Ref am(PyImport_ImportModule("array"));
  if (!am) return false;
  Ref type(PyObject_GetAttrString(am.get(), "array"));
  if (!type || !check_array_type(type.get())) return false;
  Py_XSETREF(g_module.array_type, reinterpret_cast<PyTypeObject*>(type.release()));
  return true;
}

// mapping[key] into out: 1 when present, 0 when missing, -1 with the lookup's own exception set
// (a key's __eq__ may raise, and so may a lack of memory).
int lookup(PyObject* mapping, const char* key, Ref& out) noexcept {
  Ref k(PyUnicode_FromString(key));
  if (!k) return -1;
  if (PyDict_CheckExact(mapping)) {
    out = Ref::borrow(PyDict_GetItemWithError(mapping, k.get()));
    return out ? 1 : PyErr_Occurred() ? -1 : 0;
  }
  out.reset(PyObject_GetItem(mapping, k.get()));
  if (out) return 1;
  if (!PyErr_ExceptionMatches(PyExc_KeyError)) return -1;
  PyErr_Clear();
  return 0;
}

// The global `name` of the namespace, falling back to builtins.
PyObject* lookup_global(const char* name) noexcept {
  Ref v;
  const int found = lookup(g_module.dict, name, v);
  if (found != 0) return v.release();  // the value, or nullptr when the lookup raised
  v.reset(PyObject_GetAttrString(g_module.builtins, name));
  if (!v && PyErr_ExceptionMatches(PyExc_AttributeError)) {
    PyErr_Clear();
    PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
  }
  return v.release();
}

// The double-array template: _am.array("d"), checked to be an array.array.
bool make_template() noexcept {
  Ref am(lookup_global("_am"));
  if (!am) return false;
  Ref ctor(PyObject_GetAttrString(am.get(), "array"));
  if (!ctor) return false;
  Ref result(PyObject_CallFunction(ctor.get(), "s", "d"));
  if (!result) return false;
  if (!PyObject_TypeCheck(result.get(), g_module.array_type)) {
    PyErr_Format(PyExc_TypeError, "Cannot convert %.200s to %.200s", Py_TYPE(result.get())->tp_name,
                 g_module.array_type->tp_name);
    return false;
  }
  Py_XSETREF(g_module.double_template, result.release());
  return true;
}

// Exec steps from the module's constants on; returns the line that a failure reports, or 0.
int build_namespace(PyObject* module) noexcept {
  if (!ready_function_type()) return lines::init::kOther;
  PyObject* modules = PyImport_GetModuleDict();
  Ref registered;
  const int found = lookup(modules, kModuleName, registered);
  if (found < 0 || (found == 0 && PyMapping_SetItemString(modules, kModuleName, module) < 0)) {
    return lines::init::kOther;
  }

  Ref codes[std::size(kFunctions)];
  for (std::size_t k = 0; k < std::size(kFunctions); ++k) {
    codes[k].reset(new_code_object(*kFunctions[k]));
    if (!codes[k]) return lines::init::kOther;
  }
  if (!fetch_array_type()) return lines::init::kOther;

  Ref am(PyImport_ImportModule("array"));
  if (!am || PyDict_SetItemString(g_module.dict, "_am", am.get()) < 0)
    return lines::init::kArrayImport;
  if (!make_template()) return lines::init::kTemplate;

  for (std::size_t k = 0; k < std::size(kFunctions); ++k) {
    FunctionDef& def = *kFunctions[k];
    Ref f(new_function(def, codes[k].get(), g_module.dict));
    if (!f || PyDict_SetItemString(g_module.dict, def.name, f.get()) < 0) return def.first_line;
  }
  Ref test(PyDict_New());
  if (!test || PyDict_SetItemString(g_module.dict, "__test__", test.get()) < 0)
    return lines::init::kOther;
  return 0;
}

bool make_constants() noexcept {
  static bool made = false;  // the names live for the process: intern them once
  if (made) return true;
  for (FunctionDef* def : kFunctions) {
    if (!intern_names(*def)) return false;
  }
  if ((g_module.float_zero = PyFloat_FromDouble(0.0)) == nullptr) return false;
  made = true;
  return true;
}

int module_exec(PyObject* module) noexcept {
  if (g_module.module != nullptr) {
    if (g_module.module == module) return 0;
    PyErr_SetString(PyExc_RuntimeError,
                    "Module '_cy_utils' has already been imported. Re-initialisation is not "
                    "supported.");
    return -1;
  }
  g_module.module = Ref::borrow(module).release();
  // Held for good: tracebacks of functions made by a failed attempt still name this namespace.
  Py_XSETREF(g_module.dict, Ref::borrow(PyModule_GetDict(module)).release());
  Ref builtins(PyImport_ImportModule("builtins"));
  int line = 0;
  if (!builtins || PyDict_SetItemString(g_module.dict, "__builtins__", builtins.get()) < 0 ||
      !check_version() || !make_constants()) {
    line = -1;  // before the constants exist: no traceback entry
  } else {
    Py_XSETREF(g_module.builtins, builtins.release());
    line = build_namespace(module);
    if (line > 0) add_traceback(kInitName, line);
  }
  if (line == 0) return 0;
  Py_CLEAR(g_module.module);
  return -1;
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(module_create)},
    {Py_mod_exec, reinterpret_cast<void*>(module_exec)},
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT,
    "_cy_utils",
    nullptr,  // no docstring
    0,        // process-wide state, no per-module block
    nullptr,  // no method table: the exec step creates the functions
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

}  // namespace skyloom

// The one exported symbol.
extern "C" SKYLOOM_EXPORT PyObject* PyInit__cy_utils(void) {
  return PyModuleDef_Init(&skyloom::module_def);
}
