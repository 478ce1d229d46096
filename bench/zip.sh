#!/usr/bin/env bash
# Packing and extraction speed of zvk against Info-ZIP on the same files, in the same run:
#   bench/zip.sh [RUNS]          (default 7 runs; medians are reported)
# Builds a 50 MB set of 200 files (text, random, repetitive, already compressed), then times
#   zvk pack            vs  zip -6 -r -j -q
#   zvk extract         vs  unzip -o -q          (both on the archive zvk wrote)
#   zvk extract again into the same folder (nothing newer: nothing is written)
# and the peak memory of zvk extract (and pack) above that of `zvk --help`; then extraction
# of 2,000 and 10,000 small files by zvk, unzip and bsdtar, on the disk and on tmpfs, and of
# the 200-file set by zvk and bsdtar.
# ZVK=path/to/zvk picks another binary (default: build/default/bin/zvk).
set -euo pipefail
runs=${1:-7}
root=$(cd "$(dirname "$0")/.." && pwd)
zvk=${ZVK:-$root/build/default/bin/zvk}
[ -n "${EPOCHREALTIME:-}" ] || { echo "needs bash 5 or later (EPOCHREALTIME)" >&2; exit 1; }
[ -x "$zvk" ] || { echo "build first: cmake --build --preset default (or set ZVK)" >&2; exit 1; }
for tool in zip unzip bsdtar gzip awk /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool (apt-get install zip unzip libarchive-tools time)" >&2; exit 1; }
done

work=$(mktemp -d)
# The same extractions once more into a folder on tmpfs, where the disk plays no part.
shm=$(mktemp -d -p /dev/shm)
trap 'rm -rf "$work" "$shm"' EXIT
set_dir=$work/set
mkdir -p "$set_dir/text" "$set_dir/random" "$set_dir/repeat" "$set_dir/packed"

# ---- the test set: 200 files, 50 MB, sizes spread from 64 KiB to about 460 KiB -----------
total=$((50 * 1024 * 1024))
size_of() { echo $(( 65536 + ($1 * 7919 % 200) * (2 * total / 200 - 2 * 65536) / 199 )); }
text_words() {  # deterministic pseudo-English text
  awk -v seed="$1" -v bytes="$2" 'BEGIN {
    n = split("the a pet frame sprite action walk run sleep jump cat dog image sound " \
              "window desktop package player packer archive deflate header entry folder " \
              "time stamp zvk png wav xml rectangle left top width height index mode", w, " ")
    srand(seed); out = 0; line = ""
    while (out < bytes) {
      word = w[int(rand() * n) + 1]
      if (length(line) + length(word) > 72) { print line; out += length(line) + 1; line = word }
      else line = (line == "" ? word : line " " word)
    }
  }' | head -c "$2"
}
set +o pipefail  # `head -c` ends the generators early on purpose
for ((i = 0; i < 200; i++)); do
  size=$(size_of "$i")
  case $((i % 4)) in
    0) text_words "$i" "$size" > "$set_dir/text/t$i.txt" ;;
    1) head -c "$size" /dev/urandom > "$set_dir/random/r$i.bin" ;;
    2) yes "frame $i: left 0000000000 top 0000000064 width 0000000064 height 0000000064" |
         head -c "$size" > "$set_dir/repeat/p$i.xml" ;;
    3) # already compressed: a gzip stream, cut or padded with more of the same to the size
       { text_words "$((i + 1000))" "$((size * 4))" | gzip -6 -c; head -c "$size" /dev/urandom; } |
         head -c "$size" > "$set_dir/packed/c$i.png" ;;
  esac
done
set -o pipefail
echo "test set: $(find "$set_dir" -type f | wc -l) files, $(du -sb "$set_dir" | cut -f1) bytes"

