#!/usr/bin/env bash
# Projects that claim more frames than a package may hold, built by zvk in one run:
#   bench/frame_count.sh [ZVK...]     (default: build/default/bin/zvk)
#   - 8 MB of "a;" : four million frame paths to a file that does not exist
#   - one million paths to one real 1x1 PNG
# Prints each build's time, peak memory and exit status. Given several zvk binaries (an
# older build, say), runs each on the same files, so before and after stand side by side.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
binaries=("$@")
[ ${#binaries[@]} -gt 0 ] || binaries=("$root/build/default/bin/zvk")
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time (apt-get install time)" >&2; exit 1; }
[ -n "${EPOCHREALTIME:-}" ] || { echo "needs bash 5 or later (EPOCHREALTIME)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export APPDATA=$work/appdata

project() {  # project FILE PIECE COUNT
  {
    printf '<?xml version="1.0" encoding="UTF-8"?><ZuvoProject Version="1.0.0"><Action><Name>A</Name><ActionFragment>'
    head -c $(( ${#2} * $3 )) < <(yes "$2" | tr -d '\n')
    printf '</ActionFragment></Action></ZuvoProject>'
  } > "$1"
}
project "$work/missing.zvp" 'a;' 4194304
# A 1x1 RGB PNG.
printf '\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x02\0\0\0\x90wS\xde\0\0\0\x0cIDATx\x9cc\xf8\xff\xff?\0\x05\xfe\x02\xfe\xa75\x81\x84\0\0\0\0IEND\xaeB`\x82' > "$work/b.png"
project "$work/real.zvp" 'b.png;' 1048576

for zvk in "${binaries[@]}"; do
  echo "$zvk"
  for name in missing real; do
    size=$(stat -c %s "$work/$name.zvp")
    start=${EPOCHREALTIME/./}
    set +e
    peak=$(/usr/bin/time -f '%M' "$zvk" build "$work/$name.zvp" "$work/$name.zvk" 2>&1 >/dev/null | tail -n 1)
    status=$?
    set -e
    end=${EPOCHREALTIME/./}
    printf '  %-8s %6.1f MB project: %8.2f s, peak %7d KiB, exit %d\n' "$name" "$(awk -v b="$size" 'BEGIN { print b / 1e6 }')" \
      "$(awk -v us=$(( end - start )) 'BEGIN { print us / 1e6 }')" "$peak" "$status"
  done
done
