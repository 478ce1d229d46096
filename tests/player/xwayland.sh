#!/bin/bash
# The pet as an X window through XWayland, in a headless Wayland compositor; skipped (77)
# where the compositor or XWayland cannot start.
#   xwayland.sh sway ZUVORA PACKAGE LAYER_PROBE VIRTUAL_POINTER
#                                                 on sway: placed, see-through; and, the pet
#                                                 a layer surface, its menu at the pointer
#   xwayland.sh mutter ZUVORA PACKAGE             on mutter: placed, and above after another
#                                                 window is activated
set -uo pipefail
compositor=$1 zuvora=$2 package=$3
failures=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1"; failures=$((failures + 1)); fi; }
# The pet at the first place, 412,207, kept there from a last run. The package: Pip as he
# was before he roamed, whose first frame is 128x128, clear in its corners, solid in the middle.
home=$(mktemp -d)
chmod 755 "$home"
cp "$zuvora" "$home/"
cp "$package" "$home/pet.zvk"
source "$(dirname "$0")/pet_place.sh"
keep_pet_place "$home/config" "$home/pet.zvk" 412 207 128 128
# play PLATFORM [PREFIX...]: starts Zuvora on the X server, its pets on PLATFORM, through
# PREFIX; sets pet.
play() {
  local platform=$1
  shift
  "$@" env QT_QPA_PLATFORM=xcb APPDATA="$home/appdata" XDG_CONFIG_HOME="$home/config" HOME="$home" \
    "$home/$(basename "$zuvora")" --platform "$platform" "$home/pet.zvk" >"$home/log" 2>&1 &
  pet=$!
}

if [ "$compositor" = sway ]; then
  probe=$4 pointer=$5
  command -v Xwayland >/dev/null || { echo "skipped: XWayland is not installed"; exit 77; }
  source "$(dirname "$0")/../support/sway_session.sh"
  # The library window goes to another workspace, leaving the background behind the pet.
  sway_start 'xwayland enable
for_window [title="^Zuvora$"] move container to workspace 2
exec env >$XDG_RUNTIME_DIR/env' >"$home/why" || { echo "skipped: $(cat "$home/why")"; rm -rf "$home"; exit 77; }
  trap 'sway_stop; rm -rf "$home"' EXIT
  for _ in $(seq 50); do grep -q '^DISPLAY=' "$sway_run/env" 2>/dev/null && break; sleep 0.1; done
  display=$(sed -n 's/^DISPLAY=//p' "$sway_run/env")
  [ -n "$display" ] || { echo "skipped: sway started no XWayland"; exit 77; }
  chown -R "${sway_user:-$(id -u)}" "$home"
  pixel() { [ "$("$probe" pixel "$home/shot.png" "$1" "$2")" = "$3" ]; }
  # Screenshots until the pet's body shows at its place (a sanitizer build takes its time).
  body_shown() {
    for _ in $(seq 40); do
      sway_shot "$home/shot.png" && pixel 476 277 '255 214 64' && return 0
      sleep 0.5
    done
    return 1
  }
  play x11 as_sway_user env DISPLAY="$display"
  body_shown
  check "the pet's corner is see-through" "pixel 414 209 '51 102 153'"
  check "the pet's body at its place" "pixel 476 277 '255 214 64'"
  check "nothing left of or above its place" "pixel 410 277 '51 102 153' && pixel 476 205 '51 102 153'"
  kill "$pet"
  wait "$pet"
  # As most sway users will have it: Qt on XWayland, the pet a layer surface. A right click
  # on it opens its menu, an X popup, which sway draws under layer surfaces: at the pointer's
  # height, right of the pet (which ends at x 539).
  play layer-shell as_sway_user env DISPLAY="$display"
  body_shown
  as_sway_user "$pointer" 1280 720 476,277 rdown rup wait:1000
  sway_shot "$home/shot.png"
  drawn() { "$probe" drawn "$home/shot.png" "$@"; }
  check "the menu opens beside the pet" "[ \$(drawn 541 280 60 60) = 3600 ]"
  check "nothing opens elsewhere" "[ \$(drawn 0 500 1280 220) = 0 ]"
  kill "$pet"
  wait "$pet"
  [ "$failures" -eq 0 ]
  exit
fi

# mutter runs the checks as its own child, which gets the display's names.
if [ "${4:-}" != --inside ]; then
  command -v mutter >/dev/null && command -v dbus-run-session >/dev/null && command -v Xwayland >/dev/null ||
    { echo "skipped: mutter, dbus-run-session or XWayland is not installed"; rm -rf "$home"; exit 77; }
  run=$(mktemp -d)
  chmod 700 "$run"
  XDG_RUNTIME_DIR=$run timeout 60 dbus-run-session -- mutter --wayland --headless --virtual-monitor 1280x720 \
    --wayland-display zuvora-test -- bash "$0" mutter "$zuvora" "$package" --inside 2>"$run/mutter.log"
  result=$?
  [ "$result" = 77 ] || [ "$result" = 0 ] || { echo "ended with $result; the end of mutter's log:"; tail -5 "$run/mutter.log"; }
  rm -rf "$run" "$home"
  exit "$result"
fi
[ -n "${DISPLAY:-}" ] || { echo "skipped: mutter started no XWayland"; exit 77; }
play x11
trap 'kill "$pet" 2>/dev/null; wait "$pet" 2>/dev/null; rm -rf "$home"' EXIT
window=
for _ in $(seq 100); do
  window=$(xdotool search --onlyvisible --name '^pet$' 2>/dev/null | head -1) && [ -n "$window" ] && break
  sleep 0.1
done
[ -n "$window" ] || { echo "FAILED: no pet window:"; cat "$home/log"; exit 1; }
sleep 1
eval "$(xdotool getwindowgeometry --shell "$window")"
check "the pet at its place ($X,$Y)" "[ '$X,$Y' = 412,207 ]"
# Another window activated: the pet stays above it.
xmessage -geometry 600x400+300+150 other >/dev/null 2>&1 &
other=$!
until other_window=$(xdotool search --onlyvisible --name '^xmessage$' 2>/dev/null | head -1) && [ -n "$other_window" ]; do
  sleep 0.05
done
wmctrl -i -a "$other_window"
sleep 1
active=$(xprop -root _NET_ACTIVE_WINDOW | sed 's/.*# //')
top=$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/.*# //; s/,//g' | tr ' ' '\n' | tail -1)
check "another window activated" "[ \$(( $active )) = $other_window ]"
check "the pet stays above it" "[ \$(( $top )) = $window ]"
kill "$other"
[ "$failures" -eq 0 ]
