// Argument binding for the functions of skyloom.kernels: positional-or-keyword parameters, all
// required, then optional keyword-only ones, with the interpreter's own messages for builtins.
// No Python code runs while binding: keyword names are compared by their characters.
#pragma once

#include <array>
#include <cstddef>

#include "mapping/mapping.h"
#include "python/pyref.h"

namespace skyloom::kernels {

struct Signature {
  const char* name;
  const char* const* params;  // positional-or-keyword names, then keyword-only ones
  int npositional;
  int nkeyword_only;
  constexpr int count() const noexcept { return npositional + nkeyword_only; }
};

// The most parameters any function has.
constexpr int kMaxArgs = 15;

// A function's docstring with its text signature, made at compile time from its Signature so
// that the two cannot drift apart: "name($module, /, a, b, *, flag=False)\n--\n\nsummary".
// Keyword-only parameters are flags that default to False. Owner is "$module" or "$self".
namespace doc {

constexpr std::size_t length(const char* s) noexcept {
  std::size_t n = 0;
  while (s[n] != '\0') ++n;
  return n;
}

// Writes the docstring into out (nullptr: only counts) and returns its length.
constexpr std::size_t write(const Signature& sig, const char* owner, const char* summary,
                            char* out) noexcept {
  std::size_t n = 0;
  auto put = [&](const char* s) {
    for (std::size_t i = 0; s[i] != '\0'; ++i, ++n)
      if (out != nullptr) out[n] = s[i];
  };
  put(sig.name);
  put("(");
  put(owner);
  put(", /");
  for (int i = 0; i < sig.count(); ++i) {
    put(i == sig.npositional ? ", *, " : ", ");
    put(sig.params[i]);
    if (i >= sig.npositional) put("=False");
  }
  put(")\n--\n\n");
  put(summary);
  return n;
}

template <const Signature& S, const char* Owner, const char* Summary>
struct Doc {
  static constexpr std::size_t kSize = write(S, Owner, Summary, nullptr) + 1;
  static constexpr std::array<char, kSize> make() noexcept {
    std::array<char, kSize> a{};
    write(S, Owner, Summary, a.data());
    return a;
  }
  static constexpr std::array<char, kSize> text = make();
};

inline constexpr char kModule[] = "$module";
inline constexpr char kSelf[] = "$self";

}  // namespace doc

// A method table entry for a vectorcall function of these modules.
#define SKYLOOM_METHOD(name, doc)                                                \
  {                                                                              \
#name, reinterpret_cast < PyCFunction>(reinterpret_cast <void (*)()>(name)), \
        METH_FASTCALL | METH_KEYWORDS, doc                                       \
  }

// Binds a vectorcall's arguments to out[0 ... count - 1] (borrowed; nullptr for an optional
// keyword-only parameter not given). False with TypeError set on a wrong count or name.
bool bind(const Signature& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** out) noexcept;

// A vectorcall entry of these modules.
using Entry = PyObject* (*)(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) noexcept;

// Marks a body of `bound`: built into its entry, so that the entry has one frame, as a written-out
// one would (one frame more between entry and core cost the sorted m4 scan 4-5 % on 1,000
// points, with 1 % fewer instructions).
#if defined(__GNUC__) || defined(__clang__)
#define SKYLOOM_BOUND_BODY inline __attribute__((always_inline))
#else
#define SKYLOOM_BOUND_BODY inline
#endif

// The entry of a function whose arguments kSig binds: Body(self, a) runs on them, bound.
template <const Signature& kSig, PyObject* (*Body)(PyObject* self, PyObject* const* a) noexcept>
PyObject* bound(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                PyObject* kwnames) noexcept {
  PyObject* a[kMaxArgs];
  if (!bind(kSig, args, nargs, kwnames, a)) return nullptr;
  return Body(self, a);
}

// Converts count arguments to doubles, in order; false with the conversion's error set.
bool doubles(PyObject* const* a, int count, double* out) noexcept;

// The view window and plot rectangle from a[0 ... 7], the log flags from lx and ly (nullptr:
// linear).
bool view_mapping(PyObject* const* a, PyObject* lx, PyObject* ly, Mapping& m) noexcept;

}  // namespace skyloom::kernels
