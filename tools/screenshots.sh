#!/usr/bin/env bash
# Makes the README's pictures again, on a virtual display: tools/screenshots.sh
# (after a build). Needs Xvfb, openbox, xdotool, xsetroot, ImageMagick's import, trayer and
# Python's PIL (for the art of the pets made from RGBA frames and from a GIF).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/default/bin
project=$root/build/default/examples/pip/Pip.zvp
out=$root/docs
for tool in Xvfb openbox xdotool xsetroot import convert; do
  command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install xvfb openbox xdotool x11-xserver-utils imagemagick)" >&2; exit 1; }
done
/usr/bin/python3 -c 'import PIL' 2>/dev/null || { echo "missing PIL (apt-get install python3-pil)" >&2; exit 1; }
[ -x "$bin/zuvora" ] && [ -f "$project" ] || { echo "build first: scripts/run or scripts/test" >&2; exit 1; }

work=$(mktemp -d)
# A scratch home whose paths read as a person's: /home/sam when there is none, else one in
# the scratch folder. Pets live in ~/Pets.
home=/home/sam
made_home=
if [ -e "$home" ]; then home=$work/home/sam; else made_home=$home; fi
mkdir -p "$home/Pets"
display=:$((90 + RANDOM % 9))
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
  [ -z "$made_home" ] || rm -rf "$made_home"
}
trap cleanup EXIT
Xvfb "$display" -screen 0 1100x760x24 >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
sleep 1
openbox >/dev/null 2>&1 &
pids+=($!)
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do sleep 0.05; done
xsetroot -solid '#3a6e8f'
unset APPDATA
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_DATA_HOME=$home/.local/share QT_QPA_PLATFORM=xcb

window() { until id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1) && [ -n "$id" ]; do sleep 0.1; done; echo "$id"; }
shot() { import -window "$1" "$work/shot.png"; convert "$work/shot.png" -strip -colors 128 "PNG8:$out/$2"; }
# New pets keep clear of the library window, which stands over the first place; the
# pictures want them in set places, kept in the settings as if they had been there before.
# Pip roams: it falls to the screen's bottom from there, and is held still on it.
# shellcheck source=tests/player/pet_place.sh
source "$root/tests/player/pet_place.sh"

# The library with a person's pets in it.
# Laid out as an installed Zuvora, so that it finds its icon beside it.
mkdir -p "$work/bin"
cp "$bin/zuvora" "$work/bin/"
cp "$bin/Pip.zvk" "$HOME/Pets/"
cp "$bin/Pip.zvk" "$HOME/Pets/Pip at Night.zvk"
for size in 16 24 32 48 64 128 256; do
  mkdir -p "$work/share/icons/hicolor/${size}x${size}/apps"
  cp "$root/build/default/examples/pip/icons/$size.png" "$work/share/icons/hicolor/${size}x${size}/apps/org.zuvora.zuvora.png"
done
printf '<?xml version="1.0" encoding="UTF-8"?><Zuvora Version="1.0.0"><Zvk>%s</Zvk><Zvk>%s</Zvk></Zuvora>' \
  "$HOME/Pets/Pip.zvk" "$HOME/Pets/Pip at Night.zvk" > "$work/bin/Zuvora.Dat"
"$work/bin/zuvora" >/dev/null 2>&1 &
pids+=($!)
library=$(window '^Zuvora$')
xdotool windowsize "$library" 760 300 windowmove "$library" 20 20
sleep 1
shot "$library" library.png
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true

