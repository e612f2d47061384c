#!/bin/sh
# No object of the DLL registers a destructor to run at thread exit (what
# a thread_local object with a destructor compiles to): in a DLL built with
# mingw-w64 those run out of order with the compiler's own thread storage,
# and on 32 bits with the wrong calling convention, and corrupt the heap of
# the host's process.  Per-thread state that needs freeing goes through
# the system's own slot instead.
#   no_thread_exit_destructors.sh NM OBJECT_DIR...
set -eu
nm=$1
shift
objects=$(find "$@" -name '*.obj' | sort)
[ -n "$objects" ] || { echo "no objects under $*"; exit 1; }
found=0
for o in $objects; do
  if "$nm" "$o" | grep -q '__cxa_thread_atexit'; then
    echo "$o registers a thread-exit destructor (a thread_local with a destructor)"
    found=1
  fi
done
echo "objects checked: $(echo "$objects" | wc -l)"
exit $found
