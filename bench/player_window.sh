#!/usr/bin/env bash
# The pet on the desktop, measured on a virtual X display with a window manager:
#  - from "Play" to the first frame on screen, for a package already in the cache (the
#    library's designed 180 ms pause included; the figure beyond it is what counts);
#  - CPU time while Pip plays for 20 s, and resident memory idle (library window only) and
#    while playing, with "Transparent" off and on, one after the other in this run;
#  - several pets: one Zuvora playing 1 and 7 Pips held still, and 1 and 7 roaming, beside
#    the X11 desktop pets Debian packages (oneko, xpenguins with 7 penguins) on the same
#    display, alternating: CPU of the program and of the X server over 30 s, its wake-ups a
#    second, resident and proportional memory; on the plain desktop, then with picom
#    compositing it.
# Needs xvfb-run, openbox, xdotool, xprop, xwininfo, oneko, xpenguins and picom:
#   bench/player_window.sh [SECONDS] [PETS_SECONDS]
set -euo pipefail
seconds=${1:-20}
pets_seconds=${2:-30}
root=$(cd "$(dirname "$0")/.." && pwd)
# ZUVORA_BIN: another build's programs, to compare with.
bin=${ZUVORA_BIN:-$root/build/default/bin}

# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
pet_desktop "$0" "$@"
cp "$bin/zuvora" "$bin/Pip.zvk" "$work/"
printf '<?xml version="1.0" encoding="UTF-8"?><Zuvora Version="1.0.0"><Zvk>Pip.zvk</Zvk></Zuvora>' > "$work/Zuvora.Dat"
export APPDATA=$work/appdata
mkdir -p "$APPDATA"

rss_kib() { awk '/VmRSS/ { print $2 }' "/proc/$1/status"; }
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
pet_shown() { xwininfo -root -tree 2>/dev/null | grep ' 128x128+' >/dev/null; }

