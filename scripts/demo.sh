#!/usr/bin/env bash
# The main job: installs what is missing, builds everything (release build),
# starts the vexod daemon with the example scenario (three receivers and a
# phone in range, radio off) and runs the application on its screens against
# it. On a terminal the screens are drawn in it and you play the user:
# dismiss the notice, tap "Discover more ...", tap "BT-GPS 5E01" (it replays
# a recorded track) and watch the GPS inspector follow it, or tap "GNSS
# Mouse" (it speaks GN only) and read on the status line why its inspector
# shows no fix; q quits. Otherwise
# (no terminal), without a display: scripts/demo.script plays the user along
# the road of a position (the notice, the search, the names, the tap on the
# receiver, the GPS inspector following its positions), and
# scripts/show-screens.py shows each of the script's dumps as the screen a
# reader would see. Then the scripted user of the headless front-end taps the
# receiver that speaks GN only: its report lines show the positions without a
# fix and, once a second, the data link's health line with the verdict on
# why. Then the daemon is stopped.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$jobs" >/dev/null

bin=build/release
source scripts/vexod-session.sh
vexod_session vexod-demo
socket="$work/vexod.sock"

echo "== starting vexod with tools/vexod/scenarios/example.json on $socket"
start_vexod --socket "$socket" --scenario tools/vexod/scenarios/example.json

status=0
if [[ -t 0 && -t 1 ]]; then
  echo "== vexod-gps in this terminal: Tab and the arrows move, Enter taps, Esc goes back, q quits"
  VEXOD_GPS_PREFS_DIR="$work" "$bin/src/app/vexod-gps" --terminal --socket "$socket" \
    2>"$work/vexod-gps.log" || status=$?
else
  echo "== vexod-gps --headless --script scripts/demo.script (each dump shown as its screen)"
  VEXOD_GPS_PREFS_DIR="$work" "$bin/src/app/vexod-gps" --headless --script scripts/demo.script \
    --socket "$socket" --timeout 60 2>"$work/vexod-gps.log" >"$work/dumps" || status=$?
  python3 scripts/show-screens.py <"$work/dumps"
fi
if [[ $status -ne 0 ]]; then
  echo "== vexod-gps ended with status $status; its log:"
  sed 's/^/  /' "$work/vexod-gps.log"
fi

if [[ $status -eq 0 ]]; then
  echo "== vexod-gps --headless --device 00:1b:c1:47:11:06 --positions 6: the GNSS Mouse speaks GN only"
  VEXOD_GPS_PREFS_DIR="$work" "$bin/src/app/vexod-gps" --headless --device 00:1b:c1:47:11:06 --positions 6 \
    --socket "$socket" --timeout 60 2>>"$work/vexod-gps.log" | sed 's/^/  /' || status=$?
  if [[ $status -ne 0 ]]; then
    echo "== vexod-gps ended with status $status; its log:"
    sed 's/^/  /' "$work/vexod-gps.log"
  fi
fi

echo "== what the daemon did"
sed 's/^/  /' "$work/vexod.log"
exit "$status"
