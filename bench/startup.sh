#!/usr/bin/env bash
# Start-up time of the library window: from process start until the window is mapped and
# viewable on the X display, with a library of ROWS packages. Runs on the current display,
# or on its own virtual one when there is none:
#   bench/startup.sh [ROWS] [RUNS]        (default 1000 rows, 10 runs)
# Needs xev (x11-utils) and, without a display, xvfb-run.
set -euo pipefail
rows=${1:-1000}
runs=${2:-10}
root=$(cd "$(dirname "$0")/.." && pwd)
binary=$root/build/default/bin/zuvora

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x800x24" "$0" "$@"
fi
[ -x "$binary" ] || { echo "build first: scripts/run or cmake --build --preset default" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The library file lives beside the executable, so the program runs from a copy.
cp "$binary" "$work/zuvora"
{
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<Zuvora Version="1.0.0">'
  for ((i = 0; i < rows; i++)); do printf '<Zvk>pets\\pet%04d.zvk</Zvk>' "$i"; done
  printf '</Zuvora>'
} > "$work/Zuvora.Dat"

# One X client watches the root window for the library window being mapped; polling with a
# new client every few milliseconds would fill the server's client table over many runs.
# exec: the coprocess is xev itself, so killing its id stops xev, not a wrapper around it.
coproc XEV { exec stdbuf -oL xev -root -event substructure; }
sleep 0.3
times=()
for ((r = 0; r < runs; r++)); do
  start=$(date +%s%N)
  "$work/zuvora" >"$work/log" 2>&1 &
  pid=$!
  while read -r -t 10 line <&"${XEV[0]}"; do
    case $line in MapNotify*) break ;; esac
  done
  end=$(date +%s%N)
  kill -0 "$pid" 2>/dev/null || { echo "zuvora exited early:" >&2; cat "$work/log" >&2; exit 1; }
  kill "$pid"; wait "$pid" 2>/dev/null || true
  times+=($(( (end - start) / 1000000 )))
done
kill "$XEV_PID" 2>/dev/null || true

sorted=($(printf '%s\n' "${times[@]}" | sort -n))
echo "library window shown, $rows rows, $runs runs (ms): ${times[*]}"
echo "median ${sorted[$((runs / 2))]} ms, min ${sorted[0]} ms, max ${sorted[$((runs - 1))]} ms"
