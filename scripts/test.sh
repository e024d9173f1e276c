#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a normal
# optimised build and an AddressSanitizer + UndefinedBehaviorSanitizer build.
# Warnings are errors in both. Any failing test or sanitizer report fails.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:strict_string_checks=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

run_build() {
  local dir=$1; shift
  echo "== configure $dir" >&2
  cmake -S . -B "$dir" -DVGPS_WERROR=ON "$@" >/dev/null
  echo "== build $dir" >&2
  cmake --build "$dir" -j "$jobs"
  echo "== test $dir" >&2
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}

run_build build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo
run_build build/sanitize -DCMAKE_BUILD_TYPE=Debug -DVGPS_SANITIZE=ON -DVGPS_BUILD_BENCH=OFF

# A short libFuzzer run (clang, ASan + UBSan) of every fuzz target from its
# seeds, VGPS_FUZZ_SECONDS each (default 10; 0 skips them); new inputs go to
# a temporary folder. fuzz/CMakeLists.txt lists the targets in targets.tsv.
fuzz_seconds=${VGPS_FUZZ_SECONDS:-10}
if [[ "$fuzz_seconds" -gt 0 ]]; then
  echo "== fuzz build/fuzz (${fuzz_seconds}s a target)" >&2
  CC=clang CXX=clang++ cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVGPS_WERROR=ON \
    -DVGPS_SANITIZE=ON -DVGPS_BUILD_FUZZ=ON -DVGPS_BUILD_TESTS=OFF -DVGPS_BUILD_BENCH=OFF >/dev/null
  cmake --build build/fuzz -j "$jobs" --target vgps_fuzzers
  while IFS=$'\t' read -r target seeds options; do
    name=$(basename "$target")
    fuzz_dir=$(mktemp -d)
    # shellcheck disable=SC2086  # the options are separate words
    if ! "$target" -max_total_time="$fuzz_seconds" $options "$fuzz_dir" "$seeds" </dev/null >"$fuzz_dir/log" 2>&1; then
      echo "== fuzz $name failed" >&2
      tail -40 "$fuzz_dir/log" >&2
      rm -rf "$fuzz_dir"
      exit 1
    fi
    echo "$name: $(grep -E '^Done' "$fuzz_dir/log" || echo done)" >&2
    rm -rf "$fuzz_dir"
  done < build/fuzz/fuzz/targets.tsv
fi
