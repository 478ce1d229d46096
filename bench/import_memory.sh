#!/usr/bin/env bash
# Peak memory of `zvk import` on files that claim the largest pictures an import takes:
#   bench/import_memory.sh [ZVK...]      (default: build/default/bin/zvk)
# Writes the files with bench/import_memory.py (a 16384 x 16384 GIF screen with a 1 x 1
# frame; a GIF frame of that size restored after showing; a WebP animation with a canvas of
# that size and a 1 x 1 frame; an RGBA sprite sheet of that size), imports each into a
# project of its own with every zvk given, and prints the maximum resident set size that
# /usr/bin/time -v reports, with "ok" or "refused". Give the zvk of an older build beside
# the new one for a before/after table: zvk runs the zvk-build beside it.
# Goal: every import at most 1.1 GiB (1126 MiB), a refused grid at most 50 MB.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -gt 0 ] || set -- "$root/build/default/bin/zvk"
for zvk; do
  [ -x "$zvk" ] || { echo "no zvk at $zvk: build first (cmake --build build/default --target zvk)" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "missing /usr/bin/time (apt-get install time)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export APPDATA=$work/appdata
python3 "$root/bench/import_memory.py" "$work"

# peak ZVK FILE [OPTION...]: "<MiB> ok|refused" of one import into a fresh project.
peak() {
  local zvk=$1 file=$2 folder report status kb
  shift 2
  folder=$(mktemp -d -p "$work")
  report=$(/usr/bin/time -v "$zvk" import "$work/$file" "$folder/pet.zvp" "$@" 2>&1 >/dev/null || true)
  rm -rf "$folder"
  kb=$(awk -F': ' '/Maximum resident set size/ { print $2 }' <<<"$report")
  status=$(awk -F': ' '/Exit status/ { print $2 }' <<<"$report")
  printf '%6d MiB %-7s' $(( kb / 1024 )) "$([ "$status" = 0 ] && echo ok || echo refused)"
}

cases=("screen.gif" "full.gif" "canvas.webp" "sheet.png --grid 1x1" "canvas.webp --cell 1x1")
printf '%-26s %9s' "file" "bytes"
for zvk; do printf '  %-18s' "$(basename "$(dirname "$(dirname "$zvk")")")/$(basename "$(dirname "$zvk")")"; done
echo
for c in "${cases[@]}"; do
  read -r file options <<<"$c"
  printf '%-26s %9d' "$c" "$(stat -c %s "$work/$file")"
  for zvk; do
    # shellcheck disable=SC2086  # the options split into words
    printf '  %s' "$(peak "$zvk" "$file" $options)"
  done
  echo
done
