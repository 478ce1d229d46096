#!/usr/bin/env bash
# One roaming pet on a busy X desktop (a virtual display with openbox), each desktop in turn in
# this run:
#  - one window moved 30 times a second, alone and among others (30, 100, 200 and 1,000
#    windows in all): CPU of Zuvora, and of the X server with it and without it (the desktop
#    alone, before and after), over SECONDS each (20: two rounds of the moved window, whose cost to the X
#    server depends on what it passes over); the ratios to the window alone;
#  - _NET_CLIENT_LIST_STACKING rewritten 10 times a second with 100,000 ids of no window;
#  - on each, how long the pet's moves pause: the pet walks the screen's bottom a step every
#    80 ms, and its moves are timed as its window manager tells them to the pet's window
#    (busy_desktop watch, on its own connection): the usual gap between two moves; the
#    longest, less the 80 ms step, is the longest pause; and how many pauses were longer
#    than 60 ms. The lone window's row is the floor the machine's own load sets.
# Needs xvfb-run, openbox, xdotool, xprop; the benchmarks built (bench/busy_desktop).
#   bench/busy_desktop.sh [SECONDS [DESKTOP...]]
# DESKTOP: a number of windows, or "ids"; by default 1 30 100 200 1000 ids. The first one is
# what the others' ratios are to. On a machine shared with other work, `nice -n -10` before
# it keeps their load out of the pauses.
# ZUVORA_BIN: another build's programs (zuvora, zvk, Pip.zvk), to compare with.
set -euo pipefail
seconds=${1:-20}
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${ZUVORA_BIN:-$root/build/default/bin}
desk=$root/build/default/bin/busy_desktop

# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
pet_desktop "$0" "$@"
[ -x "$desk" ] || { echo "build the benchmarks first: cmake --build --preset default" >&2; exit 1; }
cp "$bin/zuvora" "$work/"
export APPDATA=$work/appdata XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run QT_QPA_PLATFORM=xcb
mkdir -p "$APPDATA" "$XDG_CONFIG_HOME/Zuvora" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
# The pet: one 24x16 frame walking 4 px a step, and nothing else, so it moves every step.
base64 -d >"$work/f.png" <<<'iVBORw0KGgoAAAANSUhEUgAAABgAAAAQAQMAAAA26i3WAAAABGdBTUEAALGPC/xhBQAAACBjSFJNAAB6JgAAgIQAAPoAAACA6AAAdTAAAOpgAAA6mAAAF3CculE8AAAABlBMVEUggED///+Ih3JEAAAAAWJLR0QB/wIt3gAAAAxJREFUCNdjYKAMAAAAQAABZhdjsAAAAABJRU5ErkJggg=='
"$bin/zvk" import "$work/f.png" "$work/w.zvp" --action Walk --role walk --move 4,0 >/dev/null
"$bin/zvk" build "$work/w.zvp" "$work/Walker.zvk" >/dev/null
printf '[Player]\nHoldStill=false\n' >"$XDG_CONFIG_HOME/Zuvora/Zuvora.conf"
# shellcheck source=tests/player/pet_place.sh
source "$root/tests/player/pet_place.sh"
# On the screen's bottom, below every window of the busy desktop.
keep_pet_place "$XDG_CONFIG_HOME" "$work/Walker.zvk" 628 784 24 16