main=
play() {
  xdotool mousemove --window "$main" 100 58 click 1
  start=$(date +%s%N)
  xdotool click --repeat 2 --delay 40 1
  until pet_shown; do sleep 0.002; done
  end=$(date +%s%N)
}
sheet_kib=$((128 * 4096 * 4 / 1024))
hz=$(getconf CLK_TCK)
# The X server draws and reshapes the window: its CPU counts too. Its id is in its lock file.
display=${DISPLAY#*:}
xserver=$(tr -d ' ' < "/tmp/.X${display%%.*}-lock" 2>/dev/null || true)
xserver_ticks() { if [ -n "$xserver" ] && [ -r "/proc/$xserver/stat" ]; then cpu_ticks "$xserver"; else echo 0; fi; }
export XDG_CONFIG_HOME=$work/config
mkdir -p "$XDG_CONFIG_HOME/Zuvora"
echo "decoded sheet ${sheet_kib} KiB; limits: CPU 1% of one core, memory idle + $((sheet_kib * 15 / 10)) KiB"
for transparent in false true; do
  [ -n "$pid" ] && { kill "$pid"; wait "$pid" 2>/dev/null || true; }
  # Pip held still: he plays in place, as a pet did before pets roamed.
  printf '[Player]\nTransparent=%s\nHoldStill=true\n' "$transparent" > "$XDG_CONFIG_HOME/Zuvora/Zuvora.conf"
  "$work/zuvora" >"$work/log" 2>&1 &
  pid=$!
  until xdotool search --onlyvisible --name '^Zuvora$' >/dev/null 2>&1; do
    sleep 0.05
    kill -0 "$pid" 2>/dev/null || { echo "zuvora exited early:" >&2; cat "$work/log" >&2; exit 1; }
  done
  sleep 1
  idle=$(rss_kib "$pid")
  main=$(xdotool search --onlyvisible --name '^Zuvora$' | head -1)
  # The first show fills the cache; then Pip plays, and nothing else is touched meanwhile.
  play
  sleep 2
  before=$(cpu_ticks "$pid")
  xbefore=$(xserver_ticks)
  sleep "$seconds"
  after=$(cpu_ticks "$pid")
  xafter=$(xserver_ticks)
  playing=$(rss_kib "$pid")
  awk -v t=$((after - before)) -v x=$((xafter - xbefore)) -v hz="$hz" -v s="$seconds" -v mode="$transparent" \
    -v idle="$idle" -v playing="$playing" \
    'BEGIN { printf "Transparent=%-5s CPU while playing %d s: %.2f%% of one core (X server %.2f%%); resident memory idle %d KiB, playing %d KiB (+%d KiB)\n", mode, s, 100 * t / hz / s, 100 * x / hz / s, idle, playing, playing - idle }'
done

# Close the pet through its menu and play it again, from the cache, five times.
times=()
for run in 1 2 3 4 5; do
  pet=$(xwininfo -root -tree | awk '/ 128x128\+/ && !found { print $1; found = 1 }')
  xdotool mousemove --window "$pet" 64 64 click 3 sleep 0.3 key Down Return
  while pet_shown; do sleep 0.02; done
  sleep 0.3
  play
  times+=($(( (end - start) / 1000000 )))
  sleep 0.5
done
sorted=($(printf '%s\n' "${times[@]}" | sort -n))
echo "Play to first frame, cached package (ms, 180 ms pause included): ${times[*]}; median ${sorted[2]}"
kill "$pid"
wait "$pid" 2>/dev/null || true
pid=

# Several pets, each program started alone, settled for 3 s, then measured: its CPU and the
# X server's, its memory at the end, and how often its threads woke (voluntary context
# switches of all its threads, per second). Once on the plain desktop and once with picom
# compositing it.
smaps_kib() { awk -v key="$2:" '$1 == key { print $2 }' "/proc/$1/smaps_rollup"; }
wakeups() { cat /proc/"$1"/task/*/status 2>/dev/null | awk '/^voluntary_ctxt_switches/ { n += $2 } END { print n + 0 }'; }
measure() {
  local label=$1
  shift
  "$@" >"$work/log" 2>&1 &
  pid=$!
  sleep 3
  kill -0 "$pid" 2>/dev/null || { echo "$label exited early:" >&2; cat "$work/log" >&2; exit 1; }
  local before xbefore wbefore after xafter wafter
  before=$(cpu_ticks "$pid")
  xbefore=$(xserver_ticks)
  wbefore=$(wakeups "$pid")
  sleep "$pets_seconds"
  after=$(cpu_ticks "$pid")
  xafter=$(xserver_ticks)
  wafter=$(wakeups "$pid")
  awk -v t=$((after - before)) -v x=$((xafter - xbefore)) -v w=$((wafter - wbefore)) -v hz="$hz" -v s="$pets_seconds" \
    -v label="$label" -v rss="$(smaps_kib "$pid" Rss)" -v pss="$(smaps_kib "$pid" Pss)" \
    'BEGIN { printf "| %-28s | %5.2f%% | %5.2f%% | %6.1f | %6.1f MiB | %6.1f MiB |\n", label, 100 * t / hz / s, 100 * x / hz / s, w / s, rss / 1024, pss / 1024 }'
  kill "$pid"
  wait "$pid" 2>/dev/null || true
  pid=
}
# Pips held still play in place; roaming ones move their windows every frame.
hold_still() { printf '[Player]\nTransparent=true\nHoldStill=%s\n' "$1" > "$XDG_CONFIG_HOME/Zuvora/Zuvora.conf"; }
# Pets of one package path are one pet: each of the seven is a copy under its own name.
pips() { local n=$1 i; for i in $(seq "$n"); do cp "$work/Pip.zvk" "$work/Pip$i.zvk"; printf '%s ' "$work/Pip$i.zvk"; done; }
compositor=
for desktop in plain picom; do
  if [ "$desktop" = picom ]; then
    command -v picom >/dev/null || { echo "picom is not installed: no composited run"; break; }
    picom --backend xrender >/dev/null 2>&1 &
    compositor=$!
    sleep 2
  fi
  echo
  echo "Several pets on the $desktop desktop, ${pets_seconds} s each (CPU as a share of one core; memory at the end):"
  echo "| program                      | CPU    | X server | wake-ups/s | resident   | proportional |"
  echo "|------------------------------|--------|----------|------------|------------|--------------|"
  hold_still true
  # shellcheck disable=SC2046
  measure "zuvora, 1 Pip" "$work/zuvora" $(pips 1)
  measure "oneko" /usr/games/oneko
  # shellcheck disable=SC2046
  measure "zuvora, 7 Pips" "$work/zuvora" $(pips 7)
  measure "xpenguins, 7 penguins" xpenguins -q -n 7
  hold_still false
  # shellcheck disable=SC2046
  measure "zuvora, 1 roaming Pip" "$work/zuvora" $(pips 1)
  # shellcheck disable=SC2046
  measure "zuvora, 7 roaming Pips" "$work/zuvora" $(pips 7)
done
[ -n "$compositor" ] && kill "$compositor"
