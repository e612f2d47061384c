#!/bin/sh
# Makes the Debian packages from the source tree with scripts/debs.sh,
# unpacks them into a scratch root (dpkg-deb -x: no root rights needed) and
# checks that they make a working library: the demo runs from the root, a
# host builds against it with pkg-config and with CMake and runs, the
# dialog module is found in its private directory, the dependencies are the
# ones a bare machine needs, and lintian finds no errors.  Without a
# packaging tool it fails, or is skipped where QUORVEX_ALLOW_MISSING lists
# debs (tests/support/missing.sh).
#   check_debs.sh <source dir> <build folder for the packages>
set -eu
src=$1 build=$2
. "$src/tests/support/simulator_port.sh"
for tool in cpack dpkg-deb dpkg-shlibdeps file lintian pkg-config cc; do
  command -v "$tool" >/dev/null ||
    sh "$src/tests/support/missing.sh" debs "$tool is missing (Debian dpkg-dev, file, lintian, pkg-config)"
done
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
if ! QUORVEX_DEBS_BUILD_DIR=$build QUORVEX_JOBS=2 bash "$src/scripts/debs.sh" "$dir/debs" >"$dir/debs.log" 2>&1; then
  cat "$dir/debs.log"
  exit 1
fi
version=$(sed -n 's/^project(quorvex VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
field() { dpkg-deb -f "$dir/debs/$1_$version-1_"*.deb "$2"; }

# What each package needs: the library libxml2 and SQLite and no window
# system; the dialogs GTK 3, recommended by the library; the others the
# library itself.
field libquorvex0 Depends | grep -q 'libxml2'
field libquorvex0 Depends | grep -q 'libsqlite3-0'
if field libquorvex0 Depends | grep -q 'gtk'; then echo "libquorvex0 depends on GTK"; exit 1; fi
field libquorvex0 Recommends | grep -qx 'libquorvex-gtk'
if [ -f "$dir/debs/libquorvex-gtk_$version-1_"*.deb ]; then field libquorvex-gtk Depends | grep -q 'libgtk-3-0'; fi
for p in libquorvex-dev quorvex-tools python3-quorvex; do field $p Depends | grep -q "libquorvex0 (= $version-1)"; done

root=$dir/root
for deb in "$dir"/debs/*.deb; do dpkg-deb -x "$deb" "$root"; done
lib=$(dirname "$(find "$root/usr/lib" -name libquorvex.so.0)")
test -f "$root/usr/share/quorvex/Quorvex.ini"
[ "$(ls "$root/usr/bin")" = "$(printf 'quorvex\nquorvex-sim')" ]
# The Python binding finds the packaged library where the system's loader looks.
env -u QUORVEX_LIBRARY PYTHONPATH="$root/usr/lib/python3/dist-packages" LD_LIBRARY_PATH="$lib" python3 -c \
  'import quorvex; s = quorvex.Session(); s.close(); assert quorvex._native.bundled_library() is None'

# The dialog module lies in the library's private directory, not where the
# system's loader looks, and the library finds it there: under Xvfb the
# About dialog opens from that file.
if [ -f "$dir/debs/libquorvex-gtk_$version-1_"*.deb ]; then
  test -f "$lib/quorvex/libquorvex-gtk.so"
  if [ -e "$lib/libquorvex-gtk.so" ]; then echo "the dialog module lies in the public library directory"; exit 1; fi
  if command -v Xvfb >/dev/null; then
    mkfifo "$dir/display"
    Xvfb -displayfd 3 -nolisten tcp 3>"$dir/display" 2>/dev/null &
    xvfb_pid=$!
    display=$(timeout 20 head -n1 "$dir/display") || true
    status=0
    DISPLAY=:$display LD_LIBRARY_PATH=$lib python3 -c 'import ctypes, sys
shown = ctypes.CDLL("libquorvex.so.0").ShowAbout()
maps = open("/proc/self/maps").read()
sys.exit(0 if shown == 1 and sys.argv[1] in maps else 1)' "$lib/quorvex/libquorvex-gtk.so" || status=$?
    kill $xvfb_pid 2>/dev/null || true
    [ "$status" = 0 ] || { echo "ShowAbout did not open the packaged module's dialog (display :$display)"; exit 1; }
  else
    echo "Xvfb missing: the packaged dialog module was not shown"
  fi
fi

LD_LIBRARY_PATH=$lib "$root/usr/bin/quorvex" --version | grep -q "$version"
LD_LIBRARY_PATH=$lib "$root/usr/bin/quorvex" demo >"$dir/demo.log" || { tail -20 "$dir/demo.log"; exit 1; }
sh "$src/tests/consumer/consumers.sh" "$root/usr" "$dir"

# The documents are the tree's, and the -dev package's example hosts build
# against the packages (quorvex.pc names /usr: the scratch root is the
# sysroot) and run against the packaged simulator (their port 9000 made a
# free one).
doc=$root/usr/share/doc
for f in libquorvex-dev/README.md:README.md quorvex-tools/README.quorvex-sim.md:tools/sim/README.md \
  quorvex-tools/README.quorvex.md:tools/cli/README.md; do
  gzip -dc "$doc/${f%%:*}.gz" | cmp -s - "$src/${f#*:}" || { echo "$doc/${f%%:*}.gz differs from ${f#*:}"; exit 1; }
done
: >"$dir/sim.out"
"$root/usr/bin/quorvex-sim" --port 0 --quiet >"$dir/sim.out" &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null; rm -rf "$dir"' EXIT
port=$(simulator_port "$dir/sim.out") || exit 1
pc=$(dirname "$(find "$root" -name quorvex.pc)")
for host in host.c:cc host.cpp:c++; do
  file=${host%:*}
  sed "s/\"127[.]0[.]0[.]1\", 9000\([,)]\)/\"127.0.0.1\", $port\1/" "$doc/libquorvex-dev/examples/$file" >"$dir/$file"
  # shellcheck disable=SC2046
  ${host#*:} -Wall -Werror "$dir/$file" -o "$dir/host" $(PKG_CONFIG_PATH=$pc PKG_CONFIG_SYSROOT_DIR=$root pkg-config --cflags --libs quorvex) \
    -Wl,-rpath,"$lib"
  LC_ALL=C.UTF-8 "$dir/host" | tee "$dir/host.out"
  grep -q '^number rules: ' "$dir/host.out"
done

status=0
lintian --fail-on error "$dir"/debs/*.deb >"$dir/lintian.log" 2>&1 || status=$?
grep -v 'running with root privileges' "$dir/lintian.log" || true
[ "$status" = 0 ]
if grep -q 'shared-library-lacks-version' "$dir/lintian.log"; then echo "a shared library lacks its version"; exit 1; fi
echo "packages: ok"
