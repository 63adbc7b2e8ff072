#!/usr/bin/env bash
# Cross-builds Trevalo for Windows x86 and x64 with MinGW-w64 and runs the end-to-end suite
# of the x64 build under Wine (after the README's first command). Debian 12, as root.
#   build-win32/trevalo.exe, build-win64/trevalo.exe: the programs, each alone (static run time)
#   build-win{32,64}/lib/avisynth.dll: minisynth, for trying a build out
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
apt-get install -y -qq g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64 xvfb xauth \
  >/dev/null

for arch in i686 x86_64; do
  dir=build-win$([ "$arch" = i686 ] && echo 32 || echo 64)
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTREVALO_TESTS=OFF \
        -DTREVALO_WERROR=ON -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake"
  cmake --build "$dir" -j2
done

export WINEPREFIX="${WINEPREFIX:-$PWD/build-win64/wineprefix}" WINEDEBUG=-all
export wine=/usr/lib/wine/wine64
"$wine" wineboot --init >/dev/null 2>&1 || true
wineserver -w   # the next server starts with the display below

cmake --build build -j2 --target e2e_tests

# Everything of Wine's under one virtual display (GPU-Z's window needs one), with one Wine
# server kept up between the tests.
under_display() {
  set -euo pipefail
  wineserver -p
  trap 'wineserver -k' EXIT
  echo "== trevalo.exe -avsinfo under Wine"
  (cd build-win64 && WINEPATH="Z:$(pwd | tr / '\\')\\lib" "$wine" trevalo.exe -avsinfo)
  TREVALO_E2E_WINDOWS_BUILD="$PWD/build-win64" TREVALO_E2E_WINE="$wine" ./build/tests/e2e_tests
}
# xvfb-run is a sh script: the function goes along as text, not as an exported function.
xvfb-run -a -s "-nolisten tcp" bash -c "$(declare -f under_display); under_display"
