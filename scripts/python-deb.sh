#!/usr/bin/env bash
# Makes python3-quorvex_<version>_all.deb: the Python binding (bindings/python/quorvex)
# in Debian's dist-packages, loading the system's libquorvex0, on which it depends by
# exact version.  scripts/debs.sh runs it beside the library's packages.
#   python-deb.sh OUTPUT-FOLDER VERSION MAINTAINER     (VERSION as 0.1.0-1)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$1 version=$2 maintainer=$3
package=python3-quorvex
tree=$(mktemp -d)
chmod 755 "$tree"
trap 'rm -rf "$tree"' EXIT
umask 022
site=$tree/usr/lib/python3/dist-packages/quorvex
doc=$tree/usr/share/doc/$package
mkdir -p "$site" "$doc" "$tree/DEBIAN"
install -m 644 "$root"/bindings/python/quorvex/*.py "$root/bindings/python/quorvex/py.typed" "$site/"
install -m 644 "$root/cmake/deb/copyright" "$doc/copyright"
# SOURCE_DATE_EPOCH, when set, makes the date (and so the package) reproducible.
date=$(date -u -R ${SOURCE_DATE_EPOCH:+-d "@$SOURCE_DATE_EPOCH"})
printf 'quorvex (%s) unstable; urgency=medium\n\n  * Release %s.\n\n -- %s  %s\n' \
  "$version" "${version%-*}" "$maintainer" "$date" | gzip -9n >"$doc/changelog.Debian.gz"
cat >"$tree/DEBIAN/control" <<CONTROL
Package: $package
Source: quorvex
Version: $version
Architecture: all
Maintainer: $maintainer
Installed-Size: $(du -sk --exclude=DEBIAN "$tree" | cut -f1)
Depends: python3:any, libquorvex0 (= $version)
Section: python
Priority: optional
Description: Python binding of the Quorvex client library
 The quorvex package over ctypes: every export of libquorvex as a method with
 its signature and documentation, session classes, and a helper that sends a
 whole job with its recovery rules.
CONTROL
(cd "$tree" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$tree/DEBIAN/md5sums"
mkdir -p "$out"
dpkg-deb --root-owner-group --build "$tree" "$out/${package}_${version}_all.deb" >/dev/null
echo "$out/${package}_${version}_all.deb"
