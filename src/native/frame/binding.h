// The part of a call after binding, compiled once per function from its constant parameter table:
// hold the bound arguments, convert the typed ones in parameter order, type-test the number
// lists, run the kernel. Straight-line code per function, with no table lookups in the call path.
#pragma once

#include <cstddef>
#include <iterator>
#include <utility>

#include "frame/convert.h"
#include "frame/function.h"
#include "frame/traceback.h"

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
  return binding::run<P, kernel>(def, bound, std::make_index_sequence<std::size(P)>());
}

}  // namespace skyloom
