#!/usr/bin/env bash
# JPEG scan bombs: small progressive files that repeat one scan thousands of times, each
# repetition costing a pass over every block of the image.
#   bench/scan_bomb.sh [REPEATS] [SIDE]     (default 20000 repeats, 1024 by 1024 pixels)
# Makes two bombs from a flat picture (Python's PIL, cjpeg):
#   refinement: PIL's progressive JPEG with its luma AC refinement scan repeated before EOI
#               (each repeat is out of sequence: libjpeg warns, then decodes it anyway)
#   selection:  cjpeg with a spectral-selection script whose luma AC scan is repeated
#               (a sequence libjpeg accepts without a word: only a scan limit stops it)
# and times each as a whole process, with its peak memory:
#   zvk build PROJECT PACKAGE     a one-frame project naming the bomb
#   djpeg -maxscans 100           libjpeg-turbo's own limit
#   djpeg                         no limit
# ZVK=path/to/zvk picks another binary (default: build/default/bin/zvk).
set -euo pipefail
repeats=${1:-20000}
side=${2:-1024}
root=$(cd "$(dirname "$0")/.." && pwd)
zvk=${ZVK:-$root/build/default/bin/zvk}
python=/usr/bin/python3  # Debian's, which has PIL
[ -x "$zvk" ] || { echo "build first: cmake --build --preset default (or set ZVK)" >&2; exit 1; }
"$python" -c 'import PIL' 2>/dev/null || { echo "missing PIL (apt-get install python3-pil)" >&2; exit 1; }
command -v djpeg >/dev/null && command -v cjpeg >/dev/null || { echo "missing djpeg (apt-get install libjpeg-turbo-progs)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time (apt-get install time)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export APPDATA=$work/appdata

cat > "$work/bomb.py" <<'PY'
# bomb.py WORK SIDE REPEATS: writes WORK/refinement.jpg and WORK/selection.jpg.
import io, subprocess, sys
from PIL import Image, ImageDraw
work, side, repeats = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])

def segments(data):
    # (start, end, marker) of every segment after SOI; a scan runs to the next marker that
    # is neither a stuffed 0xFF00 nor a restart marker.
    out, i = [], 2
    while i < len(data):
        assert data[i] == 0xFF, "no marker at %d" % i
        marker = data[i + 1]
        if marker == 0xD9:
            out.append((i, i + 2, marker))
            break
        end = i + 2 + (data[i + 2] << 8 | data[i + 3])
        if marker == 0xDA:
            while not (data[end] == 0xFF and data[end + 1] != 0 and not 0xD0 <= data[end + 1] <= 0xD7):
                end += 1
        out.append((i, end, marker))
        i = end
    return out

def repeat_scan(data, pick, path):
    segs = segments(data)
    scans = [(s, e) for s, e, m in segs if m == 0xDA]
    start, end = pick(data, scans)
    eoi = segs[-1][0]
    with open(path, "wb") as f:
        f.write(data[:eoi] + data[start:end] * repeats + data[eoi:])
    return end - start

def scan_params(data, start):
    count = data[start + 4]
    ss, se, a = data[start + 5 + 2 * count:start + 8 + 2 * count]
    return data[start + 5], count, ss, se, a >> 4, a & 15

picture = Image.new("RGB", (side, side), (200, 120, 40))
# flat: every refinement scan is one run of empty blocks, the costliest kind to repeat

buffer = io.BytesIO()
picture.save(buffer, "JPEG", progressive=True, quality=90)
def luma_refinement(data, scans):
    return next((s, e) for s, e in scans if scan_params(data, s)[:3] == (1, 1, 1) and scan_params(data, s)[4] > 0)
size = repeat_scan(buffer.getvalue(), luma_refinement, work + "/refinement.jpg")
print("refinement: luma AC refinement scan of %d bytes" % size)

picture.save(work + "/picture.ppm")
with open(work + "/scans.txt", "w") as f:
    f.write("0 1 2: 0-0, 0, 0;\n0: 1-63, 0, 0;\n1: 1-63, 0, 0;\n2: 1-63, 0, 0;\n")
made = subprocess.run(["cjpeg", "-quality", "90", "-scans", work + "/scans.txt", work + "/picture.ppm"],
                      check=True, capture_output=True).stdout
def luma_selection(data, scans):
    return next((s, e) for s, e in scans if scan_params(data, s)[:4] == (1, 1, 1, 63))
size = repeat_scan(made, luma_selection, work + "/selection.jpg")
print("selection: luma AC first scan (1-63, no approximation) of %d bytes" % size)
PY
"$python" "$work/bomb.py" "$work" "$side" "$repeats"

# Seconds, peak memory and exit status of one run.
measure() {
  local log=$work/time.log status=0
  /usr/bin/time -v "$@" >/dev/null 2>"$log" || status=$?
  awk -F': ' -v status="$status" '
    /Elapsed \(wall clock\)/ { n = split($2, t, ":"); s = 0; for (i = 1; i <= n; ++i) s = s * 60 + t[i] }
    /Maximum resident set size/ { kb = $2 }
    END { printf "%7.2f s %8d KiB  exit %d", s, kb, status }' "$log"
}

for bomb in refinement selection; do
  file=$work/$bomb.jpg
  mkdir -p "$work/$bomb"
  cp "$file" "$work/$bomb/bomb.jpg"
  printf '%s' '<?xml version="1.0" encoding="UTF-8"?><ZuvoProject Version="1.0.0"><Action><Name>A</Name><ActionFragment>bomb.jpg;</ActionFragment></Action></ZuvoProject>' \
    > "$work/$bomb/pet.zvp"
  echo "$bomb: $(stat -c %s "$file") bytes, $repeats repeats of one scan, ${side}x$side"
  echo "  zvk build          $(measure "$zvk" build "$work/$bomb/pet.zvp" "$work/$bomb/pet.zvk")"
  echo "  djpeg -maxscans 100 $(measure djpeg -maxscans 100 -outfile /dev/null "$file")"
  echo "  djpeg              $(measure djpeg -outfile /dev/null "$file")"
done
