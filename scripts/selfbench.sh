#!/usr/bin/env bash
# The benchmark of the tool itself, on the Release build made by setup-and-demo.sh: the
# measuring loop's overhead against a bare loop, its accuracy, and its CPU figure.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --build build -j2 --target trevalo trevalo_bare_loop trevalo_selfbench minisynth >/dev/null
./build/perf/trevalo_selfbench build/trevalo build/perf/trevalo_bare_loop \
  "$(ls build/lib/libavisynth.so)"
