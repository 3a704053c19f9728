// What the C++ tests' entry point was asked to run: the version of the vector kernels.
#pragma once

#include <optional>

#include "simd.h"

namespace skyloom::testing {

// The version named by --simd=..., if any.
extern std::optional<simd::Version> g_requested;

const char* version_name(simd::Version v);

}  // namespace skyloom::testing