hz=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
display=${DISPLAY#*:}
xserver=$(tr -d ' ' <"/tmp/.X${display%%.*}-lock" 2>/dev/null || true)
[ -n "$xserver" ] && [ -r "/proc/$xserver/stat" ] || { echo "cannot find the X server's process" >&2; exit 1; }
share() { awk -v t="$1" -v hz="$hz" -v s="$seconds" 'BEGIN { printf "%.2f", 100 * t / hz / s }'; }

helper= zuvora= watch=
stop_all() {
  local id
  for id in $watch $zuvora $helper; do kill "$id" 2>/dev/null || true; wait "$id" 2>/dev/null || true; done
  helper= zuvora= watch=
}
trap 'stop_all; kill $wm 2>/dev/null; rm -rf "$work"' EXIT
ready() { for _ in $(seq 1200); do grep -q ready "$1" 2>/dev/null && return 0; sleep 0.05; done; echo "no start: $1" >&2; exit 1; }

# scene LABEL HELPER_ARGS...: one row of the table.
base_cpu=
scene() {
  local label=$1 x0 x1 z0 z1 alone with
  shift
  "$desk" "$@" >"$work/helper" 2>&1 &
  helper=$!
  ready "$work/helper"
  # The window manager takes the windows in, then the desktop settles.
  if [ "$1" = windows ]; then
    until [ "$(xprop -root _NET_CLIENT_LIST | tr ',' '\n' | grep -c 0x)" -ge "$2" ]; do sleep 0.2; done
  fi
  sleep 2
  x0=$(cpu_ticks "$xserver")
  sleep "$seconds"
  alone=$(( $(cpu_ticks "$xserver") - x0 ))
  "$work/zuvora" "$work/Walker.zvk" >"$work/log" 2>&1 &
  zuvora=$!
  sleep 3  # it comes, lands and walks
  "$desk" watch Walker "$seconds" 80 >"$work/watch" 2>&1 &
  watch=$!
  ready "$work/watch"
  z0=$(cpu_ticks "$zuvora")
  x0=$(cpu_ticks "$xserver")
  sleep "$seconds"
  z1=$(cpu_ticks "$zuvora")
  x1=$(cpu_ticks "$xserver")
  wait "$watch" || { echo "the watch failed:" >&2; cat "$work/watch" "$work/log" >&2; exit 1; }
  watch=
  with=$((x1 - x0))
  # The desktop alone once more, after: its own cost drifts as the window manager settles.
  kill "$zuvora"
  wait "$zuvora" 2>/dev/null || true
  zuvora=
  sleep 1
  x0=$(cpu_ticks "$xserver")
  sleep "$seconds"
  alone=$(( (alone + $(cpu_ticks "$xserver") - x0) / 2 ))
  [ -n "$base_cpu" ] || base_cpu=$((z1 - z0))
  read -r _ moves _ step _ longest _ late < <(tail -n 1 "$work/watch")
  awk -v label="$label" -v z=$((z1 - z0)) -v alone="$alone" -v with="$with" -v bz="$base_cpu" \
    -v hz="$hz" -v s="$seconds" -v moves="$moves" -v step="$step" -v longest="$longest" -v late="$late" '
    function pc(t) { return 100 * t / hz / s }
    function times(a, b) { return b > 0 ? sprintf("%6.2fx", a / b) : "      -" }
    BEGIN { printf "| %-31s | %6.2f%% | %s | %6.2f%% | %6.2f%% | %6.2f%% | %5d | %7.1f ms | %10.1f ms | %7d |\n",
            label, pc(z), times(z, bz), pc(alone), pc(with), pc(with - alone), moves, step, longest - 80, late }'
  stop_all
}

echo "Zuvora $bin/zuvora, one roaming pet; $seconds s a desktop. CPU as a share of one core: Zuvora's;"
echo "the X server's with the desktop alone, with Zuvora too, and the difference (X for Z: small"
echo "beside the desktop's own, it is within the noise of a few ticks)."

echo "| desktop                         | Zuvora  | x alone | X alone | X with  | X for Z | moves | usual step | longest pause | > 60 ms |"
echo "|---------------------------------|---------|---------|---------|---------|---------|-------|------------|---------------|---------|"
desktops=("${@:2}")
[ ${#desktops[@]} -gt 0 ] || desktops=(1 30 100 200 1000 ids)
for n in "${desktops[@]}"; do
  case $n in
    ids) scene "100,000 ids of no window, 10/s" stacking 100000 ;;
    1) scene "one window moved, alone" windows 1 ;;
    *) scene "one window moved among $n" windows "$n" ;;
  esac
done
