#!/usr/bin/env bash
# Peak memory of six pets of one package with a 16384 by 12000 sprite sheet (a few KB as a
# package), each under a name of its own, given to Zuvora on the command line. Each pet is
# started on the offscreen platform with its data and settings in a scratch folder; the
# peak resident size (VmHWM) is read once every pet has loaded.
#   bench/pet_memory.sh [ZUVORA...]    (default: build/default/bin/zuvora; several binaries,
#                                       such as an older build, are measured one after another)
# Needs python3 (zlib only) to draw the frame, and zvk to build the package.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
zvk=$root/build/default/bin/zvk
binaries=("${@:-$root/build/default/bin/zuvora}")
[ -x "$zvk" ] || { echo "build first: cmake --build --preset default" >&2; exit 1; }

work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT

# One frame of one colour as an 8-bit RGB PNG, written a row at a time.
python3 - "$work/frame.png" <<'PY'
import struct, sys, zlib
width, height = 16384, 12000
def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
row = b"\0" + bytes((30, 140, 200)) * width
packer = zlib.compressobj(9)
data = b"".join(packer.compress(row) for _ in range(height)) + packer.flush()
with open(sys.argv[1], "wb") as f:
    f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
            + chunk(b"IDAT", data) + chunk(b"IEND", b""))
PY
printf '<?xml version="1.0" encoding="UTF-8"?><ZuvoProject Version="1.0.0"><Action><Name>Big</Name><ActionFragment>frame.png;</ActionFragment></Action></ZuvoProject>' >"$work/big.zvp"
APPDATA=$work/build-data "$zvk" build "$work/big.zvp" "$work/big.zvk" >/dev/null
pets=()
for n in 1 2 3 4 5 6; do
  cp "$work/big.zvk" "$work/pet$n.zvk"
  pets+=("$work/pet$n.zvk")
done
echo "package: $(stat -c %s "$work/big.zvk") bytes; sheet 16384x12000 ($(( 16384 * 12000 * 4 / 1048576 )) MiB decoded)"

# kB of a status field of the process.
status_kb() { awk -v f="$2:" '$1 == f { print $2 }' "/proc/$1/status"; }

for binary in "${binaries[@]}"; do
  run=$(mktemp -d -p "$work")
  # A copy of its own, so that the library beside it is the scratch one.
  cp "$binary" "$run/zuvora"
  mkdir -p "$run/data" "$run/config" "$run/runtime"
  chmod 700 "$run/runtime"
  APPDATA=$run/data XDG_CONFIG_HOME=$run/config XDG_RUNTIME_DIR=$run/runtime QT_QPA_PLATFORM=offscreen \
    "$run/zuvora" "${pets[@]}" >"$run/log" 2>&1 &
  pid=$!
  # Loaded: six cache folders marked, and the resident size steady for two seconds.
  last=0
  steady=0
  for _ in $(seq 600); do
    kill -0 "$pid" 2>/dev/null || { echo "zuvora exited early:" >&2; cat "$run/log" >&2; exit 1; }
    sleep 0.2
    rss=$(status_kb "$pid" VmRSS)
    if [ "$rss" = "$last" ]; then steady=$((steady + 1)); else steady=0; fi
    last=$rss
    [ "$steady" -ge 10 ] && [ "$(find "$run/data" -name '.zuvora-cache' 2>/dev/null | wc -l)" -ge 6 ] && break
    # An older Zuvora leaves no marker: six folders of its own instead.
    [ "$steady" -ge 10 ] && [ "$(find "$run/data/Zuvora" -mindepth 1 -maxdepth 1 -type d 2>/dev/null | wc -l)" -ge 6 ] && break
  done
  hwm=$(status_kb "$pid" VmHWM)
  kill -TERM "$pid"
  wait "$pid" 2>/dev/null || true
  pid=
  printf '%s: peak %d MiB (VmHWM), %d MiB resident once loaded\n' "$binary" $((hwm / 1024)) $((last / 1024))
done
