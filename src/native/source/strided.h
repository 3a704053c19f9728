// Numbers read in place from a one-dimensional strided buffer of any supported element type, each
// taken as Python's float() takes it. Pure C++ (no Python), so the C++ tests drive it directly and
// the kernels can read with the interpreter lock released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace skyloom {

enum class ElementType : std::uint8_t { F64, F32, F16, I8, I16, I32, I64, U8, U16, U32, U64 };

// What a buffer format in the struct module's syntax says about its items: one code of
// d f e b h i l q n B H I L Q N, with no prefix or "@" (native sizes), or with "=", or with "<",
// ">" or "!" where that order is the machine's (standard sizes: "n" and "N" have none).
struct Format {
  enum Verdict : std::uint8_t {
    kOk,
    kUnsupported,  // another code, another byte order, more than one item, ...
    kWrongSize,    // a supported code whose size differs from the buffer's item size
  } verdict;
  ElementType type;  // kOk: the type of the items
  std::size_t size;  // kWrongSize: the size that the code has under its prefix
};

Format parse_format(const char* format, std::size_t itemsize) noexcept;

// A double of the binary16 bits h: every half value is exactly a double; NaN keeps its payload.
inline double half_to_double(std::uint16_t h) noexcept {
  const std::uint64_t sign = static_cast<std::uint64_t>(h >> 15) << 63;
  const unsigned e = (h >> 10) & 0x1f;
  const std::uint64_t m = h & 0x3ff;
  std::uint64_t bits;
  if (e == 0x1f) {
    bits = sign | 0x7ff0000000000000ull | (m << 42);
  } else if (e != 0) {
    bits = sign | (static_cast<std::uint64_t>(e - 15 + 1023) << 52) | (m << 42);
  } else {
    const double v = static_cast<double>(m) * 0x1p-24;  // zero or subnormal: exact
    return sign ? -v : v;
  }
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}

// The binary16 bits of a half-precision item, told apart from uint16_t by type.
struct Half {
  std::uint16_t bits;
};

// Tags the element type T for code instantiated once per type.
template <class T>
struct As {
  using type = T;
};

// Item p of element type T as a double. memcpy reads unaligned items safely.
template <class T>
inline double load(const char* p) noexcept {
  T v;
  std::memcpy(&v, p, sizeof v);
  if constexpr (std::is_same_v<T, Half>) {
    return half_to_double(v.bits);
  } else {
    return static_cast<double>(v);  // correctly rounded, as float() of an int is
  }
}

// One series in a buffer: item i lies at base + i * stride (the stride in bytes, of any sign).
struct Strided {
  const char* base;
  std::ptrdiff_t stride;
  ElementType type;

  // f(As<T>{}) for this series' element type T: the switch is taken once, the code behind it
  // is compiled for each type.
  template <class F>
  decltype(auto) visit(F&& f) const noexcept {
    switch (type) {
      case ElementType::F64:
        return f(As<double>{});
      case ElementType::F32:
        return f(As<float>{});
      case ElementType::F16:
        return f(As<Half>{});
      case ElementType::I8:
        return f(As<std::int8_t>{});
      case ElementType::I16:
        return f(As<std::int16_t>{});
      case ElementType::I32:
        return f(As<std::int32_t>{});
      case ElementType::I64:
        return f(As<std::int64_t>{});
      case ElementType::U8:
        return f(As<std::uint8_t>{});
      case ElementType::U16:
        return f(As<std::uint16_t>{});
      case ElementType::U32:
        return f(As<std::uint32_t>{});
      case ElementType::U64:
        break;
    }
    return f(As<std::uint64_t>{});
  }

  const char* address(std::int64_t i) const noexcept {
    return base + static_cast<std::ptrdiff_t>(i) * stride;
  }

  // Item i onwards as an array of doubles read in place, or nullptr when the series is not
  // contiguous, aligned doubles.
  const double* doubles_at(std::int64_t i) const noexcept {
    const char* p = address(i);
    if (type != ElementType::F64 || stride != sizeof(double) ||
        reinterpret_cast<std::uintptr_t>(p) % alignof(double) != 0) {
      return nullptr;
    }
    return reinterpret_cast<const double*>(p);
  }

  double at(std::int64_t i) const noexcept {
    return visit([&](auto as) { return load<typename decltype(as)::type>(address(i)); });
  }

  // Items from ... from + count - 1 into out[0 ...].
  void gather(std::int64_t from, std::int64_t count, double* out) const noexcept {
    const char* p = address(from);
    if (type == ElementType::F64 && stride == sizeof(double)) {
      std::memcpy(out, p, static_cast<std::size_t>(count) * sizeof(double));
      return;
    }
    visit([&](auto as) {
      using T = typename decltype(as)::type;
      for (std::int64_t k = 0; k < count; ++k, p += stride) out[k] = load<T>(p);
    });
  }

  // Items idx(k), k = from ... from + count - 1, into out[0 ...].
  template <class Index>
  void gather_at(std::int64_t from, std::int64_t count, Index idx, double* out) const noexcept {
    visit([&](auto as) {
      using T = typename decltype(as)::type;
      for (std::int64_t k = 0; k < count; ++k) out[k] = load<T>(address(idx(from + k)));
    });
  }
};

}  // namespace skyloom
