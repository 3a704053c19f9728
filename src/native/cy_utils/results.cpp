// _cy_utils's results from the module's state: clones of its template, whose failures report the
// creation step as a traceback entry of its own, and the cached 0.0.
#include "cy_utils/results.h"

#include "cy_utils/lines.h"
#include "cy_utils/state.h"
#include "cy_utils/traceback.h"
#include "python/darray.h"

namespace skyloom {

PyObject* make_double_array(Py_ssize_t n) noexcept {
  PyObject* a = clone_double_array(g_module.double_template, n);
  if (a == nullptr)
    add_traceback(lines::make_double_array::kCodeName, lines::make_double_array::kLine);
  return a;
}

PyObject* zero_float() noexcept {
  return Ref::borrow(g_module.float_zero).release();
}

}  // namespace skyloom
