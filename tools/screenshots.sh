#!/usr/bin/env bash
# Makes the README's pictures again, on a virtual display: tools/screenshots.sh
# (after a build). Needs Xvfb, openbox, xdotool, xsetroot and ImageMagick's import.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/default/bin
project=$root/build/default/examples/pip/Pip.zvp
out=$root/docs
for tool in Xvfb openbox xdotool xsetroot import convert; do
  command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install xvfb openbox xdotool x11-xserver-utils imagemagick)" >&2; exit 1; }
done
[ -x "$bin/zuvora" ] && [ -f "$project" ] || { echo "build first: scripts/run or scripts/test" >&2; exit 1; }

work=$(mktemp -d)
display=:$((90 + RANDOM % 9))
pids=()
cleanup() { for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done; rm -rf "$work"; }
trap cleanup EXIT
Xvfb "$display" -screen 0 1100x760x24 >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
sleep 1
openbox >/dev/null 2>&1 &
pids+=($!)
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do sleep 0.05; done
xsetroot -solid '#3a6e8f'
export APPDATA=$work/appdata XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=xcb

window() { until id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1) && [ -n "$id" ]; do sleep 0.1; done; echo "$id"; }
shot() { import -window "$1" "$work/shot.png"; convert "$work/shot.png" -strip -colors 128 "PNG8:$out/$2"; }

# The library, as a first run shows it.
cp "$bin/zuvora" "$bin/Pip.zvk" "$work/"
"$work/zuvora" >/dev/null 2>&1 &
pids+=($!)
library=$(window '^Zuvora$')
xdotool windowsize "$library" 760 300 windowmove "$library" 20 20
sleep 1
shot "$library" library.png
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true

# Pip playing on the desktop: given on the command line, it joins the library and plays;
# see-through as it starts, then with "Transparent" turned off in the settings.
printf '<?xml version="1.0" encoding="UTF-8"?><Zuvora Version="1.0.0"/>' > "$work/Zuvora.Dat"
for picture in pet.png pet-opaque.png; do
  if [ "$picture" = pet-opaque.png ]; then
    mkdir -p "$work/config/Zuvora"
    printf '[Player]\nTransparent=false\n' > "$work/config/Zuvora/Zuvora.conf"
  fi
  "$work/zuvora" "$work/Pip.zvk" >/dev/null 2>&1 &
  pids+=($!)
  xdotool windowminimize "$(window '^Zuvora$')"
  sleep 2.5
  import -window root -crop 300x220+330+170 "$work/shot.png"
  convert "$work/shot.png" -strip -colors 128 "PNG8:$out/$picture"
  kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true
done
rm -f "$work/config/Zuvora/Zuvora.conf"

# The packer with Pip's project, its first action selected and playing in the preview.
"$work/zuvora" "$project" >/dev/null 2>&1 &
pids+=($!)
packer=$(window '^Zuvo Packer$')
xdotool windowsize "$packer" 900 560 windowmove "$packer" 20 20
sleep 1
xdotool mousemove --window "$packer" 60 95 click 1
sleep 0.5
shot "$packer" packer.png
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true
ls -l "$out"/*.png
