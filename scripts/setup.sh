#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when they
# are missing.  Needs root (or sudo) only when something is missing.  A
# package that cannot be installed fails it, unless its component is listed
# in QUORVEX_ALLOW_MISSING (scripts/test.sh and tests/support/missing.sh say
# which): then it warns, and notes the component in $QUORVEX_SKIP_LOG.
#   setup.sh        everything the whole test suite uses
#   setup.sh demo   only what the library, the simulator and the
#                   command-line host need to build (the demo)
#   setup.sh zips   only what the Windows zips need (scripts/windows-zips.sh):
#                   what the demo needs, for the build that drives the cross
#                   builds, and the mingw-w64 compilers
#   setup.sh wheels only what the Linux wheel needs (scripts/wheels.sh): what
#                   the demo needs and python3-build; with zips, the DLLs' too
#   setup.sh nuget  only what the NuGet package of the Linux library needs
#                   (scripts/nuget.sh): what the demo needs, mcs and nuget;
#                   with zips, the DLLs' too
# Several sets may be named; what they list together is installed.
set -euo pipefail

demo_packages=(build-essential cmake g++ pkg-config libxml2-dev)
# The 32- and 64-bit Windows DLLs and programs: the cross compilers.
mingw_packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64)
wheels_packages=(python3 python3-build)
nuget_packages=(python3 mono-mcs mono-runtime nuget)
packages=(
  "${demo_packages[@]}"
  libgtest-dev libgmock-dev googletest
  libbenchmark-dev
  # The web request's tests fetch from Python's http.server; the bindings'
  # drift check parses the header with libclang's Python binding.
  python3 python3-clang
  # The Python wheels (scripts/wheels.sh) and their offline install test.
  python3-build python3-venv python3-pip-whl
  # The Debian packages (scripts/debs.sh) and their test: dpkg-shlibdeps
  # and dpkg-buildflags, file (which CPack runs), lintian.
  dpkg-dev file lintian
  # The dialogs: GTK 3, and Xvfb with a CJK font for their tests and for
  # scripts/screenshot-about.sh (xwd and netpbm make the PNG).
  libgtk-3-dev xvfb xauth fonts-wqy-zenhei x11-apps netpbm
  # Real proxies that the proxy tests start: SOCKS4/5, SOCKS5, HTTP CONNECT.
  dante-server microsocks tinyproxy
  # Hardening: libFuzzer from clang, and valgrind for the demo; the house
  # rules: clang-format and clang-tidy.
  clang libclang-rt-14-dev valgrind clang-format-14 clang-tidy-14
  # The send-job journal's database.
  libsqlite3-dev
  # The check of the library's exports against their baseline.
  abigail-tools
  # The Windows DLLs, and Wine to test them.
  "${mingw_packages[@]}" wine wine32:i386 wine64
  # The 32-bit Linux build of the library and its threaded tests under
  # ASan (scripts/linux32.sh): g++'s multilib and the i386 libraries.
  g++-multilib libxml2-dev:i386 libgtest-dev:i386
  # Its journal's database.
  libsqlite3-dev:i386
  # The bindings' scenarios: Free Pascal (with its FCL, for the scenario's
  # own simulators) and lazbuild with the Lazarus tree it needs to build the
  # Pascal package, and Mono with its CJK encodings.
  fp-compiler fp-units-fcl lcl-utils lazarus-src-2.2 mono-mcs mono-runtime libmono-i18n-cjk4.0-cil
  # The Pascal async session's window test: the LCL and its GTK 2 widgetset.
  lcl-units-2.2 lcl-gtk2-2.2
  # The NuGet package (scripts/nuget.sh) and its test.
  nuget unzip mono-xbuild
  # The .NET binding's WinForms host under Xvfb (its async idiom's test).
  libmono-system-windows-forms4.0-cil
)
if [ $# -gt 0 ]; then
  packages=("${demo_packages[@]}")
  for set in "$@"; do
    case "$set" in
      demo) ;;
      zips) packages+=("${mingw_packages[@]}") ;;
      wheels) packages+=("${wheels_packages[@]}") ;;
      nuget) packages+=("${nuget_packages[@]}") ;;
      *) echo "usage: setup.sh [demo | zips | wheels | nuget]..." >&2; exit 2 ;;
    esac
  done
fi
# The Windows DLLs' SQLite is made from Debian's source package
# (scripts/fetch-sqlite.sh: dpkg-source unpacks it, tclsh makes sqlite3.c)
# once everything else is in, for the whole suite and for the zips.
sqlite_source_packages=(dpkg-dev tcl)
if [ $# -eq 0 ] || [[ " $* " == *" zips "* ]]; then
  packages+=("${sqlite_source_packages[@]}")
  trap 'status=$?; [ $status -ne 0 ] || bash "$(dirname "$0")/fetch-sqlite.sh" >/dev/null || status=$?; exit $status' EXIT
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  apt_get=(apt-get)
elif command -v sudo >/dev/null 2>&1; then
  apt_get=(sudo apt-get)
else
  echo "Please install as root: apt-get install ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
# Wine's 32-bit half comes from the i386 architecture.
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
  if [ "$(id -u)" -eq 0 ]; then dpkg --add-architecture i386; else sudo dpkg --add-architecture i386; fi
fi
# A mirror in the middle of a sync can fail an index or two; apt-get then
# uses what it has, so an update that reports an error is tried again and
# then left to the install to judge.
update() {
  local attempt
  for attempt in 1 2 3; do
    "${apt_get[@]}" update -qq && return 0
    [ "$attempt" = 3 ] || sleep $((attempt * 10))
  done
  echo "setup: the package index is incomplete; installing from what it has" >&2
}
install() { "${apt_get[@]}" install -y -qq --no-install-recommends "$@"; }
update
install "${missing[@]}" && exit 0
# The i386 packages need the i386 index of every suite, which a mirror has
# been seen to serve broken.  Where every component whose i386 packages
# failed is allowed to be missing, the rest is installed and the skip
# noted; otherwise the setup fails naming them.
native=() components=()
for p in "${missing[@]}"; do
  case "$p" in
    wine32:i386) components+=(wine32) ;;
    *:i386) components+=(linux32) ;;
    *) native+=("$p") ;;
  esac
done
[ ${#native[@]} -lt ${#missing[@]} ] || exit 1
quorvex_missing_lib=1
. "$(dirname "$0")/../tests/support/missing.sh"
refused=()
for c in $(printf '%s\n' "${components[@]}" | sort -u); do
  quorvex_allowed "$c" || refused+=("$c")
done
if [ ${#refused[@]} -gt 0 ]; then
  echo "setup: the i386 packages could not be installed, which ${refused[*]} need (wine32: Wine's 32-bit half, for the 32-bit DLL's tests; linux32: the 32-bit Linux build under ASan)." >&2
  echo "setup: fix the package index (apt-get update), or set QUORVEX_ALLOW_MISSING=$(IFS=,; echo "${refused[*]}") to test without them" >&2
  exit 1
fi
[ ${#native[@]} -eq 0 ] || install "${native[@]}"
for c in $(printf '%s\n' "${components[@]}" | sort -u); do
  echo "setup: WARNING: skipped (allowed by QUORVEX_ALLOW_MISSING): $c: its i386 packages could not be installed" >&2
  [ -z "${QUORVEX_SKIP_LOG:-}" ] || echo "$c (allowed by QUORVEX_ALLOW_MISSING)" >> "$QUORVEX_SKIP_LOG"
done
