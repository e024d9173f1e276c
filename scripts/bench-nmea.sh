#!/usr/bin/env bash
# Measures the NMEA stream parser on a generated 1 Hz receiver stream fed in
# 1023-byte blocks: CPU time per sentence (Google Benchmark) and instructions
# per sentence (callgrind: three passes minus one pass, over twice the
# sentences, so start-up and the generation of the stream cancel out), and
# how many of the stream's sentences one pass applies (all of them: none is
# lost where a block ends).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j2 --target nmea_bench >/dev/null
bench=build/release/bench/nmea_bench

"$bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

count() {
  valgrind --tool=callgrind --callgrind-out-file=/dev/null "$bench" --passes="$1" 2>&1 |
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p'
}
read -r sentences packs < <("$bench" --passes=1 | sed -n 's/.*sentences=\([0-9]*\) packs=\([0-9]*\).*/\1 \2/p')
one=$(count 1)
three=$(count 3)
echo "callgrind: 1 pass $one, 3 passes $three instructions, $sentences sentences a pass"
echo "instructions per sentence: $(( (three - one) / (2 * sentences) ))"
echo "sentences applied: $packs of $sentences a pass"
