#!/usr/bin/env bash
# Runs the whole test suite of the build made by setup-and-demo.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build -j2
ctest --test-dir build --output-on-failure -j2
