#!/usr/bin/env bash
# Importing animations against standard tools on the same files, in the same run:
#   bench/import.sh [RUNS] [FRAMES]     (default 5 runs of 200 frames)
# Draws FRAMES 256 by 256 frames of a sprite on a transparent ground with Python's PIL and
# writes them as an animated GIF and as an APNG, then times
#   zvk import anim.gif pet.zvp        against  convert anim.gif -coalesce f%03d.png
#   zvk import anim.png pet.zvp        against  PIL writing every composed frame as a PNG
# each as a whole process, and reports the medians and their ratio (goal: at most 1.0).
# ZVK=path/to/zvk picks another binary (default: build/default/bin/zvk).
set -euo pipefail
runs=${1:-5}
count=${2:-200}
root=$(cd "$(dirname "$0")/.." && pwd)
zvk=${ZVK:-$root/build/default/bin/zvk}
python=/usr/bin/python3  # Debian's, which has PIL
source "$root/bench/lib.sh"
[ -x "$zvk" ] || { echo "build first: cmake --build --preset default (or set ZVK)" >&2; exit 1; }
"$python" -c 'import PIL' 2>/dev/null || { echo "missing PIL (apt-get install python3-pil)" >&2; exit 1; }
command -v convert >/dev/null || { echo "missing convert (apt-get install imagemagick)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export APPDATA=$work/appdata


cat > "$work/anim.py" <<'PY'
# anim.py FOLDER COUNT: one animation as anim.gif and anim.png (APNG), with frame
# delays of 80 and 160 ms, the sprite moving over a transparent ground.
import sys
from PIL import Image, ImageDraw
folder, count = sys.argv[1], int(sys.argv[2])
frames = []
for i in range(count):
    im = Image.new("RGBA", (256, 256), (0, 0, 0, 0))
    d = ImageDraw.Draw(im)
    x, y = 40 + (i * 5) % 120, 40 + (i * 3) % 100
    d.ellipse((x, y, x + 96, y + 96), fill=(250, 200 - i % 80, 60, 255), outline=(120, 80, 20, 255), width=4)
    d.ellipse((x + 24, y + 30, x + 36, y + 42), fill=(30, 30, 30, 255))
    d.ellipse((x + 60, y + 30, x + 72, y + 42), fill=(30, 30, 30, 255))
    d.rectangle((0, 240, 255, 255), fill=(60, 140, 60, 255))
    frames.append(im)
durations = [80 if i % 2 else 160 for i in range(count)]
frames[0].save(folder + "/anim.gif", save_all=True, append_images=frames[1:], duration=durations, loop=0, disposal=2)
frames[0].save(folder + "/anim.png", save_all=True, append_images=frames[1:], duration=durations, loop=0)
PY
cat > "$work/pil_frames.py" <<'PY'
# pil_frames.py ANIMATION FOLDER: every composed frame as a PNG file.
import sys
from PIL import Image
im = Image.open(sys.argv[1])
for i in range(im.n_frames):
    im.seek(i)
    im.convert("RGBA").save("%s/f%03d.png" % (sys.argv[2], i))
PY
"$python" "$work/anim.py" "$work" "$count"

# Each import goes into a project of its own, in a fresh folder, as a first import would.
import_once() {
  local source=$1 folder
  folder=$(mktemp -d -p "$work")
  once_us "$zvk" import "$source" "$folder/pet.zvp"
  rm -rf "$folder"
}
magick_once() {
  local folder
  folder=$(mktemp -d -p "$work")
  once_us convert "$work/anim.gif" -coalesce "$folder/f%03d.png"
  rm -rf "$folder"
}
pil_once() {
  local folder
  folder=$(mktemp -d -p "$work")
  once_us "$python" "$work/pil_frames.py" "$work/anim.png" "$folder"
  rm -rf "$folder"
}

g=(); m=(); a=(); p=()
# The tools take turns, so a change in machine load falls on all alike.
for ((r = 0; r < runs; r++)); do
  g+=($(import_once "$work/anim.gif"))
  m+=($(magick_once))
  a+=($(import_once "$work/anim.png"))
  p+=($(pil_once))
done
gif_ms=$(median_ms "${g[@]}"); magick_ms=$(median_ms "${m[@]}")
apng_ms=$(median_ms "${a[@]}"); pil_ms=$(median_ms "${p[@]}")
echo "$count frames of 256x256, GIF $(stat -c %s "$work/anim.gif") bytes, APNG $(stat -c %s "$work/anim.png") bytes"
echo "  GIF:  zvk import $gif_ms ms   convert -coalesce $magick_ms ms   ratio $(ratio "$gif_ms" "$magick_ms") (goal <= 1.0)"
echo "  APNG: zvk import $apng_ms ms   PIL frames $pil_ms ms   ratio $(ratio "$apng_ms" "$pil_ms") (goal <= 1.0)"
