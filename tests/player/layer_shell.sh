#!/bin/bash
# A layer-shell surface on a headless sway: placed to the pixel by its margins, and
# see-through where its picture is clear; and Zuvora's pet drawn as one. Skipped (77) where
# sway cannot start.
# Usage: layer_shell.sh LAYER_PROBE VIRTUAL_POINTER ZUVORA PACKAGE ROAMING_PACKAGE
# (the first package plays in place)
set -uo pipefail
probe=$1 pointer=$2 zuvora=$3 package=$4 roaming=$5
source "$(dirname "$0")/../support/sway_session.sh"
scratch=$(mktemp -d)
chmod 755 "$scratch"
# Two outputs, the second right of the first: the pictures below are on the first.
SWAY_OUTPUTS=2 sway_start 'for_window [app_id="layer_probe"] floating enable, move position 400 200
output HEADLESS-1 position 0 0
output HEADLESS-2 position 1280 0' >"$scratch/why" || { echo "skipped: $(cat "$scratch/why")"; rm -rf "$scratch"; exit 77; }
trap 'sway_stop; rm -rf "$scratch"' EXIT
"$probe" make "$scratch/half.png" || exit 1
as_sway_user "$probe" show "$scratch/half.png" 200 100 3000 &
shown=$!
sleep 1.5
shot=$scratch/shot.png
sway_shot "$shot" || { echo "no screenshot"; exit 1; }
failures=0
check() { local got; got=$("$probe" pixel "$shot" "$2" "$3"); if [ "$got" = "$4" ]; then echo "ok: $1"; else echo "FAILED: $1 ($got, not $4)" >&2; failures=$((failures + 1)); fi; }
check "the picture's opaque half at its place" 210 110 "255 0 0"
check "its clear half shows the background" 250 110 "51 102 153"
check "nothing left of its place" 195 110 "51 102 153"
check "nothing above its place" 210 95 "51 102 153"
wait "$shown"
# On the second output, placed by its margins from that output's corner.
as_sway_user "$probe" show "$scratch/half.png" 1480 100 3000 &
shown=$!
sleep 1.5
sway_shot "$shot"
check "on the second output, at its place" 1490 110 "255 0 0"
check "not on the first output" 210 110 "51 102 153"
wait "$shown"

# Zuvora, its windows on Qt's offscreen platform, its pet a layer surface: the first frame
# at the first place (412,207), kept there from a last run, see-through around the creature.
home=$scratch/home
mkdir -p "$home"
cp "$zuvora" "$home/"
cp "$package" "$home/still.zvk"
cp "$roaming" "$home/roaming.zvk"
source "$(dirname "$0")/pet_place.sh"
keep_pet_place "$home/config" "$home/still.zvk" 412 207 128 128
chown -R "${sway_user:-$(id -u)}" "$home"
play() {
  as_sway_user env QT_QPA_PLATFORM=offscreen APPDATA="$home/appdata" XDG_CONFIG_HOME="$home/config" HOME="$home" \
    "$home/$(basename "$zuvora")" --platform layer-shell "$home/$1" >"$home/log" 2>&1 &
  pet=$!
  sleep "$2"
  shot=$scratch/$1.png
  sway_shot "$shot" || { echo "no screenshot"; exit 1; }
}
stop() { kill "$pet"; wait "$pet" 2>/dev/null; }
play still.zvk 3
check "the pet's corner is see-through" 414 209 "51 102 153"
check "the pet's body at its place" 476 277 "255 214 64"
# Dragged by its body 200 px right and 100 down, it follows the pointer; and it comes back
# there when Zuvora starts again.
as_sway_user "$pointer" 2560 720 476,277 down 676,377 up wait:300
shot=$scratch/dragged.png
sway_shot "$shot"
check "dragged: the pet's body where the pointer let go" 676 377 "255 214 64"
check "dragged: its old place empty" 476 277 "51 102 153"
# A click on a clear pixel of the pet reaches the surface below it; one on the creature
# does not.
as_sway_user "$probe" listen 500 200 500 400 4000 >"$scratch/clicks" &
listener=$!
sleep 1
as_sway_user "$pointer" 2560 720 614,309 down up 676,377 down up wait:300
wait "$listener"
if grep -qx "click 614 309" "$scratch/clicks" && ! grep -q "click 676 377" "$scratch/clicks"; then
  echo "ok: a click beside the creature reaches the window below, one on it does not"
else
  echo "FAILED: clicks below the pet: $(tr '\n' ';' <"$scratch/clicks")" >&2
  failures=$((failures + 1))
fi
stop
play still.zvk 3
check "started again: the pet where it was left" 676 377 "255 214 64"
# A focused floating window does not cover the pet; a fullscreen window does, unless the
# pets are to stay above those too.
# over_window KIND NAME COLOUR: what shows at the pet's body with a window of KIND up.
over_window() {
  as_sway_user "$probe" "$1" 3000 &
  local window=$!
  sleep 1
  shot=$scratch/$1.png
  sway_shot "$shot"
  check "$2" 676 377 "$3"
  wait "$window"
}
over_window window "a focused floating window under the pet" "255 214 64"
check "the floating window beside it" 1000 600 "0 192 0"
over_window fullscreen "a fullscreen window covers the pet" "0 192 0"
stop
printf '\n[Player]\nAboveFullscreen=true\n' >>"$home/config/Zuvora/Zuvora.conf"
play still.zvk 3
over_window fullscreen "Stay Above Fullscreen Windows: the pet over a fullscreen window" "255 214 64"
stop
# A roaming pet falls from where it started to the bottom of the output (1280x720).
play roaming.zvk 5
drawn() { local got; got=$("$probe" drawn "$shot" "$2" "$3" "$4" "$5"); if [ "$got" "$6" "$7" ]; then echo "ok: $1"; else echo "FAILED: $1 ($got pixels)" >&2; failures=$((failures + 1)); fi; }
drawn "roaming: nothing left in the air" 0 0 1280 560 -eq 0
drawn "roaming: the pet on the output's bottom" 0 600 1280 120 -gt 1000
# The compositor gone, as at a session's end, Zuvora ends as when told to.
kill "$sway_pid"
for _ in $(seq 50); do kill -0 "$pet" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pet" 2>/dev/null; then
  echo "FAILED: Zuvora still runs with its compositor gone" >&2
  failures=$((failures + 1))
  stop
elif wait "$pet"; then
  echo "ok: Zuvora ends with its compositor"
else
  echo "FAILED: Zuvora ended with its compositor, but with status $?: $(cat "$home/log")" >&2
  failures=$((failures + 1))
fi
[ "$failures" -eq 0 ]
