#!/usr/bin/env bash
# Fuzzes every parser of untrusted input: each target first runs over its seed corpus
# (fuzz/corpus/<target>), then for SECONDS (default 60) more, with AddressSanitizer and
# UndefinedBehaviorSanitizer on. Prints each target's executions and coverage; a crash, leak,
# hang or undefined behaviour fails the run and keeps the input in build-fuzz/findings.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
if ! command -v clang++ >/dev/null 2>&1; then
  echo "Fuzzing skipped: clang++ is not installed (apt-get install clang)."
  exit 0
fi
targets="ini command_line image proc gpuz script result"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTREVALO_SANITIZE=ON -DTREVALO_FUZZ=ON -DTREVALO_TESTS=OFF >/dev/null
cmake --build build-fuzz -j2 $(for t in $targets; do printf -- '--target fuzz_%s ' "$t"; done) >/dev/null
mkdir -p build-fuzz/findings
failed=0
for target in $targets; do
  work=$(mktemp -d)  # what the fuzzer adds stays out of the repository
  dict=()
  [ -f "fuzz/$target.dict" ] && dict=(-dict="fuzz/$target.dict")
  log=build-fuzz/findings/$target.log
  if ./build-fuzz/fuzz/fuzz_$target -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -artifact_prefix=build-fuzz/findings/$target- "${dict[@]}" \
       "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -n 1)
    printf '%-13s %12s executions  %s  %s\n' "$target" "$runs" "$cov" "$ft"
  else
    echo "$target: FINDING (input and log in build-fuzz/findings)"
    tail -n 30 "$log"
    failed=1
  fi
  rm -rf "$work"
done
exit $failed
