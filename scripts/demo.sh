#!/usr/bin/env bash
# The main job: installs what is missing, builds everything (release build),
# starts the vexod daemon with the example scenario (three receivers in
# range, radio off) and runs the headless application against it. The
# application connects, powers the radio on, searches once, resolves the
# names of the devices it found, connects to the receiver that replays a
# recorded track and prints the positions it streams; after ten positions
# (or 60 seconds) it exits and the daemon is stopped.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$jobs" >/dev/null

bin=build/release
work=$(mktemp -d "${TMPDIR:-/tmp}/vexod-demo.XXXXXX")
socket="$work/vexod.sock"
daemon_pid=""
cleanup() {
  if [[ -n "$daemon_pid" ]] && kill -0 "$daemon_pid" 2>/dev/null; then
    kill -TERM "$daemon_pid" 2>/dev/null || true
    wait "$daemon_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

echo "== starting vexod with tools/vexod/scenarios/example.json on $socket"
"$bin/tools/vexod/vexod" --socket "$socket" --scenario tools/vexod/scenarios/example.json 2>"$work/vexod.log" &
daemon_pid=$!
for _ in $(seq 100); do
  grep -q "listening on" "$work/vexod.log" 2>/dev/null && break
  sleep 0.05
done

echo "== vexod-gps --headless (one line per report on stdout, one JSON line per position)"
status=0
VEXOD_GPS_PREFS_DIR="$work" "$bin/src/app/vexod-gps" --headless --socket "$socket" \
  --device 00:1c:88:30:5e:01 --positions 10 --timeout 60 \
  2>"$work/vexod-gps.log" || status=$?

echo "== what the daemon did"
sed 's/^/  /' "$work/vexod.log"
exit "$status"
