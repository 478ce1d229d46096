#!/bin/bash
# The pet's window on a real X server (Xvfb with openbox), without a compositor and with
# picom: without one the window's bounding shape leaves the see-through pixels out; with one
# the window has an alpha channel and no bounding shape. In both, a pointer over a
# see-through pixel is over the window below, and over the creature it is over the pet;
# another program's text selection changes nothing; and a compositor starting while the pet
# plays takes over from the bounding shape. A roaming pet stands on other windows, wherever
# they go, whichever process they claim to be.
# Usage: pet_window_x11.sh ZUVORA PIP_PACKAGE
set -euo pipefail
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 800x600x24" "$0" "$@"
fi
program=$1 package=$2
scratch=$(mktemp -d)
export APPDATA=$scratch/appdata XDG_CONFIG_HOME=$scratch/config XDG_RUNTIME_DIR=$scratch/run
# The X server here, whatever platform the other tests choose.
export QT_QPA_PLATFORM=xcb
mkdir -p "$APPDATA" "$XDG_CONFIG_HOME/Zuvora" "$XDG_RUNTIME_DIR"
# Pip roams: held still, he comes down and rests in place, where his shape can be looked at.
printf '[Player]\nHoldStill=true\n' >"$XDG_CONFIG_HOME/Zuvora/Zuvora.conf"
chmod 700 "$XDG_RUNTIME_DIR"
cp "$program" "$package" "$scratch/"
started=()
stop() { for id in "${started[@]}"; do kill "$id" 2>/dev/null || true; wait "$id" 2>/dev/null || true; done; started=(); }
trap 'stop; rm -rf "$scratch"' EXIT
openbox >/dev/null 2>&1 &
wm=$!
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do sleep 0.05; done

failures=0
check() { if eval "$2"; then echo "ok: $1"; else echo "FAILED: $1" >&2; failures=$((failures + 1)); fi; }
# The child of the root window that holds `window` (the window manager's frame, if any).
toplevel() {
  local window=$1 parent
  while parent=$(xwininfo -id "$window" -tree | awk '/Parent window id:/ { print $4 }') && [ -n "$parent" ] &&
      ! xwininfo -id "$parent" | grep -q '(the root window)'; do
    window=$parent
  done
  printf '%d' "$window"
}
under_pointer() { xdotool mousemove "$1" "$2" sleep 0.2; eval "$(xdotool getmouselocation --shell)"; echo "$WINDOW"; }

for desktop in plain composited; do
  started=()
  if [ "$desktop" = composited ]; then
    picom --backend xrender >/dev/null 2>&1 &
    started+=($!)
    sleep 1.5  # picom takes the compositor's selection
  fi
  "$scratch/zuvora" "$scratch/Pip.zvk" >"$scratch/log" 2>&1 &
  started+=($!)
  pet=
  for _ in $(seq 100); do
    pet=$(xdotool search --onlyvisible --name '^Pip$' 2>/dev/null | head -1 || true)
    [ -n "$pet" ] && break
    sleep 0.1
  done
  [ -n "$pet" ] || { echo "no pet window ($desktop):" >&2; cat "$scratch/log" >&2; exit 1; }
  sleep 1.5
  eval "$(xdotool getwindowgeometry --shell "$pet")"
  info=$(xwininfo -id "$pet")
  shape=$(xwininfo -id "$pet" -shape)
  if [ "$desktop" = plain ]; then
    check "plain: the bounding shape leaves the see-through pixels out" "grep -q 'Window shape extents' <<<\"\$shape\""
  else
    check "composited: a window with an alpha channel" "grep -q 'Depth: 32' <<<\"\$info\""
    check "composited: no bounding shape" "grep -q 'No window shape defined' <<<\"\$shape\""
  fi
  # Another program's text selection, taken and let go, is no compositor coming or going.
  kept_shape=$(grep -o -e 'Window shape extents' -e 'No window shape defined' <<<"$shape")
  echo pet | xclip -i -selection primary -quiet >/dev/null 2>&1 &
  selection=$!
  sleep 0.5
  check "$desktop: a text selection taken elsewhere leaves the pet's shape as it was" "xwininfo -id $pet -shape | grep -q '$kept_shape'"
  kill "$selection"
  wait "$selection" 2>/dev/null || true
  sleep 0.5
  check "$desktop: the selection let go, the pet's shape is still as it was" "xwininfo -id $pet -shape | grep -q '$kept_shape'"
  frame=$(toplevel "$pet")
  # Pip's frames are see-through in their corners and solid in the middle.
  check "$desktop: a see-through pixel lets the pointer through" "[ \"\$(under_pointer $((X + 2)) $((Y + 2)))\" != \"$frame\" ]"
  check "$desktop: the creature takes the pointer" "[ \"\$(under_pointer $((X + 64)) $((Y + 70)))\" = \"$frame\" ]"
  if [ "$desktop" = plain ]; then
    # A compositor that starts while the pet plays takes over from the bounding shape.
    picom --backend xrender >/dev/null 2>&1 &
    started+=($!)
    gone() { for _ in $(seq 30); do xwininfo -id "$pet" -shape | grep -q 'No window shape defined' && return 0; sleep 0.1; done; return 1; }
    check "plain: a compositor starting while the pet plays takes over from the bounding shape" gone
  fi
  stop