# ---- timing helpers --------------------------------------------------------------------------
# once_us COMMAND...: wall time of one run in microseconds. Bash's own clock: a `date`
# process around every run would add a few milliseconds to the short ones.
once_us() {
  local start end
  start=${EPOCHREALTIME/./}
  "$@" >/dev/null
  end=${EPOCHREALTIME/./}
  echo $(( end - start ))
}
median_ms() { printf '%s\n' "$@" | sort -n | awk '{ t[NR] = $1 } END { printf "%.1f", t[int((NR + 1) / 2)] / 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }

archive=$work/set.zvk
zipped=$work/set.zip
out=$work/out

# zvk and Info-ZIP take turns, so a change in machine load falls on both alike.
a=(); b=()
for ((r = 0; r < runs; r++)); do
  rm -f "$archive"; a+=($(once_us "$zvk" pack "$set_dir" "$archive"))
  rm -f "$zipped"; b+=($(once_us zip -6 -r -j -q "$zipped" "$set_dir"))
done
pack_zvk=$(median_ms "${a[@]}"); pack_zip=$(median_ms "${b[@]}")
echo "pack:    zvk $pack_zvk ms ($(stat -c %s "$archive") bytes)   zip -6 $pack_zip ms ($(stat -c %s "$zipped") bytes)   ratio $(ratio "$pack_zvk" "$pack_zip") (target <= 1.0)"

a=(); b=(); c=(); d=()
for ((r = 0; r < runs; r++)); do
  rm -rf "$out"; a+=($(once_us "$zvk" extract "$archive" "$out"))
  c+=($(once_us "$zvk" extract "$archive" "$out"))  # again: nothing newer, nothing written
  d+=($(once_us "$zvk" --help))                      # the process start alone
  rm -rf "$out"; b+=($(once_us unzip -o -q "$archive" -d "$out"))
done
extract_zvk=$(median_ms "${a[@]}"); extract_unzip=$(median_ms "${b[@]}"); again=$(median_ms "${c[@]}")
start_only=$(median_ms "${d[@]}")
echo "extract: zvk $extract_zvk ms   unzip -o $extract_unzip ms   ratio $(ratio "$extract_zvk" "$extract_unzip") (target <= 1.0)"
echo "extract again, nothing newer: $again ms = $(awk -v a="$again" -v b="$extract_zvk" 'BEGIN { printf "%.1f", 100 * a / b }')% of the first (target < 5%); of it the process start alone (zvk --help) $start_only ms, the extraction $(awk -v a="$again" -v s="$start_only" -v b="$extract_zvk" 'BEGIN { printf "%.1f ms = %.1f%%", a - s, 100 * (a - s) / b }')"
rm -rf "$out"
"$zvk" extract "$archive" "$out" >/dev/null
[ "$("$zvk" extract "$archive" "$out")" = "0 entries extracted" ] || echo "warning: second extract wrote entries" >&2

# ---- memory -----------------------------------------------------------------------------
max_rss_kb() { /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ { print $2 }'; }
base=$(max_rss_kb "$zvk" --help)
rm -rf "$out"
peak=$(max_rss_kb "$zvk" extract "$archive" "$out")
echo "memory:  zvk extract peak $peak KiB, zvk --help $base KiB, above baseline $((peak - base)) KiB (target < 16384 KiB)"
rm -f "$archive"
peak=$(max_rss_kb "$zvk" pack "$set_dir" "$archive")
echo "memory:  zvk pack peak $peak KiB, above baseline $((peak - base)) KiB"

# ---- many small files: 2,000 and 10,000 entries, on the disk and on tmpfs -------------------
small_set() {  # small_set FOLDER COUNT: files of 200 bytes to 8 KiB, text and noise
  mkdir -p "$1"
  for ((i = 0; i < $2; i++)); do
    if ((i % 2)); then head -c $(( 200 + i * 37 % 8000 )) /dev/urandom; else text_words "$i" $(( 200 + i * 53 % 8000 )); fi > "$1/f$i.txt"
  done
}
set +o pipefail
small_set "$work/small2000" 2000
small_set "$work/small10000" 10000
set -o pipefail
for count in 2000 10000; do
  archive=$work/small$count.zvk
  "$zvk" pack "$work/small$count" "$archive" >/dev/null
  for place in disk tmpfs; do
    [ "$place" = disk ] && out=$work/out || out=$shm/out
    a=(); b=(); c=(); d=()
    for ((r = 0; r < runs; r++)); do
      rm -rf "$out"; a+=($(once_us "$zvk" extract "$archive" "$out"))
      d+=($(once_us "$zvk" extract "$archive" "$out"))  # again: nothing newer
      rm -rf "$out"; b+=($(once_us unzip -o -q "$archive" -d "$out"))
      rm -rf "$out"; mkdir -p "$out"; c+=($(once_us bsdtar -xf "$archive" -C "$out"))
    done
    rm -rf "$out"
    z=$(median_ms "${a[@]}"); u=$(median_ms "${b[@]}"); t=$(median_ms "${c[@]}"); again=$(median_ms "${d[@]}")
    echo "$count small files on $place: zvk $z ms   unzip $u ms   bsdtar $t ms   zvk/unzip $(ratio "$z" "$u") (target <= 1.0)   zvk/bsdtar $(ratio "$z" "$t")   again $again ms = $(awk -v a="$again" -v b="$z" 'BEGIN { printf "%.1f", 100 * a / b }')% (target < 5%)"
  done
done

# Large files: the 200-file set against bsdtar as well.
a=(); b=()
archive=$work/set.zvk
"$zvk" pack "$set_dir" "$archive" >/dev/null
for ((r = 0; r < runs; r++)); do
  rm -rf "$out"; a+=($(once_us "$zvk" extract "$archive" "$out"))
  rm -rf "$out"; mkdir -p "$out"; b+=($(once_us bsdtar -xf "$archive" -C "$out"))
done
z=$(median_ms "${a[@]}"); t=$(median_ms "${b[@]}")
echo "200 mixed files, 50 MB: zvk $z ms   bsdtar $t ms   ratio $(ratio "$z" "$t") (target <= 1.0)"
