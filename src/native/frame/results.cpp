// _cy_utils's result arrays: clones of the module's template, whose failures report the creation
// step as a traceback entry of its own.
#include "frame/darray.h"
#include "frame/state.h"
#include "frame/traceback.h"

namespace skyloom {

namespace {

constexpr char kCreationStep[] = "skyloom._cy_utils.make_double_array";
constexpr int kCreationLine = 1;

}  // namespace

PyObject* make_double_array(Py_ssize_t n) noexcept {
  PyObject* a = clone_double_array(g_module.double_template, n);
  if (a == nullptr) add_traceback(kCreationStep, kCreationLine);
  return a;
}

}  // namespace skyloom