# Pip playing on the desktop: given on the command line, it joins the library and plays;
# see-through as it starts, then with "Transparent" turned off in the settings.
printf '<?xml version="1.0" encoding="UTF-8"?><Zuvora Version="1.0.0"/>' > "$work/bin/Zuvora.Dat"
for picture in pet.png pet-opaque.png; do
  mkdir -p "$XDG_CONFIG_HOME/Zuvora"
  transparent=true
  [ "$picture" = pet-opaque.png ] && transparent=false
  printf '[Player]\nHoldStill=true\nTransparent=%s\n' "$transparent" > "$XDG_CONFIG_HOME/Zuvora/Zuvora.conf"
  keep_pet_place "$XDG_CONFIG_HOME" "$HOME/Pets/Pip.zvk" 412 632 128 128
  "$work/bin/zuvora" "$HOME/Pets/Pip.zvk" >/dev/null 2>&1 &
  pids+=($!)
  xdotool windowminimize "$(window '^Zuvora$')"
  sleep 2.5
  import -window root -crop 300x220+330+540 "$work/shot.png"
  convert "$work/shot.png" -strip -colors 128 "PNG8:$out/$picture"
  kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true
done
rm -f "$XDG_CONFIG_HOME/Zuvora/Zuvora.conf"

# The packer with Pip's project, its first action selected and playing in the preview, each
# frame pictured in the list; a copy, so that the paths shown are not this machine's. Then a
# frame moved up, so that the title is marked, and the Edit menu open on its Undo.
mkdir -p "$HOME/Pets/Pip"
cp -r "$(dirname "$project")/Pip.zvp" "$(dirname "$project")/frames" "$HOME/Pets/Pip/"
"$work/bin/zuvora" "$HOME/Pets/Pip/Pip.zvp" >/dev/null 2>&1 &
pids+=($!)
packer=$(window 'Zuvo Packer$')
xdotool windowsize "$packer" 900 560 windowmove "$packer" 20 20
sleep 1
xdotool mousemove --window "$packer" 60 95 click 1
sleep 0.5
xdotool mousemove --window "$packer" 420 130 click 1 key alt+Up
sleep 1
# With the window manager's frame, whose title carries the mark.
import -window root -crop 920x600+10+0 "$work/shot.png"
convert "$work/shot.png" -strip -colors 128 "PNG8:$out/packer.png"
xdotool key alt+e
sleep 0.5
import -window root -crop 560x300+20+20 "$work/shot.png"
convert "$work/shot.png" -strip -colors 128 "PNG8:$out/packer-edit.png"
# Undone, so that closing asks nothing.
xdotool key Escape ctrl+z
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true
# Pets from the art people have, over a dark desktop where a light fringe would show: eight
# anti-aliased RGBA PNG frames of a ball (clear pixels stored as black), and an animated GIF
# with a transparent ground, each imported and built by zvk.
xsetroot -solid '#1d2630'
/usr/bin/python3 - "$work" <<'PY'
import sys
from PIL import Image, ImageDraw
work = sys.argv[1]
S = 4
names = []
for i in range(8):
    im = Image.new("RGBA", (96 * S, 96 * S), (0, 0, 0, 0))
    d = ImageDraw.Draw(im)
    lift = abs(4 - i) * 6 * S
    d.ellipse((16 * S, 10 * S + lift, 80 * S, 74 * S + lift), fill=(230, 60, 50, 255), outline=(255, 255, 255, 255), width=3 * S)
    d.ellipse((34 * S, 24 * S + lift, 46 * S, 36 * S + lift), fill=(255, 255, 255, 255))
    d.ellipse((38 * S, 28 * S + lift, 44 * S, 34 * S + lift), fill=(20, 20, 20, 255))
    im = im.resize((96, 96), Image.LANCZOS)
    names.append("ball%d.png" % i)
    im.save("%s/%s" % (work, names[-1]))
with open(work + "/ball.zvp", "w") as f:
    f.write('<?xml version="1.0" encoding="UTF-8"?><ZuvoProject Version="1.0.0"><Action><Name>Bounce</Name><ActionFragment>')
    f.write("".join(n + ";" for n in names))
    f.write("</ActionFragment></Action></ZuvoProject>")
frames = []
for i in range(6):
    im = Image.new("RGBA", (120, 90), (0, 0, 0, 0))
    d = ImageDraw.Draw(im)
    x = 10 + i * 8
    d.ellipse((x, 30, x + 60, 80), fill=(250, 200, 60, 255), outline=(255, 255, 255, 255), width=2)
    d.polygon([(x + 8, 38), (x + 16, 18), (x + 26, 34)], fill=(250, 200, 60, 255))
    d.polygon([(x + 34, 34), (x + 44, 18), (x + 52, 38)], fill=(250, 200, 60, 255))
    d.ellipse((x + 18, 46, x + 26, 54), fill=(20, 20, 20, 255))
    d.ellipse((x + 36, 46, x + 44, 54), fill=(20, 20, 20, 255))
    frames.append(im)
