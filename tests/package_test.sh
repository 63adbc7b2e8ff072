#!/usr/bin/env bash
# The installation and the Debian package hold the program, its manual (HTML page and
# compressed man page), the copyright file, the changelog and the example scripts, and
# nothing of the build's own (minisynth, tests). Where lintian is installed it finds no error
# in the package; as root with dpkg the package installs, runs without writing beside the
# program, and purges without a trace. Usage: package_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
expected=$'bin/trevalo
share/doc/trevalo/Trevalo.html
share/doc/trevalo/changelog.gz
share/doc/trevalo/copyright
share/doc/trevalo/examples/audio-only.avs
share/doc/trevalo/examples/demo.avs
share/doc/trevalo/examples/fields.avs
share/doc/trevalo/examples/prefetch.avs
share/man/man1/trevalo.1.gz'

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
  warnings=$(gzip -dc "$work/prefix/share/man/man1/trevalo.1.gz" | groff -k -man -Tutf8 -ww -z 2>&1)
  [ -z "$warnings" ] || { echo "$warnings"; exit 1; }
fi

if command -v lintian >/dev/null; then
  # Errors only: a warning is a matter of taste, an error a broken package.
  findings=$(lintian --fail-on error "$deb" 2>&1) || { echo "lintian: $findings"; exit 1; }
  echo "lintian: no errors"
else
  echo "lintian is not installed: not checked"
fi

# The package's own life: installed, run as root, purged. One at a time on this machine,
# and never over a trevalo package someone installed for real.
if [ "$(id -u)" != 0 ] || ! command -v dpkg >/dev/null || ! command -v flock >/dev/null; then
  echo "installed and packaged: $(basename "$deb") (not installed: needs root and dpkg)"
  exit 0
fi
exec 9>/tmp/trevalo-package-test.lock
flock -w 600 9 || { echo "another package test held the lock for 10 minutes"; exit 1; }
if dpkg-query -W -f '${Status}' trevalo 2>/dev/null | grep -q installed ||
  [ -e /usr/bin/Trevalo.ini ]; then
  echo "installed and packaged: $(basename "$deb") (not installed: a trevalo is)"
  exit 0
fi
# dpkg waits for no one: retry while another installation holds its lock, for a while.
dpkg_retrying() {
  local output
  for _ in $(seq 1 60); do
    if output=$(dpkg "$@" 2>&1); then return 0; fi
    grep -qi 'lock' <<<"$output" || { echo "$output"; return 1; }
    sleep 5
  done
  echo "$output"
  return 1
}
# A file the program wrongly left beside itself goes too, so that the next test can tell.
purge() {
  dpkg_retrying --purge trevalo >/dev/null || true
  rm -f /usr/bin/Trevalo.ini /usr/bin/Trevalo.ini.bak
}
trap 'purge; rm -rf "$work"' EXIT
dpkg_retrying -i "$deb" >/dev/null
version=$(/usr/bin/trevalo -version)
[[ $version == "Trevalo $(dpkg-deb -f "$deb" Version | cut -c1-5) ("* ]] ||
  { echo "the installed program says: $version"; exit 1; }
mkdir -p "$work/home" "$work/run"
HOME="$work/home" XDG_RUNTIME_DIR="$work/run" LD_LIBRARY_PATH="$build/lib" \
  /usr/bin/trevalo -avsinfo >/dev/null 2>&1 || { echo "the installed program failed"; exit 1; }
[ ! -e /usr/bin/Trevalo.ini ] || { echo "/usr/bin/Trevalo.ini written"; exit 1; }
[ -f "$work/home/.config/trevalo/Trevalo.ini" ] || { echo "no INI file for the user"; exit 1; }
if command -v man >/dev/null; then
  man -w trevalo >/dev/null 2>&1 || { echo "man finds no page"; exit 1; }
fi
dpkg_retrying --purge trevalo >/dev/null
left=$(ls -d /usr/bin/trevalo /usr/bin/Trevalo.ini /usr/share/doc/trevalo \
  /usr/share/man/man1/trevalo.1.gz 2>/dev/null || true)
[ -z "$left" ] || { printf 'left behind:\n%s\n' "$left"; exit 1; }
echo "installed, run, purged and packaged: $(basename "$deb")"
