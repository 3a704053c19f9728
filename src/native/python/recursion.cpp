// The C stack's headroom for the recursion guard: the thread's stack bounds, found once per thread.
#include "python/recursion.h"

#include <cstddef>
#include <cstdint>

#if defined(__linux__)
#include <pthread.h>
#endif

namespace skyloom {

namespace {

// Left free below the last level that may start: the frames of one more level through the module
// and a Python __float__ (a few KB) and the unwinding, with room to spare; a quarter of a smaller
// stack.
constexpr std::size_t kMargin = 64 * 1024;

// The lowest address at which a level may still start (stacks grow down), found on first use in
// each thread; 1 where the bounds can't be had, so that every level may start.
thread_local std::uintptr_t t_floor = 0;

// pthread_getattr_np and pthread_attr_getstack are in every glibc the wheels support (2.17 on,
// libpthread's before 2.34): the wheels bind their oldest symbol versions.
std::uintptr_t find_floor() noexcept {
#if defined(__linux__)
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return 1;
  void* addr = nullptr;
  std::size_t size = 0;
  const int r = pthread_attr_getstack(&attr, &addr, &size);
  pthread_attr_destroy(&attr);
  if (r != 0) return 1;
  return reinterpret_cast<std::uintptr_t>(addr) + (size / 4 < kMargin ? size / 4 : kMargin);
#else
  return 1;
#endif
}

}  // namespace

bool native_stack_has_room() noexcept {
  if (t_floor == 0) t_floor = find_floor();
  const char here = 0;  // an address in this frame
  return reinterpret_cast<std::uintptr_t>(&here) > t_floor;
}

void RecursionGuard::stack_exhausted() noexcept {
  PyErr_Format(PyExc_RecursionError, "maximum recursion depth exceeded%s", kWhere);
}

}  // namespace skyloom