frames[0].save(work + "/cat.gif", save_all=True, append_images=frames[1:], duration=160, loop=0, disposal=2)
slime = []
for i in range(8):
    im = Image.new("RGBA", (88, 72), (0, 0, 0, 0))
    d = ImageDraw.Draw(im)
    squash = abs(4 - i) * 3
    d.chord((8 - squash, 14 + squash, 80 + squash, 90), 180, 360, fill=(90, 200, 110, 255), outline=(235, 255, 235, 255), width=2)
    d.ellipse((30, 36 + squash, 38, 44 + squash), fill=(20, 40, 20, 255))
    d.ellipse((50, 36 + squash, 58, 44 + squash), fill=(20, 40, 20, 255))
    slime.append(im)
slime[0].save(work + "/slime.png", save_all=True, append_images=slime[1:], duration=120, loop=0, disposal=1)
PY
"$bin/zvk" build "$work/ball.zvp" "$work/ball.zvk" >/dev/null
"$bin/zvk" import "$work/cat.gif" "$work/cat.zvp" >/dev/null
"$bin/zvk" build "$work/cat.zvp" "$work/cat.zvk" >/dev/null
"$bin/zvk" import "$work/slime.png" "$work/slime.zvp" >/dev/null
"$bin/zvk" build "$work/slime.zvp" "$work/slime.zvk" >/dev/null
for pet in ball cat; do
  picture=pet-rgba.png
  [ "$pet" = cat ] && picture=pet-gif.png
  keep_pet_place "$XDG_CONFIG_HOME" "$work/$pet.zvk" 412 207 120 96
  "$work/bin/zuvora" "$work/$pet.zvk" >/dev/null 2>&1 &
  pids+=($!)
  xdotool windowminimize "$(window '^Zuvora$')"
  sleep 2.5
  import -window root -crop 200x150+390+185 "$work/shot.png"
  convert "$work/shot.png" -strip "PNG8:$out/$picture"
  kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true
done
xsetroot -solid '#3a6e8f'

# Five pets at once in one Zuvora, given on its command line: Pip twice (two copies of its
# package: one file plays once), the ball, the cat and an APNG slime, set apart on the desktop.
cp "$HOME/Pets/Pip.zvk" "$work/Pip.zvk"
printf '[Player]\nHoldStill=true\n' > "$XDG_CONFIG_HOME/Zuvora/Zuvora.conf"
keep_pet_place "$XDG_CONFIG_HOME" "$HOME/Pets/Pip.zvk" 60 632 128 128
keep_pet_place "$XDG_CONFIG_HOME" "$work/Pip.zvk" 250 632 128 128
keep_pet_place "$XDG_CONFIG_HOME" "$work/ball.zvk" 480 400 96 96
keep_pet_place "$XDG_CONFIG_HOME" "$work/cat.zvk" 110 440 120 90
keep_pet_place "$XDG_CONFIG_HOME" "$work/slime.zvk" 400 640 88 72
"$work/bin/zuvora" "$HOME/Pets/Pip.zvk" "$work/Pip.zvk" "$work/ball.zvk" "$work/cat.zvk" "$work/slime.zvk" >/dev/null 2>&1 &
pids+=($!)
xdotool windowminimize "$(window '^Zuvora$')"
sleep 4
import -window root -crop 660x420+0+340 "$work/shot.png"
convert "$work/shot.png" -strip -colors 128 "PNG8:$out/pets.png"
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true

