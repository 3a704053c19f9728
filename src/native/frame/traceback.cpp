// Traceback entries: a code object per (function, line), cached, and a bare frame for each entry.
#include "frame/traceback.h"

#include <frameobject.h>

#include <cstdio>

#include "frame/state.h"

namespace skyloom {

// No source file of this name ships or is generated, so a printed traceback never borrows an
// unrelated line from some file on disk.
const char kSourcePath[] = "skyloom/_cy_utils.cpp";

namespace {

struct CachedCode {
  const void* key;
  int line;
  PyObject* code;
};

// Failure lines are few (a few dozen in the whole module), so a small table searched linearly is
// enough; once full, further codes are made per failure and not kept.
constexpr int kCacheSize = 128;
CachedCode g_cache[kCacheSize];
int g_cached = 0;

Ref code_for(const void* key, const char* code_name, int line) noexcept {
  for (int k = 0; k < g_cached; ++k) {
    if (g_cache[k].key == key && g_cache[k].line == line) return Ref::borrow(g_cache[k].code);
  }
  Ref code(reinterpret_cast<PyObject*>(PyCode_NewEmpty(kSourcePath, code_name, line)));
  if (code && g_cached < kCacheSize) {
    g_cache[g_cached++] = CachedCode{key, line, Ref::borrow(code.get()).release()};
  }
  return code;
}

void add_entry(const void* key, const char* code_name, int line) noexcept {
  Ref frame;
  {
    SavedError saved;  // building the entry must not disturb the exception it decorates
    Ref code = code_for(key, code_name, line);
    if (!code) return;
    frame.reset(reinterpret_cast<PyObject*>(PyFrame_New(
        PyThreadState_Get(), reinterpret_cast<PyCodeObject*>(code.get()), g_module.dict, nullptr)));
  }
  if (frame) PyTraceBack_Here(reinterpret_cast<PyFrameObject*>(frame.get()));
}

}  // namespace

void add_traceback(const FunctionDef& def, int line) noexcept {
  char code_name[96];
  std::snprintf(code_name, sizeof code_name, "skyloom._cy_utils.%s", def.name);
  add_entry(&def, code_name, line);
}

void add_traceback(const char* code_name, int line) noexcept {
  add_entry(code_name, code_name, line);
}

}  // namespace skyloom
