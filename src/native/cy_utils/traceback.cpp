// Traceback entries: a code object per (function, line), cached, and a bare frame for each entry.
#include "cy_utils/traceback.h"

#include <frameobject.h>

#include "cy_utils/lines.h"
#include "cy_utils/state.h"

namespace skyloom {

namespace {

struct CachedCode {
  const char* code_name;
  int line;
  PyObject* code;
};

// Failure lines are few (a few dozen in the whole module), so a small table searched linearly is
// enough; once full, further codes are made per failure and not kept.
constexpr int kCacheSize = 128;
CachedCode g_cache[kCacheSize];
int g_cached = 0;

Ref code_for(const char* code_name, int line) noexcept {
  for (int k = 0; k < g_cached; ++k) {
    if (g_cache[k].code_name == code_name && g_cache[k].line == line)
      return Ref::borrow(g_cache[k].code);
  }
  Ref code(reinterpret_cast<PyObject*>(PyCode_NewEmpty(lines::kSourcePath, code_name, line)));
  if (code && g_cached < kCacheSize) {
    g_cache[g_cached++] = CachedCode{code_name, line, Ref::borrow(code.get()).release()};
  }
  return code;
}

}  // namespace

void add_traceback(const char* code_name, int line) noexcept {
  Ref frame;
  {
    SavedError saved;  // building the entry must not disturb the exception it decorates
    Ref code = code_for(code_name, line);
    if (!code) return;
    frame.reset(reinterpret_cast<PyObject*>(PyFrame_New(
        PyThreadState_Get(), reinterpret_cast<PyCodeObject*>(code.get()), g_module.dict, nullptr)));
  }
  if (frame) PyTraceBack_Here(reinterpret_cast<PyFrameObject*>(frame.get()));
}

}  // namespace skyloom
