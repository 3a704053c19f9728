// The import's version guard: compares the running interpreter's version string with the
// version the module was compiled for. No Python in here, so it can be tested on its own.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace skyloom {

struct VersionCheck {
  bool mismatch = false;
  char message[200] = {};  // the warning text, cut to at most 199 characters
};

// Parses "major.minor.micro..." (the first three dot-separated decimal numbers; micro is read
// but never compared) and describes a major.minor mismatch against the compiled version.
inline VersionCheck compare_versions(const char* running, const char* module_name,
                                     int compiled_major, int compiled_minor) {
  int part[3] = {0, 0, 0};
  const char* p = running;
  for (int k = 0; k < 3; ++k) {
    char* end;
    long v = std::strtol(p, &end, 10);
    if (end == p) break;
    part[k] = static_cast<int>(v);
    if (*end != '.') break;
    p = end + 1;
  }
  VersionCheck check;
  if (part[0] != compiled_major || part[1] != compiled_minor) {
    check.mismatch = true;
    std::snprintf(check.message, sizeof check.message,
                  "compile time Python version %d.%d of module '%.100s' %s runtime version %d.%d",
                  compiled_major, compiled_minor, module_name, "does not match", part[0], part[1]);
  }
  return check;
}

}  // namespace skyloom
