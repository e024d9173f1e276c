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
