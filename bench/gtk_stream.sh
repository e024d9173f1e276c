#!/usr/bin/env bash
# The window's cost while a receiver streams one position a second on the
# GPS inspector with the map: peak resident memory (VmHWM) and CPU use of
# vexod-gps --gtk over a minute of streaming (after the road to the
# inspector), offline. On a virtual display (xvfb-run, cairo renderer) when
# there is no display. Build first (release):
#   cmake --build build/release --target vexod vexod-gps
#   bench/gtk_stream.sh [SECONDS]          # default 60
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bin=build/release
source scripts/vexod-session.sh
vexod_session vexod-stream

cat >"$work/scenario.json" <<'JSON'
{"inquiry": {"end_after_ms": 20}, "devices": [
  {"address": "00:0b:0d:88:a2:3c", "class": "0x001f00", "name": "GPSlim236",
   "services": [{"name": "SPP", "rfcomm_channel": 1}]}]}
JSON
cat >"$work/script" <<EOF2
dismiss
tap-row 1 0
wait-for "Tap on one device to connect." 15
tap-row 1 0
wait-for "GPS Inspector" 15
wait-for 3D 15
dump
wait $((seconds + 15))
dump
EOF2

start_vexod --socket "$work/vexod.sock" --scenario "$work/scenario.json"

gps=("$bin/src/app/vexod-gps" --gtk --offline --script "$work/script" --socket "$work/vexod.sock")
if [[ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]]; then
  # One virtual display for the whole measurement; the program runs on it.
  Xvfb :$(( $$ % 4000 + 100 )) -screen 0 1024x768x24 -nolisten tcp 2>/dev/null &
  xvfb_pid=$!
  session_pids+=("$xvfb_pid")
  export DISPLAY=:$(( $$ % 4000 + 100 ))
  sleep 1
  export GSK_RENDERER=cairo GTK_A11Y=none
fi
VEXOD_GPS_PREFS_DIR="$work" "${gps[@]}" >"$work/dumps" 2>"$work/gps.log" &
gps_pid=$!
session_pids=("$gps_pid" "${session_pids[@]}")  # stopped first

ticks() { awk '{print $14 + $15}' "/proc/$gps_pid/stat"; }
hz=$(getconf CLK_TCK)
sleep 8  # the road to the inspector
if ! kill -0 "$gps_pid" 2>/dev/null; then
  echo "vexod-gps ended early; its log:" >&2
  sed 's/^/  /' "$work/gps.log" >&2
  exit 1
fi
start=$(ticks)
sleep "$seconds"
end=$(ticks)
hwm=$(awk '/VmHWM/ {print $2}' "/proc/$gps_pid/status")
rss=$(awk '/VmRSS/ {print $2}' "/proc/$gps_pid/status")
echo "streaming ${seconds}s at 1 Hz on the inspector with the map (offline):"
awk -v t=$((end - start)) -v hz="$hz" -v s="$seconds" \
  'BEGIN { printf "  CPU %.2f s = %.2f %% of one core\n", t / hz, 100 * t / hz / s }'
echo "  peak resident memory (VmHWM) ${hwm} kB, resident now ${rss} kB"
wait "$gps_pid" || true
# The map's centre at the start and at the end: the pin moved meanwhile.
python3 - "$work/dumps" <<'PY'
import json, sys
def centres(d):
    out = []
    def walk(v):
        if v["class"] == "MKMapView": out.append(v["center"])
        for s in v.get("subviews", []): walk(s)
    walk(d["window"])
    return out
dumps = [json.loads(l) for l in open(sys.argv[1]) if l.startswith("{")]
if len(dumps) == 2:
    a, b = centres(dumps[0]), centres(dumps[1])
    print("  map centre %s -> %s" % (a, b))
else:
    print("  (the road to the inspector did not complete)")
PY
