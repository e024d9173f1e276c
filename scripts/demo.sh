#!/usr/bin/env bash
# Installs what is missing and builds everything (release build), then says
# what was built.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$jobs" >/dev/null
echo "Built in build/release:"
find build/release -maxdepth 3 -type f -executable ! -name '*.so*' ! -path '*/CMakeFiles/*' | sort | sed 's/^/  /'