done
# While a fullscreen window is active the pet hides, and comes back when it is no longer
# fullscreen; unless pets are to stay above fullscreen windows.
pip_shown() {
  local shown
  for _ in $(seq 30); do
    shown=false
    xdotool search --onlyvisible --name '^Pip$' >/dev/null 2>&1 && shown=true
    [ "$shown" = "$1" ] && return 0
    sleep 0.1
  done
  return 1
}
xmessage -geometry 300x60+100+100 game >/dev/null 2>&1 &
started=($!)
until game=$(xdotool search --onlyvisible --name '^xmessage$' 2>/dev/null | head -1) && [ -n "$game" ]; do sleep 0.05; done
# The window that has the keyboard keeps it whatever pets do.
active_window() { xprop -root _NET_ACTIVE_WINDOW | awk '{ print $NF }'; }
keeps_focus() { sleep 0.5; [ "$(active_window)" = "$1" ]; }
for above in false true; do
  printf '[Player]\nHoldStill=true\nAboveFullscreen=%s\n' "$above" >"$XDG_CONFIG_HOME/Zuvora/Zuvora.conf"
  # The library window comes first and may take the keyboard; the pet comes from a later
  # start, as from a file manager, with another window chosen meanwhile.
  "$scratch/zuvora" >"$scratch/log" 2>&1 &
  zuvora=$!
  until xdotool search --onlyvisible --name '^Zuvora$' >/dev/null 2>&1; do sleep 0.05; done
  wmctrl -i -a "$game"
  until focused=$(active_window) && [ "$((focused))" = "$game" ]; do sleep 0.05; done
  "$scratch/zuvora" "$scratch/Pip.zvk" >/dev/null 2>&1
  check "fullscreen: the pet shows first" "pip_shown true"
  check "focus: a pet that appears leaves the keyboard where it was" "keeps_focus $focused"
  wmctrl -i -r "$game" -b add,fullscreen
  wmctrl -i -a "$game"
  if [ "$above" = false ]; then
    check "fullscreen: the pet hides while a fullscreen window is active" "pip_shown false"
    wmctrl -i -r "$game" -b remove,fullscreen
    check "fullscreen: it comes back when that window is no longer fullscreen" "pip_shown true"
    check "focus: a pet that comes back after fullscreen leaves the keyboard where it was" "keeps_focus $focused"
  else
    sleep 1
    check "fullscreen: staying above fullscreen windows, the pet shows" "pip_shown true"
    wmctrl -i -r "$game" -b remove,fullscreen
  fi
  kill "$zuvora"
  wait "$zuvora" || true
