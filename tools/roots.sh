#!/usr/bin/env bash
# Debian roots for the checks that this machine's own system cannot run: newer CPython releases
# (Debian unstable) and an old glibc with its own CPython (Debian 11), made with debootstrap from
# Debian's archive and entered with chroot.
#
#   tools/roots.sh make NAME...                      create each root, or reuse it when complete
#   tools/roots.sh run NAME [VAR=VALUE...] -- CMD... run CMD in the root, in the current directory
#   tools/roots.sh path NAME                         where the root lives
#   tools/roots.sh pythons NAME                      the CPython versions the root provides
#   tools/roots.sh names                             the roots there are
#
# Roots live outside any clone (SKYLOOM_ROOTS, /var/lib/skyloom-roots by default), so every
# clone on the machine shares them. `run` binds the project directory into the root at the same
# path, with /proc, /dev, a fresh /dev/shm and /tmp, inside a mount and PID namespace of its own:
# the mounts vanish with the command on every exit path (a kill included), and the machine never
# sees them. Needs root.
set -euo pipefail

BASE=${SKYLOOM_ROOTS:-/var/lib/skyloom-roots}
MIRROR=${SKYLOOM_MIRROR:-http://deb.debian.org/debian}
PROJECT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Every root: its Debian suite, the packages it installs and the interpreters they must give.
# This is the one list; changing a root's entry makes `make` build that root anew.
declare -A SUITE=([sid]=sid [bullseye]=bullseye)
declare -A PACKAGES=(
  [sid]="python3.14-dev python3.14-venv python3.15-dev python3.15-venv g++ cmake make"
  [bullseye]="python3-dev python3-venv g++ cmake make"
)
declare -A PYTHONS=([sid]="3.14 3.15" [bullseye]="3.9")

die() {
  echo "roots: $*" >&2
  exit 1
}

known() {
  [ -n "${SUITE[$1]:-}" ] || die "unknown root '$1' (known: ${!SUITE[*]})"
}

# What a complete root records about itself; a root whose record differs is made anew.
recipe() {
  printf 'suite=%s mirror=%s\npackages=%s\n' "${SUITE[$1]}" "$MIRROR" "${PACKAGES[$1]}"
}

need_root_user() {
  [ "$(id -u)" = 0 ] || die "$1 needs root (debootstrap, chroot and mounts)"
}

make_root() {
  local name=$1 dir=$BASE/$1 lock
  known "$name"
  need_root_user "making a root"
  mkdir -p "$BASE"
  exec {lock}>"$BASE/.$name.lock"
  # Runs hold the lock shared: a root is replaced only when nobody is inside it.
  flock -x "$lock"
  if [ -f "$dir/.skyloom-root" ] && [ "$(cat "$dir/.skyloom-root")" = "$(recipe "$name")" ]; then
    exec {lock}>&-
    return 0
  fi
  local new=$dir.new log=$BASE/$name.debootstrap.log
  rm -rf --one-file-system "$new"
  echo "roots: making $dir (Debian ${SUITE[$name]}: ${PACKAGES[$name]})"
  local start=$SECONDS
  # The downloaded packages are kept beside the roots, so that a root made again fetches only
  # what changed in the archive.
  mkdir -p "$BASE/.debs"
  if ! debootstrap --variant=minbase --cache-dir="$BASE/.debs" \
    --include="${PACKAGES[$name]// /,}" "${SUITE[$name]}" "$new" "$MIRROR" >"$log" 2>&1; then
    # debootstrap keeps the details of a failed package in the root it is making.
    [ ! -f "$new/debootstrap/debootstrap.log" ] || cat "$new/debootstrap/debootstrap.log" >>"$log"
    tail -5 "$log" >&2
    local gone
    gone=$(sed -n "s/.*Couldn't find these debs: //p" "$log" | tail -1)
    rm -rf --one-file-system "$new"
    [ -z "$gone" ] || die "Debian ${SUITE[$name]} no longer offers: $gone (root '$name'; its package list is in tools/roots.sh)"
    die "debootstrap of ${SUITE[$name]} failed (log: $log)"
  fi
  local v
  for v in ${PYTHONS[$name]}; do
    [ -x "$new/usr/bin/python$v" ] || {
      rm -rf --one-file-system "$new"
      die "Debian ${SUITE[$name]} installed no python$v (root '$name')"
    }
  done
  apt_clean "$new"
  recipe "$name" >"$new/.skyloom-root"
  if [ -e "$dir" ]; then
    mv "$dir" "$dir.old"
    rm -rf --one-file-system "$dir.old"
  fi
  mv "$new" "$dir"
  echo "roots: $dir made in $((SECONDS - start)) s"
  exec {lock}>&-
}

apt_clean() {
  rm -rf "$1"/var/cache/apt/archives/*.deb "$1"/var/lib/apt/lists/*_Packages
}

# The CA bundle that pip on this machine is told to trust, so that pip inside reaches the index.
ca_bundle() {
  local ca=${PIP_CERT:-}
  [ -n "$ca" ] || ca=$(sed -n 's/^ *cert *= *//p' /etc/pip.conf /etc/xdg/pip/pip.conf 2>/dev/null | head -1)
  [ -n "$ca" ] || ca=/etc/ssl/certs/ca-certificates.crt
  echo "$ca"
}

run_in_root() {
  local name=$1 lock
  shift
  known "$name"
  need_root_user "running in a root"
  local dir=$BASE/$name
  [ -f "$dir/.skyloom-root" ] || die "no root '$name' at $dir: make it with tools/roots.sh make $name (or tools/bootstrap-system.sh root-$name)"
  local env=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do
    [[ $1 == *=* ]] || die "run: '$1' is not VAR=VALUE (the command follows --)"
    env+=("$1")
    shift
  done
  [ "${1:-}" = -- ] && shift
  [ $# -gt 0 ] || die "run: no command"
  local cwd=$PWD
  case "$cwd/" in "$PROJECT"/*) ;; *) cwd=$PROJECT ;; esac

  exec {lock}>"$BASE/.$name.lock"
  flock -s "$lock"
  # Copies, not mounts, so that the root stays usable on its own; each replaced in one rename.
  local ca f
  ca=$(ca_bundle)
  [ -r "$ca" ] || die "the CA bundle $ca cannot be read"
  for f in "$ca:etc/skyloom-ca.crt" /etc/resolv.conf:etc/resolv.conf /etc/hosts:etc/hosts; do
    cp -L "${f%%:*}" "$dir/${f#*:}.tmp$$" && mv -f "$dir/${f#*:}.tmp$$" "$dir/${f#*:}"
  done

  # pip inside talks to the public index only: the machine's local wheel directories and extra
  # indexes are not in the root.
  local inner=(
    HOME=/root LANG=C.UTF-8 PATH=/usr/local/bin:/usr/bin:/bin:/usr/local/sbin:/usr/sbin:/sbin
    TERM="${TERM:-dumb}" CI="${CI:-}"
    PIP_CERT=/etc/skyloom-ca.crt SSL_CERT_FILE=/etc/skyloom-ca.crt
    REQUESTS_CA_BUNDLE=/etc/skyloom-ca.crt PIP_INDEX_URL=https://pypi.org/simple
    PIP_DEFAULT_TIMEOUT="${PIP_DEFAULT_TIMEOUT:-180}" PIP_DISABLE_PIP_VERSION_CHECK=1
    PIP_ROOT_USER_ACTION=ignore
    "${env[@]}"
  )
  local status=0
  # Bash stays PID 1 of the namespace and reaps orphans; the command runs as its child, since a
  # PID 1 ignores the signals it has no handler for and the command's would then behave otherwise.
  unshare --mount --pid --fork --kill-child --propagation private -- bash -c '
    set -e
    dir=$1 project=$2 cwd=$3
    shift 3
    mount -t proc proc "$dir/proc"
    mount --rbind /dev "$dir/dev"
    mount -t tmpfs -o mode=1777,nosuid,nodev shm "$dir/dev/shm"
    mount -t tmpfs -o mode=1777,nosuid,nodev tmp "$dir/tmp"
    # After /tmp: a clone under /tmp is bound inside the root'"'"'s fresh one.
    mkdir -p "$dir$project"
    mount --bind "$project" "$dir$project"
    set +e
    chroot "$dir" /usr/bin/env -i --chdir="$cwd" "$@"
    status=$?
    exit $status
  ' bash "$dir" "$PROJECT" "$cwd" "${inner[@]}" "$@" || status=$?
  exec {lock}>&-
  return $status
}

[ $# -gt 0 ] || die "usage: roots.sh make NAME... | run NAME [VAR=VALUE...] -- CMD... | path NAME | pythons NAME"
command=$1
shift
case "$command" in
  make)
    [ $# -gt 0 ] || die "make: name a root (${!SUITE[*]})"
    for r in "$@"; do make_root "$r"; done
    ;;
  run)
    [ $# -gt 0 ] || die "run: name a root (${!SUITE[*]})"
    run_in_root "$@"
    ;;
  path) known "$1" && echo "$BASE/$1" ;;
  pythons) known "$1" && echo "${PYTHONS[$1]}" ;;
  names) echo "${!SUITE[*]}" ;;
  *) die "unknown command '$command'" ;;
esac
