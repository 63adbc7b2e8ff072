#!/usr/bin/env bash
# Installs what the build needs (Debian 12, as root), builds, and benchmarks the demo script
# on minisynth, the stand-in frame server built alongside.
set -euo pipefail
cd "$(dirname "$0")/.."
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq g++ cmake ninja-build libgtest-dev libgmock-dev clang-format clang cmark \
  nlohmann-json3-dev librsvg2-bin lintian >/dev/null
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build -j2
LD_LIBRARY_PATH="$PWD/build/lib" ./build/trevalo examples/demo.avs
