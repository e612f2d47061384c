#!/bin/sh
# What the tests do when this machine lacks something they need: the test
# fails and names it, unless the developer listed the component in
# QUORVEX_ALLOW_MISSING (a comma list), in which case it is skipped (exit 77)
# and its name is added to $QUORVEX_SKIP_LOG, from which the test command's
# last line tells what was skipped.  CI never sets QUORVEX_ALLOW_MISSING.
#   missing.sh COMPONENT WHY                 report COMPONENT missing
#   missing.sh --on-77 COMPONENT -- CMD...   run CMD; its exit 77 ("cannot run
#                                            here") reports COMPONENT missing
#   quorvex_missing_lib=1; . missing.sh      defines the functions only
# The components, each the Debian package or tool behind it:
quorvex_components="wine wine32 mingw googletest linux32 xvfb gtk dante microsocks tinyproxy
mono fpc lazbuild nuget python3-clang wheels debs abigail-tools"

quorvex_known_component() {
  case " $(echo $quorvex_components) " in *" $1 "*) return 0 ;; esac
  return 1
}

quorvex_allowed() {
  case ",${QUORVEX_ALLOW_MISSING:-}," in *",$1,"*) return 0 ;; esac
  return 1
}

# Every name in QUORVEX_ALLOW_MISSING is a component: a misspelt one
# would allow nothing and say nothing.
quorvex_check_allowed() {
  for c in $(echo "${QUORVEX_ALLOW_MISSING:-}" | tr ',' ' '); do
    quorvex_known_component "$c" && continue
    echo "QUORVEX_ALLOW_MISSING: unknown component '$c' (known: $(echo $quorvex_components))" >&2
    return 1
  done
}

# Some virtual machines' kernels execute no 32-bit x86 program at all
# ("Exec format error"): there the 32-bit components cannot run whatever is
# installed.  Their tests are then reported on the test command's last line
# as not runnable on this machine, never passed in silence, and a missing
# package still fails.  The probe runs the i386 dynamic loader itself,
# which libc6:i386 installs with either component (bash, unlike execvp,
# never reads a binary it cannot execute as a script: it answers 126).
quorvex_kernel_lacks_i386() {
  [ -e /lib/ld-linux.so.2 ] || return 1
  quorvex_probe=0
  bash -c "/lib/ld-linux.so.2 --version" >/dev/null 2>&1 || quorvex_probe=$?
  [ "$quorvex_probe" -eq 126 ]
}

# quorvex_cannot_run_here COMPONENT: true, and noted for the last line, when
# COMPONENT is a 32-bit one and this kernel executes no 32-bit program.
quorvex_cannot_run_here() {
  case $1 in wine32 | linux32) ;; *) return 1 ;; esac
  quorvex_kernel_lacks_i386 || return 1
  echo "not runnable on this machine: $1: this kernel executes no 32-bit x86 programs"
  [ -z "${QUORVEX_SKIP_LOG:-}" ] ||
    echo "$1 (not runnable: this kernel executes no 32-bit x86 programs)" >> "$QUORVEX_SKIP_LOG"
}

# quorvex_missing COMPONENT WHY: exits 77 where allowed or where the kernel
# cannot run it, 1 otherwise.
# quorvex_skipped COMPONENT WHY: true, and noted for the last line, where
# the component may be skipped (this kernel cannot run it, or it is
# allowed); false where its absence must fail.
quorvex_skipped() {
  quorvex_cannot_run_here "$1" && return 0
  quorvex_allowed "$1" || return 1
  echo "skipped (allowed by QUORVEX_ALLOW_MISSING): $1: $2"
  [ -z "${QUORVEX_SKIP_LOG:-}" ] || echo "$1 (allowed by QUORVEX_ALLOW_MISSING)" >> "$QUORVEX_SKIP_LOG"
}

quorvex_missing() {
  if ! quorvex_known_component "$1"; then
    echo "missing.sh: unknown component '$1' (known: $(echo $quorvex_components))" >&2
    exit 1
  fi
  quorvex_skipped "$1" "$2" && exit 77
  echo "missing: $1: $2"
  echo "  bash scripts/setup.sh installs what a package provides; where it cannot be had here, QUORVEX_ALLOW_MISSING=$1 skips its tests"
  exit 1
}

[ "${quorvex_missing_lib:-0}" = 1 ] && return 0
case "${1:-}" in
  --on-77)
    component=$2
    shift 3
    rc=0
    "$@" || rc=$?
    [ "$rc" -eq 77 ] || exit "$rc"
    quorvex_missing "$component" "the test found it missing (its reason above)"
    ;;
  *) quorvex_missing "$1" "$2" ;;
esac
