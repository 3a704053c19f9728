// The part of a call after binding, compiled once per function from its constant parameter table:
// hold the bound arguments, convert the typed ones in parameter order, type-test the number
// lists, run the kernel. Straight-line code per function, with no table lookups in the call path.
#pragma once

#include <cstddef>
#include <iterator>
#include <utility>

#include "cy_utils/function.h"
#include "mapping/map_linear.h"
#include "python/convert.h"

namespace skyloom {

namespace binding {

template <Kind K>
inline bool convert(const FunctionDef& def, int line, PyObject* o, Value& v) noexcept {
  bool ok = true;
  if constexpr (K == Kind::Double) {
    ok = to_double(o, v.d);
  } else if constexpr (K == Kind::Int) {
    ok = to_int32(o, v.i);
  } else if constexpr (K == Kind::Flag) {
    int flag = 0;
    ok = to_flag(o, flag);
    v.i = flag;
  } else {
    v.o = o;
  }
  if (!ok) fail(def, line);
  return ok;
}

template <const auto& P, Kernel kernel, std::size_t... I>
inline PyObject* run(const FunctionDef& def, PyObject* const* bound,
                     std::index_sequence<I...>) noexcept {
  HeldArgs held(bound, sizeof...(I));
  Value v[sizeof...(I)];
  if (!(convert<P[I].kind>(def, P[I].line, bound[I], v[I]) && ...)) return nullptr;
  if (!((P[I].kind != Kind::List || is_number_list(P[I].name, bound[I])) && ...)) return nullptr;
  return kernel(v);
}

}  // namespace binding

// The entry of the function whose parameters are P and whose kernel is kernel, for the
// FunctionDef of that function: bound holds its arguments in parameter order.
template <const auto& P, Kernel kernel>
PyObject* entry(const FunctionDef& def, PyObject* const* bound) noexcept {
  static_assert(std::size(P) <= kMaxParams, "binding fills kMaxParams slots at most");
  return binding::run<P, kernel>(def, bound, std::make_index_sequence<std::size(P)>());
}

// The description of a function with parameters P and kernel K, for the module's table.
template <const auto& P, Kernel K, std::size_t NL>
constexpr FunctionDef function_def(const char* name, const char* code_name, int first_line,
                                   const char* const (&locals)[NL]) noexcept {
  return FunctionDef{name,   code_name, first_line,  P,  static_cast<int>(std::size(P)),
                     locals, int{NL},   entry<P, K>, {}, {}};
}

// The parameters x0 ... ph of a view window and plot rectangle, in a parameter table, with the
// lines that a failed conversion of the window and of the rectangle reports.
#define SKYLOOM_VIEW_PARAMS(window_line, rect_line)                         \
  {"x0", Kind::Double, window_line}, {"dx", Kind::Double, window_line},     \
      {"y0", Kind::Double, window_line}, {"dy", Kind::Double, window_line}, \
      {"pl", Kind::Double, rect_line}, {"pb", Kind::Double, rect_line},     \
      {"pw", Kind::Double, rect_line}, {                                    \
    "ph", Kind::Double, rect_line                                           \
  }

// The view window and plot rectangle of eight consecutive converted arguments x0 ... ph.
inline LinearView window_of(const Value* a) noexcept {
  return LinearView{a[0].d, a[1].d, a[2].d, a[3].d, a[4].d, a[5].d, a[6].d, a[7].d};
}

}  // namespace skyloom