# The tray, hosted by a stand-alone one, with its menu open over two pets; then Pip at 1x
# and, from a second copy of its package kept at 3x in the settings, at 3x.
command -v trayer >/dev/null || { echo "missing trayer (apt-get install trayer)" >&2; exit 1; }
trayer --edge bottom --align right --widthtype request --height 28 --transparent false --tint 0x333333 >/dev/null 2>&1 &
pids+=($!)
sleep 1
cp "$HOME/Pets/Pip.zvk" "$HOME/Pets/Big Pip.zvk"
digest=$(printf '%s' "$HOME/Pets/Big Pip.zvk" | md5sum | cut -d' ' -f1)
mkdir -p "$XDG_CONFIG_HOME/Zuvora"
printf '[Player]\nHoldStill=true\n[Pets]\n%s\\Size=3\n' "$digest" > "$XDG_CONFIG_HOME/Zuvora/Zuvora.conf"
keep_pet_place "$XDG_CONFIG_HOME" "$HOME/Pets/Pip.zvk" 80 632 128 128
keep_pet_place "$XDG_CONFIG_HOME" "$HOME/Pets/Big Pip.zvk" 300 376 384 384
"$work/bin/zuvora" "$HOME/Pets/Pip.zvk" "$HOME/Pets/Big Pip.zvk" >/dev/null 2>&1 &
pids+=($!)
xdotool windowminimize "$(window '^Zuvora$')"
sleep 3
import -window root -crop 720x460+0+300 "$work/shot.png"
convert "$work/shot.png" -strip -colors 128 "PNG8:$out/pet-sizes.png"
xdotool mousemove 1086 746 click 3
sleep 1
import -window root -crop 420x300+680+460 "$work/shot.png"
convert "$work/shot.png" -strip -colors 128 "PNG8:$out/tray.png"
xdotool key Escape
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true
kill "${pids[-2]}"; wait "${pids[-2]}" 2>/dev/null || true
rm -f "$XDG_CONFIG_HOME/Zuvora/Zuvora.conf"

# The sprite-sheet dialog over a strip of the ball's frames, cut into four.
convert "$work/ball0.png" "$work/ball2.png" "$work/ball4.png" "$work/ball6.png" +append "$work/strip.png"
"$work/bin/zuvora" "$work/cat.zvp" >/dev/null 2>&1 &
pids+=($!)
packer=$(window 'Zuvo Packer$')
xdotool windowmove "$packer" 20 20
sleep 1
xdotool mousemove --window "$packer" 60 95 click 1
sleep 0.3
tool=$(xdotool search --onlyvisible --name 'Zuvo Packer$' | head -1)
# "Import Sprite Sheet…" from the frame list's menu, then the file typed into Qt's dialog.
xdotool mousemove --window "$tool" 500 200 click 3
sleep 0.5
xdotool key Up Up Return
chooser=$(window 'Open|Select|Choose')
sleep 0.5
xdotool type --delay 5 "$work/strip.png"
xdotool key Return
dialog=$(window '^Import Sprite Sheet')
sleep 1
shot "$dialog" sheet-dialog.png
kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true
# Zuvora installed from its Debian package, started as its desktop entry starts it, on a
# first run: the sample pet from the package in the list. The package is laid over /usr in
# a mount namespace of its own (root only), so that its paths read as installed ones while
# the system stays as it is.
deb=$(ls "$root"/build/release/zuvora_*.deb 2>/dev/null | head -1 || true)
if [ -n "$deb" ] && [ "$(id -u)" = 0 ]; then
  dpkg-deb -x "$deb" "$work/root"
  command=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$work/root/usr/share/applications/org.zuvora.zuvora.desktop")
  rm -rf "$XDG_DATA_HOME/Zuvora"
  unshare -m sh -c 'mount -t overlay overlay -o "lowerdir=$1:/usr" /usr && exec "$2"' sh "$work/root/usr" "$command" \
    >/dev/null 2>&1 &
  pids+=($!)
  library=$(window '^Zuvora$')
  xdotool windowsize "$library" 760 300 windowmove "$library" 20 20
  sleep 2
  shot "$library" installed.png
  kill "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null || true
else
  echo "installed.png not made: it needs build/release's Debian package and root" >&2
fi
ls -l "$out"/*.png
