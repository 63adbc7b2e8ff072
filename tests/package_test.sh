#!/usr/bin/env bash
# The installation and the Debian package hold the program and its manual (HTML page and man
# page), and nothing of the build's own (minisynth, tests). Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
expected=$'bin/trevalo\nshare/doc/trevalo/Trevalo.html\nshare/man/man1/trevalo.1'

"${CMAKE:-cmake}" --install "$build" --prefix "$work/prefix" >/dev/null
installed=$(cd "$work/prefix" && find . -type f -printf '%P\n' | sort)
[ "$installed" = "$expected" ] || { printf 'installed:\n%s\n' "$installed"; exit 1; }

"${CPACK:-cpack}" -G DEB -B "$work/deb" --config "$build/CPackConfig.cmake" >/dev/null
deb=$(echo "$work"/deb/trevalo_*.deb)
packaged=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\.\/usr\//, "", $6); print $6 }' | sort)
[ "$packaged" = "$expected" ] || { printf 'packaged:\n%s\n' "$packaged"; exit 1; }
[ "$(dpkg-deb -f "$deb" Package)" = trevalo ]
if command -v dpkg-shlibdeps >/dev/null; then
  dpkg-deb -f "$deb" Depends | grep -q 'libc6' || { echo "no computed Depends"; exit 1; }
fi
# The man page renders without complaints from groff.
if command -v groff >/dev/null; then
  warnings=$(groff -k -man -Tutf8 -ww -z "$work/prefix/share/man/man1/trevalo.1" 2>&1)
  [ -z "$warnings" ] || { echo "$warnings"; exit 1; }
fi
echo "installed and packaged: $(basename "$deb")"
