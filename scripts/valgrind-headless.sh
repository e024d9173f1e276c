#!/usr/bin/env bash
# Memcheck over the whole headless road of a position: vexod with the example
# scenario (10 epochs a second) and vexod-gps --headless --positions N, both
# under valgrind. Prints both exit statuses, the positions printed and the
# summary lines of each; fails when either program reports an error or a
# leak (definite, indirect or possible).
#
#   scripts/valgrind-headless.sh [N] [BUILD]     (default 20 positions, build/release)
set -uo pipefail
cd "$(dirname "$0")/.."
positions=${1:-20}
build=${2:-build/release}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
vg=(valgrind --leak-check=full --show-leak-kinds=all --errors-for-leak-kinds=definite,indirect,possible
    --error-exitcode=99 --track-fds=yes)
"${vg[@]}" --log-file="$dir/vexod.vg" "$build/tools/vexod/vexod" --socket "$dir/s" \
  --scenario tools/vexod/scenarios/example.json --speed 10 2>"$dir/vexod.log" &
vexod=$!
for _ in $(seq 300); do [[ -S "$dir/s" ]] && break; sleep 0.1; done
VEXOD_GPS_PREFS_DIR=$dir "${vg[@]}" --log-file="$dir/gps.vg" "$build/src/app/vexod-gps" --headless \
  --socket "$dir/s" --positions "$positions" --timeout 300 >"$dir/gps.out" 2>"$dir/gps.log"
gps_status=$?
kill -TERM "$vexod"
wait "$vexod"
vexod_status=$?
echo "vexod-gps exit $gps_status, vexod exit $vexod_status, positions printed: $(grep -c '^{' "$dir/gps.out")"
for f in gps vexod; do
  echo "== $f"
  grep -E 'ERROR SUMMARY|definitely lost|indirectly lost|possibly lost|still reachable:|in use at exit|total heap usage|FILE DESCRIPTORS' "$dir/$f.vg"
done
[[ $gps_status -eq 0 && $vexod_status -eq 0 ]]
