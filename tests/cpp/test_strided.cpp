// Buffers read in place: which formats are accepted, and every element type read as float()
// reads it, from unaligned items and strides of either sign.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "source/strided.h"

namespace {

using skyloom::ElementType;

using skyloom::Format;

struct FormatCase {
  const char* format;
  std::size_t itemsize;
  Format::Verdict verdict;
  ElementType type;  // kOk: the type; kWrongSize: unused
  std::size_t size;  // kWrongSize: the code's own size
};

class Formats : public ::testing::TestWithParam<FormatCase> {};

TEST_P(Formats, InTheMachinesOrderWithTheirSizes) {
  const FormatCase& c = GetParam();
  const Format f = skyloom::parse_format(c.format, c.itemsize);
  ASSERT_EQ(f.verdict, c.verdict) << c.format;
  if (c.verdict == Format::kOk) {
    EXPECT_EQ(f.type, c.type) << c.format;
  }
  if (c.verdict == Format::kWrongSize) {
    EXPECT_EQ(f.size, c.size) << c.format;
  }
}

constexpr auto kOk = Format::kOk;
constexpr auto kNo = Format::kUnsupported;
constexpr auto kSize = Format::kWrongSize;

INSTANTIATE_TEST_SUITE_P(
    Cases, Formats,
    ::testing::Values(
        FormatCase{"d", 8, kOk, ElementType::F64, 0}, FormatCase{"@d", 8, kOk, ElementType::F64, 0},
        FormatCase{"=f", 4, kOk, ElementType::F32, 0}, FormatCase{"e", 2, kOk, ElementType::F16, 0},
        FormatCase{"l", 8, kOk, ElementType::I64, 0}, FormatCase{"=l", 4, kOk, ElementType::I32, 0},
        FormatCase{"=L", 4, kOk, ElementType::U32, 0}, FormatCase{"n", 8, kOk, ElementType::I64, 0},
        FormatCase{"N", 8, kOk, ElementType::U64, 0}, FormatCase{"B", 1, kOk, ElementType::U8, 0},
        // Explicit little-endian order is this machine's (x86-64): standard sizes.
        FormatCase{"<d", 8, kOk, ElementType::F64, 0},
        FormatCase{"<l", 4, kOk, ElementType::I32, 0},
        FormatCase{"<Q", 8, kOk, ElementType::U64, 0},
        FormatCase{"<e", 2, kOk, ElementType::F16, 0},
        FormatCase{"<l", 8, kSize, ElementType::I32, 4},
        FormatCase{"=q", 4, kSize, ElementType::I64, 8},
        FormatCase{"d", 4, kSize, ElementType::F64, 8},
        FormatCase{"<n", 8, kNo, ElementType::I64, 0},
        FormatCase{"=N", 8, kNo, ElementType::U64, 0},
        FormatCase{">d", 8, kNo, ElementType::F64, 0},
        FormatCase{"!i", 4, kNo, ElementType::I32, 0},
        FormatCase{"dd", 8, kNo, ElementType::F64, 0},
        FormatCase{"2d", 16, kNo, ElementType::F64, 0}, FormatCase{"?", 1, kNo, ElementType::U8, 0},
        FormatCase{"c", 1, kNo, ElementType::U8, 0}, FormatCase{"Zd", 16, kNo, ElementType::F64, 0},
        FormatCase{"O", 8, kNo, ElementType::F64, 0},
        FormatCase{"T{d:x:}", 8, kNo, ElementType::F64, 0},
        FormatCase{"", 8, kNo, ElementType::F64, 0}, FormatCase{"<", 8, kNo, ElementType::F64, 0}));

bool same_bits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(Half, EveryPatternIsTheExactValue) {
  for (std::uint32_t h = 0; h < 0x10000; ++h) {
    const double sign = (h & 0x8000) ? -1.0 : 1.0;
    const int e = (h >> 10) & 0x1f;
    const int m = h & 0x3ff;
    const double got = skyloom::half_to_double(static_cast<std::uint16_t>(h));
    if (e == 0x1f) {
      EXPECT_EQ(std::isnan(got), m != 0) << h;
      EXPECT_EQ(std::signbit(got), (h & 0x8000) != 0) << h;
      if (m == 0) {
        EXPECT_EQ(got, sign * std::numeric_limits<double>::infinity());
      }
      continue;
    }
    const double want = e == 0 ? sign * std::ldexp(m, -24) : sign * std::ldexp(1024 + m, e - 25);
    EXPECT_TRUE(same_bits(got, want)) << h;
  }
}

// n items of type T with the given stride (in items, any sign), starting at an odd address.
template <class T>
void check_gather(const std::vector<T>& values, ElementType type) {
  const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(values.size());
  for (std::ptrdiff_t step : {1, 3, -1, -2}) {
    const std::ptrdiff_t span = n * (step < 0 ? -step : step);
    std::vector<char> bytes(static_cast<std::size_t>(span) * sizeof(T) + 1, '\x5a');
    char* first = bytes.data() + 1 + (step < 0 ? (span + step) * sizeof(T) : 0);
    for (std::ptrdiff_t i = 0; i < n; ++i) {
      std::memcpy(first + i * step * static_cast<std::ptrdiff_t>(sizeof(T)), &values[i], sizeof(T));
    }
    const skyloom::Strided s{first, step * static_cast<std::ptrdiff_t>(sizeof(T)), type};
    std::vector<double> out(values.size() + 1, -7.0);
    s.gather(1, n - 1, out.data());
    for (std::ptrdiff_t i = 1; i < n; ++i) {
      const double want = static_cast<double>(values[i]);
      EXPECT_TRUE(same_bits(out[i - 1], want)) << i << " step " << step;
      EXPECT_TRUE(same_bits(s.at(i), want)) << i << " step " << step;
    }
    EXPECT_EQ(out[n - 1], -7.0);  // nothing written past the block
  }
}

template <class T>
std::vector<T> samples() {
  std::mt19937_64 rng(7);
  std::vector<T> v = {std::numeric_limits<T>::max(), std::numeric_limits<T>::lowest(), T(0), T(1)};
  if constexpr (std::is_floating_point_v<T>) {
    v.push_back(std::numeric_limits<T>::quiet_NaN());
    v.push_back(-std::numeric_limits<T>::infinity());
    v.push_back(std::numeric_limits<T>::denorm_min());
    v.push_back(T(-0.0));
  }
  for (int k = 0; k < 300; ++k) {
    std::uint64_t bits = rng();
    T t;
    std::memcpy(&t, &bits, sizeof t);
    v.push_back(t);
  }
  return v;
}

TEST(Gather, EveryElementTypeAsTheCastGivesIt) {
  check_gather(samples<double>(), ElementType::F64);
  check_gather(samples<float>(), ElementType::F32);
  check_gather(samples<std::int8_t>(), ElementType::I8);
  check_gather(samples<std::int16_t>(), ElementType::I16);
  check_gather(samples<std::int32_t>(), ElementType::I32);
  check_gather(samples<std::int64_t>(), ElementType::I64);
  check_gather(samples<std::uint8_t>(), ElementType::U8);
  check_gather(samples<std::uint16_t>(), ElementType::U16);
  check_gather(samples<std::uint32_t>(), ElementType::U32);
  check_gather(samples<std::uint64_t>(), ElementType::U64);
}

TEST(Gather, HalfItems) {
  std::vector<std::uint16_t> bits = {0x0000, 0x8000, 0x0001, 0x03ff, 0x3c00, 0x7bff,
                                     0x7c00, 0xfc00, 0x7e01, 0xfd55, 0x3555};
  const skyloom::Strided s{reinterpret_cast<const char*>(bits.data()), 2, ElementType::F16};
  std::vector<double> out(bits.size());
  s.gather(0, static_cast<std::int64_t>(bits.size()), out.data());
  for (std::size_t i = 0; i < bits.size(); ++i) {
    EXPECT_TRUE(same_bits(out[i], skyloom::half_to_double(bits[i]))) << i;
  }
}

TEST(Gather, LargeIntegersRoundAsFloatOfTheIntDoes) {
  const std::int64_t imax = std::numeric_limits<std::int64_t>::max();
  const std::uint64_t umax = std::numeric_limits<std::uint64_t>::max();
  const std::uint64_t ties[] = {(1ull << 53) + 1, (1ull << 53) + 3};  // halfway: to even
  EXPECT_EQ(skyloom::load<std::int64_t>(reinterpret_cast<const char*>(&imax)), 0x1p63);
  EXPECT_EQ(skyloom::load<std::uint64_t>(reinterpret_cast<const char*>(&umax)), 0x1p64);
  EXPECT_EQ(skyloom::load<std::uint64_t>(reinterpret_cast<const char*>(&ties[0])), 0x1p53);
  EXPECT_EQ(skyloom::load<std::uint64_t>(reinterpret_cast<const char*>(&ties[1])), 0x1p53 + 4);
}

}  // namespace
