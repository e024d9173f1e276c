#!/usr/bin/env bash
# Makes docs/main.png and docs/inspector.png, the README's pictures of the
# window: builds (release), starts vexod with the example scenario, and runs
# vexod-gps --gtk --offline with scripts/screenshots.script, whose
# screenshot commands write the window as GTK draws it. Without a display
# it runs on a virtual one (xvfb-run), with GTK's cairo renderer.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$jobs" --target vexod vexod-gps >/dev/null

bin=build/release
source scripts/vexod-session.sh
vexod_session vexod-shots

start_vexod --socket "$work/vexod.sock" --scenario tools/vexod/scenarios/example.json --speed 20

run=("$bin/src/app/vexod-gps" --gtk --offline --script scripts/screenshots.script --socket "$work/vexod.sock"
     --timeout 120)
if [[ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
  run=(xvfb-run -a -s "-screen 0 1024x768x24" env GSK_RENDERER=cairo GTK_A11Y=none "${run[@]}")
fi
VEXOD_GPS_PREFS_DIR="$work" "${run[@]}" 2>"$work/vexod-gps.log" || {
  status=$?
  echo "screenshots: vexod-gps ended with status $status; its log:" >&2
  sed 's/^/  /' "$work/vexod-gps.log" >&2
  exit "$status"
}
echo "docs/main.png and docs/inspector.png written"
