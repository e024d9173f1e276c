#!/usr/bin/env bash
# Measures the terminal front-end on the application against the simulated
# vexod (example scenario), in a tmux terminal of 40 by 30:
#   - terminal_bench: CPU time of drawing the main screen and the inspector
#     (into cells; and a full redraw to the terminal), and the time from a
#     position to the terminal holding its text;
#   - wake-ups per second and CPU use while idle on the main screen (after a
#     search: nothing turns, so nothing may wake it), and while the switch
#     row's spinner turns (a daemon that cannot be reached keeps it turning);
#   - peak resident memory (VmHWM) while the receiver streams positions to
#     the inspector, and the CPU used meanwhile.
# Wake-ups are the process's voluntary context switches (it sleeps in
# poll() between events); CPU is utime + stime from /proc.
set -euo pipefail
cd "$(dirname "$0")/.."

idle_seconds=${IDLE_SECONDS:-10}
stream_seconds=${STREAM_SECONDS:-20}

cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j2 --target terminal_bench vexod vexod-gps >/dev/null
bin=build/release

"$bin/bench/terminal_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true

source scripts/vexod-session.sh
vexod_session vexod-bench
tmux=(tmux -S "$work/tmux.sock" -f /dev/null)
session_cleanup() { "${tmux[@]}" kill-server 2>/dev/null; }

start_vexod --socket "$work/vexod.sock" --scenario tools/vexod/scenarios/example.json

"${tmux[@]}" new-session -d -x 40 -y 30 -e LANG=C.UTF-8 -e VEXOD_GPS_PREFS_DIR="$work" \
  "sh -c 'echo \$\$ >$work/pid; exec $bin/src/app/vexod-gps --socket $work/vexod.sock 2>$work/gps.log'; sleep 600"
wait_for() {
  for _ in $(seq 400); do
    "${tmux[@]}" capture-pane -p | grep -qF -- "$1" && return 0
    sleep 0.05
  done
  echo "bench-terminal: \"$1\" never showed" >&2
  "${tmux[@]}" capture-pane -p >&2
  exit 1
}
wait_for "[ Dismiss ]"
pid=$(cat "$work/pid")
"${tmux[@]}" send-keys Enter
wait_for "Discover more ..."
"${tmux[@]}" send-keys Tab Tab Enter
wait_for "Tap on one device to connect."
sleep 1

ticks=$(getconf CLK_TCK)
cpu() { awk '{print $14 + $15}' "/proc/$pid/stat"; }
switches() { awk '/^voluntary_ctxt_switches/ {print $2}' "/proc/$pid/status"; }
measure() {  # label seconds
  local s0 c0 t0 t1
  s0=$(switches); c0=$(cpu); t0=$(date +%s.%N)
  sleep "$2"
  t1=$(date +%s.%N)
  awk -v label="$1" -v s="$(( $(switches) - s0 ))" -v c="$(( $(cpu) - c0 ))" -v t0="$t0" -v t1="$t1" -v hz="$ticks" \
    'BEGIN { d = t1 - t0; printf "%s: %.2f wake-ups/s, CPU %.3f%% (%d ticks in %.1f s)\n", label, s / d, 100 * c / hz / d, c, d }'
}
measure "idle on the main screen" "$idle_seconds"

# BT-GPS 5E01 (it replays a recorded track): from the search row, up three.
"${tmux[@]}" send-keys Up Up Up Enter
wait_for "GPS Inspector"
wait_for "Current Location"
measure "streaming positions to the inspector" "$stream_seconds"
echo "peak resident memory while streaming: $(awk '/^VmHWM/ {print $2, $3}' "/proc/$pid/status")"
echo "resident memory now: $(awk '/^VmRSS/ {print $2, $3}' "/proc/$pid/status")"
"${tmux[@]}" send-keys q
sleep 0.5

# No daemon: after the two alerts the switch row's spinner turns on.
"${tmux[@]}" kill-server 2>/dev/null || true
"${tmux[@]}" new-session -d -x 40 -y 30 -e LANG=C.UTF-8 -e VEXOD_GPS_PREFS_DIR="$work" \
  "sh -c 'echo \$\$ >$work/pid; exec $bin/src/app/vexod-gps --socket $work/nobody.sock 2>$work/gps.log'; sleep 600"
wait_for "[ Dismiss ]"
pid=$(cat "$work/pid")
"${tmux[@]}" send-keys Enter
wait_for "Please make sure"
"${tmux[@]}" send-keys Enter
wait_for "Failed to connect to vexod daemon."
sleep 1
measure "a spinner turning on the main screen" "$idle_seconds"
"${tmux[@]}" send-keys q
