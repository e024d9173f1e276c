# Sourced by the scripts that run the programs against a vexod of their own.
#   vexod_session NAME   makes the work folder $work and sets the exit trap,
#                        which stops what `session_pids` lists (and runs
#                        `session_cleanup` first, when a script defines it),
#                        then removes the folder;
#   start_vexod ARGS...  starts $bin's vexod with ARGS, its log in
#                        $work/vexod.log, as $daemon_pid, and waits until it
#                        listens.
session_pids=()
daemon_pid=""

vexod_session() {
  work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
  trap end_vexod_session EXIT
}

end_vexod_session() {
  if declare -F session_cleanup >/dev/null; then session_cleanup || true; fi
  local pid
  for pid in "${session_pids[@]}"; do
    if kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  rm -rf "$work"
}

start_vexod() {
  "${bin:-build/release}/tools/vexod/vexod" "$@" 2>"$work/vexod.log" &
  daemon_pid=$!
  session_pids+=("$daemon_pid")
  for _ in $(seq 100); do
    grep -q "listening on" "$work/vexod.log" 2>/dev/null && break
    sleep 0.05
  done
}
