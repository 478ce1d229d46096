#!/usr/bin/env bash
# Pets brought back at the desktop's start: `zuvora --restore` with the 7 Pips of the last
# run, from the start to the last pet's first frame, beside the same 7 Pips given on the
# command line. On a virtual X display with a window manager.
# Needs xvfb-run, openbox, xprop and xwininfo:  bench/restore.sh [RUNS]
set -euo pipefail
runs=${1:-5}
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/default/bin
# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
pet_desktop "$0" "$@"
cp "$bin/zuvora" "$bin/Pip.zvk" "$work/"
export APPDATA=$work/appdata XDG_CONFIG_HOME=$work/config
mkdir -p "$APPDATA"
pips=()
for _ in 1 2 3 4 5 6 7; do pips+=("$work/Pip.zvk"); done

# A pet has drawn its first frame once its window has Pip's size (it starts larger).
pets_drawn() { xwininfo -root -tree 2>/dev/null | grep -c ' 128x128+' || true; }
# Runs zuvora with the arguments until 7 pets have drawn; the time in ms. Ends it with
# SIGTERM, which closes it as the session's end would, keeping the pets for --restore.
timed_start() {
  local start end
  start=$(date +%s%N)
  "$work/zuvora" "$@" >"$work/log" 2>&1 &
  pid=$!
  until [ "$(pets_drawn)" -ge 7 ]; do
    kill -0 "$pid" 2>/dev/null || { echo "zuvora exited early:" >&2; cat "$work/log" >&2; exit 1; }
    sleep 0.005
  done
  end=$(date +%s%N)
  kill -TERM "$pid"
  wait "$pid" 2>/dev/null || true
  pid=
  echo $(( (end - start) / 1000000 ))
}
median() { printf '%s\n' "$@" | sort -n | awk '{ t[NR] = $1 } END { print t[int((NR + 1) / 2)] }'; }

timed_start "${pips[@]}" >/dev/null  # fills the cache and the library
given=()
restored=()
for _ in $(seq "$runs"); do
  given+=("$(timed_start "${pips[@]}")")
  # Each pet's kept size would let it start at Pip's size: forget it, so that the first
  # frame shows.
  sed -i '/\\Place=/d' "$work/config/Zuvora/Zuvora.conf"
  restored+=("$(timed_start --restore)")
done
echo "7 Pips from the start to the last one's first frame (ms):"
echo "  given on the command line: ${given[*]}; median $(median "${given[@]}")"
echo "  --restore:                 ${restored[*]}; median $(median "${restored[@]}")"
