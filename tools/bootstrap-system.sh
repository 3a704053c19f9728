#!/usr/bin/env bash
# Installs the system packages that the checks need, from Debian's archive, by group:
#   cpp       GoogleTest, for the C++ tests of the numeric cores
#   debug     the debug build of CPython 3.11 with its headers and venv support
#   clang     clang, for the build that checks the sources with a second compiler
#   fuzz      clang with its libFuzzer runtime
#   valgrind  valgrind
#   format    clang-format
#   renderers cairo's headers for building pycairo, and the libraries that Qt's and Skia's
#             wheels load (EGL, GL, xkbcommon, fontconfig, GLib, D-Bus)
#   root-sid       a Debian unstable root with CPython 3.14 and 3.15 (debootstrap; tools/roots.sh)
#   root-bullseye  a Debian 11 root: glibc 2.31 and its own CPython 3.9
#   all       every group (the default)
# Quiet and idempotent: apt runs only when a package is missing, with one `apt-get update`; a
# root is made only when it is missing or its package list changed (tools/roots.sh lists them).
set -euo pipefail

declare -A GROUP=(
  [cpp]="libgtest-dev"
  [debug]="python3.11-dbg libpython3.11-dbg python3.11-dev python3.11-venv"
  [clang]="clang"
  [fuzz]="clang libclang-rt-14-dev"
  [valgrind]="valgrind"
  [format]="clang-format"
  [renderers]="libcairo2-dev pkg-config libegl1 libgl1 libxkbcommon0 libfontconfig1 libglib2.0-0 libdbus-1-3"
)
# The roots' own packages are listed in tools/roots.sh; here only what makes them.
read -r -a ROOTS <<<"$("$(dirname "$0")/roots.sh" names)"
for r in "${ROOTS[@]}"; do GROUP[root-$r]="debootstrap"; done

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(all)
wanted=()
roots=()
for g in "${groups[@]}"; do
  if [ "$g" = all ]; then
    wanted+=(${GROUP[*]})
    roots+=("${ROOTS[@]}")
  elif [ -n "${GROUP[$g]:-}" ]; then
    wanted+=(${GROUP[$g]})
    [[ $g != root-* ]] || roots+=("${g#root-}")
  else
    echo "bootstrap-system: unknown group '$g' (known: ${!GROUP[*]} all)" >&2
    exit 2
  fi
done

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "bootstrap-system: missing ${missing[*]}; run as root: apt-get install ${missing[*]}" >&2
    exit 1
  fi
  echo "bootstrap-system: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
[ ${#roots[@]} -eq 0 ] || "$(dirname "$0")/roots.sh" make "${roots[@]}"
