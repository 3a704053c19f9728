#!/usr/bin/env bash
# Installs the system packages that the checks need, from Debian's archive, by group:
#   cpp       GoogleTest, for the C++ tests of the numeric cores
#   debug     the debug build of CPython 3.11 with its headers and venv support
#   clang     clang, for the build that checks the sources with a second compiler
#   fuzz      clang with its libFuzzer runtime
#   valgrind  valgrind
#   format    clang-format
#   all       every group (the default)
# Quiet and idempotent: apt runs only when a package is missing, with one `apt-get update`.
set -euo pipefail

declare -A GROUP=(
  [cpp]="libgtest-dev"
  [debug]="python3.11-dbg libpython3.11-dbg python3.11-dev python3.11-venv"
  [clang]="clang"
  [fuzz]="clang libclang-rt-14-dev"
  [valgrind]="valgrind"
  [format]="clang-format"
)

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(all)
wanted=()
for g in "${groups[@]}"; do
  if [ "$g" = all ]; then
    wanted+=(${GROUP[*]})
  elif [ -n "${GROUP[$g]:-}" ]; then
    wanted+=(${GROUP[$g]})
  else
    echo "bootstrap-system: unknown group '$g' (known: ${!GROUP[*]} all)" >&2
    exit 2
  fi
done

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" != 0 ]; then
  echo "bootstrap-system: missing ${missing[*]}; run as root: apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "bootstrap-system: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