done
stop
# A roaming pet dropped above another program's window lands on its top edge, and falls to
# the bottom of the screen when that window closes. The pet: one 24x16 frame that walks on
# the spot, so it stays where it lands.
base64 -d >"$scratch/f.png" <<<'iVBORw0KGgoAAAANSUhEUgAAABgAAAAQAQMAAAA26i3WAAAABGdBTUEAALGPC/xhBQAAACBjSFJNAAB6JgAAgIQAAPoAAACA6AAAdTAAAOpgAAA6mAAAF3CculE8AAAABlBMVEUggED///+Ih3JEAAAAAWJLR0QB/wIt3gAAAAxJREFUCNdjYKAMAAAAQAABZhdjsAAAAABJRU5ErkJggg=='
zvk=$(dirname "$program")/zvk
"$zvk" import "$scratch/f.png" "$scratch/r.zvp" --action Stand --role walk --move 0,0 >/dev/null
"$zvk" build "$scratch/r.zvp" "$scratch/Roamer.zvk" >/dev/null
printf '[Player]\nHoldStill=false\n' >"$XDG_CONFIG_HOME/Zuvora/Zuvora.conf"
source "$(dirname "$0")/pet_place.sh"
keep_pet_place "$XDG_CONFIG_HOME" "$scratch/Roamer.zvk" 676 300 24 16
# Below where the pet's foot starts (x 688, y 316, kept from a last run), wholly on the 800x600
# screen: openbox would move a window partly off it that changes size.
xmessage -geometry 300x60+540+400 ledge >/dev/null 2>&1 &
ledge=$!
started=($ledge)
until xdotool search --onlyvisible --name '^xmessage$' >/dev/null 2>&1; do sleep 0.05; done
ledge_top=$(xwininfo -id "$(toplevel "$(xdotool search --onlyvisible --name '^xmessage$' | head -1)")" |
  awk '/Absolute upper-left Y/ { print $4 }')
"$scratch/zuvora" "$scratch/Roamer.zvk" >"$scratch/log" 2>&1 &
started+=($!)
pet_bottom() {
  local pet
  pet=$(xdotool search --onlyvisible --name '^Roamer$' 2>/dev/null | head -1) || return 1
  [ -n "$pet" ] || return 1
  eval "$(xdotool getwindowgeometry --shell "$pet")"
  echo $((Y + HEIGHT))
}
stands_at() { for _ in $(seq 50); do [ "$(pet_bottom)" = "$1" ] && return 0; sleep 0.1; done; return 1; }
check "roaming: the pet lands on the top of the window below it" "stands_at $ledge_top"
# Moved, the window's manager tells it its new place; resized, the X server tells it its size
# and its place in its frame: the pet stands on it wherever it goes.
frame_top() { xwininfo -id "$(toplevel "$1")" | awk '/Absolute upper-left Y/ { print $4 }'; }
ledge_window=$(xdotool search --onlyvisible --name '^xmessage$' | head -1)
xdotool windowmove "$ledge_window" 500 450
for _ in $(seq 50); do [ "$(frame_top "$ledge_window")" != "$ledge_top" ] && break; sleep 0.1; done
moved_top=$(frame_top "$ledge_window")
check "roaming: the window moved down, the pet comes down onto its new top" "[ $moved_top -gt $ledge_top ] && stands_at $moved_top"
xdotool windowsize "$ledge_window" 250 80
sleep 1  # long enough to fall, were its top lost
check "roaming: the window resized, the pet stays on it" "stands_at $moved_top"
kill "$ledge"
check "roaming: the window gone, it falls to the bottom of the screen" "stands_at 600"
stop
# A window that claims Zuvora's process id in _NET_WM_PID (another machine's program under
# ssh -X, another container's) is another program's, and holds the pet up. The id is the one
# Zuvora will have: the shell that starts it waits until the window claims it.
printf '[Player]\nHoldStill=false\n' >"$XDG_CONFIG_HOME/Zuvora/Zuvora.conf"
keep_pet_place "$XDG_CONFIG_HOME" "$scratch/Roamer.zvk" 676 300 24 16
xmessage -geometry 300x60+540+400 claim >/dev/null 2>&1 &
started=($!)
until claim=$(xdotool search --onlyvisible --name '^xmessage$' 2>/dev/null | head -1) && [ -n "$claim" ]; do sleep 0.05; done
(until [ -e "$scratch/claimed" ]; do sleep 0.05; done; exec "$scratch/zuvora" "$scratch/Roamer.zvk") >"$scratch/log" 2>&1 &
started+=($!)
xprop -id "$claim" -f _NET_WM_PID 32c -set _NET_WM_PID "$!"
touch "$scratch/claimed"
check "roaming: a window claiming Zuvora's process id holds the pet up" "stands_at $ledge_top"
stop
kill "$wm" 2>/dev/null || true
[ "$failures" -eq 0 ]
