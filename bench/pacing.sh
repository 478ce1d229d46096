#!/usr/bin/env bash
# Playback pacing: plays a package of 3 actions x 4 frames with the real engine at real
# speed (zvk trace) and compares the frame times with the designed schedule of 80 ms per
# frame plus 80 ms between actions.
#   bench/pacing.sh [FRAMES]     (default 500)
set -euo pipefail
frames=${1:-500}
root=$(cd "$(dirname "$0")/.." && pwd)
zvk=$root/build/default/bin/zvk
[ -x "$zvk" ] || { echo "build first: cmake --build --preset default" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/pet" "$work/appdata"
{
  printf '<?xml version="1.0" encoding="UTF-8"?><ZuvoProject Version="1.0.0">'
  index=0
  for action in 0 1 2; do
    printf '<Action><Name>A%d</Name><ActionFragment>' "$action"
    for frame in 0 1 2 3; do
      printf '<Fragment><Index>%d</Index><Top>%d</Top><Left>0</Left><Width>64</Width><Height>64</Height></Fragment>' \
        "$index" $((index * 64))
      index=$((index + 1))
    done
    printf '</ActionFragment><ActionAudio/></Action>'
  done
  printf '</ZuvoProject>'
} > "$work/pet/zvk.xml"
printf '\x89PNG\r\n\x1a\n' > "$work/pet/zvk.png"
"$zvk" pack "$work/pet" "$work/pet.zvk" >/dev/null

APPDATA=$work/appdata "$zvk" trace --frames "$frames" "$work/pet.zvk" > "$work/trace.txt"

# Expected time of each frame: 80 ms after the previous one, 80 ms more when a new action
# begins. The offset from that schedule must not grow with the number of frames.
awk '
  NR == 1 { t0 = $1; expected = 0; previous = $2; next }
  {
    expected += 80 + ($2 != previous || (NR - 1) % 4 == 0 ? 80 : 0)
    previous = $2
    offset = $1 - t0 - expected
    if (NR == 101 || NR == 251 || NR == n) printf "offset from schedule at frame %d: %.3f ms\n", NR - 1, offset
    last = $1; total = expected
  }
  END {
    printf "frames %d, mean period %.4f ms (designed %.4f ms), final offset %.3f ms\n",
      NR, (last - t0) / (NR - 1), total / (NR - 1), last - t0 - total
  }' n="$frames" "$work/trace.txt"
