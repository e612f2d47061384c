#!/bin/sh
# Installs a build into an empty folder and builds a host against it the
# two ways a C or C++ project does: with pkg-config and with CMake's
# find_package(Quorvex).  Each host must run.  Also checks the versioned
# shared object and its links, that pkg-config prints the prefix's own
# plain paths, and that a staged install (DESTDIR, as the packages are
# made) and a moved tree are found too.
#   check_install.sh <build dir> <folder of this script> [C flags]
# The C flags are the build's own, so that hosts of a sanitizer build are
# instrumented as its library is.
set -eu
build=$1 here=$2 cflags=${3:-}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cmake --install "$build" --prefix "$dir/usr/" >/dev/null
lib=$(dirname "$(find "$dir/usr" -name 'libquorvex.so.0' | head -n 1)")
readelf -d "$lib/libquorvex.so.0" | grep -q 'SONAME.*\[libquorvex\.so\.0\]'
[ -L "$lib/libquorvex.so" ] && [ -L "$lib/libquorvex.so.0" ]

flags() { PKG_CONFIG_PATH=$lib/pkgconfig pkg-config "$@" --cflags --libs quorvex | sed 's/ *$//'; }
want="-I$dir/usr/include -L$lib -lquorvex"
[ "$(flags)" = "$want" ] || { echo "pkg-config prints '$(flags)', not '$want'"; exit 1; }
sh "$here/consumers.sh" "$dir/usr" "$dir" "$cflags"

# A moved tree: pkg-config --define-prefix takes the prefix from where the
# file lies (a lib/pkgconfig folder), CMake's package finds itself.
if [ "$lib" = "$dir/usr/lib" ]; then
  mv "$dir/usr" "$dir/moved"
  lib=$dir/moved/lib
  want="-I$dir/moved/include -L$lib -lquorvex"
  [ "$(flags --define-prefix)" = "$want" ] || { echo "moved: pkg-config prints '$(flags --define-prefix)'"; exit 1; }
  rm -rf "$dir/moved"
fi

# A staged install read through PKG_CONFIG_SYSROOT_DIR.
DESTDIR=$dir/root cmake --install "$build" --prefix /opt/quorvex >/dev/null
sh "$here/consumers.sh" "$dir/root/opt/quorvex" "$dir" "$cflags"
echo "consumers: ok"
