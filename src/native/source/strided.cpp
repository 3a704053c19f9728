// Buffer formats: which struct-syntax format strings name an element type the kernels read.
#include "source/strided.h"

#include <cstring>

namespace skyloom {

namespace {

struct Code {
  char code;
  ElementType type;
  std::size_t native_size;
  std::size_t standard_size;  // 0: no standard size ("n" and "N" exist only natively)
};

constexpr Code kCodes[] = {
    {'d', ElementType::F64, sizeof(double), 8},
    {'f', ElementType::F32, sizeof(float), 4},
    {'e', ElementType::F16, 2, 2},
    {'b', ElementType::I8, sizeof(signed char), 1},
    {'h', ElementType::I16, sizeof(short), 2},
    {'i', ElementType::I32, sizeof(int), 4},
    {'l', ElementType::I64, sizeof(long), 4},
    {'q', ElementType::I64, sizeof(long long), 8},
    {'n', ElementType::I64, sizeof(std::ptrdiff_t), 0},
    {'B', ElementType::U8, sizeof(unsigned char), 1},
    {'H', ElementType::U16, sizeof(unsigned short), 2},
    {'I', ElementType::U32, sizeof(unsigned int), 4},
    {'L', ElementType::U64, sizeof(unsigned long), 4},
    {'Q', ElementType::U64, sizeof(unsigned long long), 8},
    {'N', ElementType::U64, sizeof(std::size_t), 0},
};

// The element type of the given width among the integer types of the signedness of t.
bool resize_integer(ElementType t, std::size_t size, ElementType& out) noexcept {
  const bool is_signed = t == ElementType::I8 || t == ElementType::I16 || t == ElementType::I32 ||
                         t == ElementType::I64;
  const bool is_unsigned = t == ElementType::U8 || t == ElementType::U16 || t == ElementType::U32 ||
                           t == ElementType::U64;
  if (!is_signed && !is_unsigned) {
    out = t;
    return true;
  }
  switch (size) {
    case 1:
      out = is_signed ? ElementType::I8 : ElementType::U8;
      return true;
    case 2:
      out = is_signed ? ElementType::I16 : ElementType::U16;
      return true;
    case 4:
      out = is_signed ? ElementType::I32 : ElementType::U32;
      return true;
    case 8:
      out = is_signed ? ElementType::I64 : ElementType::U64;
      return true;
    default:
      return false;
  }
}

// The byte-order prefixes of standard sizes that name this machine's order.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
constexpr const char kNativeOrders[] = "=>!";
#else
constexpr const char kNativeOrders[] = "=<";
#endif

}  // namespace

Format parse_format(const char* format, std::size_t itemsize) noexcept {
  constexpr Format kUnsupported{Format::kUnsupported, ElementType::U8, 0};
  if (format == nullptr) return kUnsupported;
  bool standard = false;
  if (*format == '@') {
    ++format;
  } else if (*format != '\0' && std::strchr(kNativeOrders, *format) != nullptr) {
    standard = true;
    ++format;
  }
  if (format[0] == '\0' || format[1] != '\0') return kUnsupported;
  for (const Code& c : kCodes) {
    if (c.code != format[0]) continue;
    const std::size_t size = standard ? c.standard_size : c.native_size;
    if (size == 0) return kUnsupported;
    if (size != itemsize) return Format{Format::kWrongSize, c.type, size};
    Format f{Format::kOk, c.type, size};
    return resize_integer(c.type, size, f.type) ? f : kUnsupported;
  }
  return kUnsupported;
}

}  // namespace skyloom
