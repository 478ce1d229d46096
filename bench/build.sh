#!/usr/bin/env bash
# The package build against standard tools on the same frames, in the same run:
#   bench/build.sh [RUNS] [FRAMES...]     (default 5 runs; 200 and 1000 frames)
# Draws 128 by 128 RGBA PNG frames with Python's PIL and a project naming them, then times
#   zvk build PROJECT PACKAGE     the whole process: decoding, sheet, manifest, archive
#   PIL: the sheet alone (paste every frame, save the PNG)
#   ImageMagick: convert FRAMES -append (the sheet alone)
#   zlib -6 over the sheet's raw RGB pixels alone
# and reports zvk's peak memory against the decoded sheet (4 bytes a pixel) and the idle
# footprint (zvk --help), and the size of its sheet against ImageMagick's.
# ZVK=path/to/zvk picks another binary (default: build/default/bin/zvk).
set -euo pipefail
runs=${1:-5}
shift || true
counts=("${@:-200}")
[ $# -gt 0 ] || counts=(200 1000)
root=$(cd "$(dirname "$0")/.." && pwd)
zvk=${ZVK:-$root/build/default/bin/zvk}
python=/usr/bin/python3  # Debian's, which has PIL
source "$root/bench/lib.sh"
[ -x "$zvk" ] || { echo "build first: cmake --build --preset default (or set ZVK)" >&2; exit 1; }
"$python" -c 'import PIL' 2>/dev/null || { echo "missing PIL (apt-get install python3-pil)" >&2; exit 1; }
for tool in convert /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install imagemagick time)" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export APPDATA=$work/appdata
# ImageMagick's default policy stops at 16K pixels a side; the sheets here are taller.
mkdir -p "$work/magick"
cat > "$work/magick/policy.xml" <<'POLICY'
<policymap>
  <policy domain="resource" name="height" value="1MP"/>
  <policy domain="resource" name="area" value="1GP"/>
  <policy domain="resource" name="memory" value="2GiB"/>
  <policy domain="resource" name="disk" value="4GiB"/>
</policymap>
POLICY
export MAGICK_CONFIGURE_PATH=$work/magick

cat > "$work/frames.py" <<'PY'
# frames.py FOLDER COUNT: 128x128 RGBA sprite-like frames, drawn at four times the size and
# scaled down (anti-aliased, as drawing programs make them), and a project naming them.
import sys
from PIL import Image, ImageDraw
folder, count = sys.argv[1], int(sys.argv[2])
paths = []
S = 4
for i in range(count):
    im = Image.new("RGBA", (128 * S, 128 * S), (0, 0, 0, 0))
    d = ImageDraw.Draw(im)
    lift = ((i * 7) % 24) * S
    def box(a, b, c, e): return (a * S, b * S - lift, c * S, e * S - lift)
    d.ellipse(box(24, 30, 104, 110), fill=(255, 200 - i % 60, 60, 255), outline=(120, 80, 20, 255), width=3 * S)
    d.ellipse(box(44, 50, 56, 62), fill=(30, 30, 30, 255))
    d.ellipse(box(72, 50, 84, 62), fill=(30, 30, 30, 255))
    d.polygon([(58 * S, 70 * S - lift), (70 * S, 70 * S - lift), (64 * S, 80 * S - lift)], fill=(240, 120, 30, 255))
    d.ellipse((30 * S, 112 * S, 98 * S, 122 * S), fill=(0, 0, 0, 60))
    for k in range(6):
        d.line(((10 + k * 18) * S, (4 + (i + k) % 20) * S, (20 + k * 18) * S, (14 + (i * k) % 20) * S), fill=(90, 110, 200, 200), width=2 * S)
    im = im.resize((128, 128), Image.LANCZOS)
    path = "%s/f%05d.png" % (folder, i)
    im.save(path)
    paths.append(path)
with open(folder + "/project.zvp", "w") as f:
    f.write('<?xml version="1.0" encoding="UTF-8"?><ZuvoProject Version="1.0.0"><Action><Name>All</Name><ActionFragment>')
    f.write("".join(p.split("/")[-1] + ";" for p in paths))
    f.write("</ActionFragment></Action></ZuvoProject>")
PY
cat > "$work/pil_sheet.py" <<'PY'
# pil_sheet.py FOLDER OUT: the frames stacked into one PNG, white behind them.
import glob, sys
from PIL import Image
frames = [Image.open(p) for p in sorted(glob.glob(sys.argv[1] + "/f*.png"))]
width = max(f.width for f in frames)
sheet = Image.new("RGB", (width, sum(f.height for f in frames)), (255, 255, 255))
top = 0
for f in frames:
    sheet.paste(f.convert("RGB"), (0, top))
    top += f.height
sheet.save(sys.argv[2])
PY
cat > "$work/zlib_raw.py" <<'PY'
# zlib_raw.py SHEET: zlib level 6 over the sheet's raw RGB pixels, timed inside.
import sys, time, zlib
from PIL import Image
raw = Image.open(sys.argv[1]).convert("RGB").tobytes()
start = time.perf_counter()
zlib.compress(raw, 6)
print("%.1f" % ((time.perf_counter() - start) * 1000))
PY

for count in "${counts[@]}"; do
  frames=$work/frames$count
  mkdir -p "$frames"
  "$python" "$work/frames.py" "$frames" "$count"
  package=$work/pet$count.zvk
  z=(); p=(); m=()
  # The tools take turns, so a change in machine load falls on all alike.
  for ((r = 0; r < runs; r++)); do
    z+=($(once_us "$zvk" build "$frames/project.zvp" "$package"))
    p+=($(once_us "$python" "$work/pil_sheet.py" "$frames" "$work/pil.png"))
    m+=($(once_us convert "$frames/f*.png" -append "$work/magick.png"))
  done
  "$zvk" build "$frames/project.zvp" "$package" > /dev/null
  zvk_ms=$(median_ms "${z[@]}"); pil_ms=$(median_ms "${p[@]}"); magick_ms=$(median_ms "${m[@]}")
  sheet=$APPDATA/"Zuvo Packer"/pet$count/zvk.png
  zlib_ms=$("$python" "$work/zlib_raw.py" "$sheet")
  echo "$count frames: zvk build $zvk_ms ms   PIL sheet alone $pil_ms ms   ImageMagick -append $magick_ms ms   zlib -6 raw pixels $zlib_ms ms"
  echo "  zvk build / PIL = $(ratio "$zvk_ms" "$pil_ms") (target <= 0.7)"

  base=$(max_rss_kb "$zvk" --help)
  peak=$(max_rss_kb "$zvk" build "$frames/project.zvp" "$package")
  decoded_kb=$(( 128 * 128 * count * 4 / 1024 ))
  echo "  memory: peak $peak KiB, idle $base KiB, decoded sheet $decoded_kb KiB: (peak - idle) / sheet = $(ratio "$((peak - base))" "$decoded_kb") (target < 1.5)"
  ours=$(stat -c %s "$sheet"); theirs=$(stat -c %s "$work/magick.png")
  echo "  sheet PNG: zvk $ours bytes, ImageMagick $theirs bytes, ratio $(ratio "$ours" "$theirs") (target <= 1.2)"
done
