#!/usr/bin/env bash
# Makes SQLite's amalgamation (sqlite3.c, sqlite3.h) for the Windows DLLs
# from Debian's own source package, the same SQLite as the Linux library's
# libsqlite3: adds a deb-src entry of its own for bookworm main, fetches the
# source with apt-get, and runs its build up to sqlite3.c (which needs tclsh
# and a native compiler).  Does nothing when the cache already holds them.
#   fetch-sqlite.sh [cache folder, default .cache/sqlite in the tree]
# Prints the folder that holds sqlite3.c and sqlite3.h.  Needs root (or
# sudo) only to add the source entry and update the index.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cache=${1:-$root/.cache/sqlite}
out=$cache/amalgamation
if [ -s "$out/sqlite3.c" ] && [ -s "$out/sqlite3.h" ]; then
  echo "$out"
  exit 0
fi
for tool in apt-get dpkg-source tclsh make cc; do
  command -v "$tool" >/dev/null ||
    { echo "fetch-sqlite: $tool is missing (bash scripts/setup.sh installs it)" >&2; exit 1; }
done

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  as_root=(false)
fi
# An entry of its own, so that the system's sources stay as they were.
entry=/etc/apt/sources.list.d/quorvex-sqlite-src.sources
if ! apt-get source --print-uris -qq sqlite3 >/dev/null 2>&1; then
  if [ ! -f "$entry" ]; then
    printf '%s\n' 'Types: deb-src' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm' \
      'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
      "${as_root[@]}" tee "$entry" >/dev/null ||
      { echo "fetch-sqlite: could not write $entry; run it as root" >&2; exit 1; }
  fi
  "${as_root[@]}" apt-get update -qq ||
    echo "fetch-sqlite: the package index is incomplete; trying with what it has" >&2
fi

# Fetched and unpacked (with Debian's patches) in a scratch folder beside
# the cache, moved into place only when sqlite3.c is made.
work=$cache/work
rm -rf "$work"
mkdir -p "$work"
# apt's download user cannot write a folder that root owns; the warning
# that it fetches as root instead is no fault.
(cd "$work" && apt-get source -qq sqlite3 >apt.log 2>&1) || { cat "$work/apt.log" >&2; exit 1; }
tree=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'sqlite3-*' | head -n 1)
[ -n "$tree" ] || { echo "fetch-sqlite: apt-get source unpacked no sqlite3 tree" >&2; exit 1; }
if [ -s "$tree/sqlite3.c" ]; then
  made=$tree  # the source is the amalgamation already
else
  mkdir -p "$work/bld"
  (cd "$work/bld" && "$tree/configure" --disable-tcl >configure.log 2>&1 &&
    make -j"${QUORVEX_JOBS:-2}" sqlite3.c >make.log 2>&1) ||
    { cat "$work/bld/configure.log" "$work/bld/make.log" >&2 2>/dev/null; exit 1; }
  made=$work/bld
fi
rm -rf "$out.new"
mkdir -p "$out.new"
cp "$made/sqlite3.c" "$made/sqlite3.h" "$out.new/"
basename "$tree" >"$out.new/SOURCE"  # which Debian source it is
rm -rf "$out"
mv "$out.new" "$out"
rm -rf "$work"
echo "$out"
