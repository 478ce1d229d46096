#!/usr/bin/env bash
# Closing Zuvora with 32 pets playing and a large settings file: the real program on the
# offscreen platform, 32 copies of Pip given on the command line, then SIGTERM (as a session's
# end sends it); the time from the signal to the program's exit. The settings file is made
# anew before every run, SIZE bytes of places of earlier packages.
# bench/close.sh [SIZE] [RUNS]   (SIZE defaults to 10 MB; ZUVORA=program runs another build)
set -euo pipefail
size=${1:-10000000}
runs=${2:-5}
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/default/bin
# shellcheck source=bench/lib.sh
source "$root/bench/lib.sh"
program=${ZUVORA:-$bin/zuvora}
if [ ! -x "$program" ] || [ ! -f "$bin/Pip.zvk" ]; then
  echo "build first: cmake --build build/default --target zuvora sample_pet" >&2
  exit 1
fi

work=$(mktemp -d)
pid=
trap 'if [ -n "$pid" ]; then kill -KILL "$pid" 2>/dev/null || true; fi; rm -rf "$work"' EXIT
# The program's own copy: the library file is kept beside it.
cp "$program" "$work/zuvora"
export QT_QPA_PLATFORM=offscreen APPDATA=$work/appdata XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run
mkdir -p "$APPDATA" "$XDG_CONFIG_HOME/Zuvora" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
pets=()
for i in $(seq -w 1 32); do
  cp "$bin/Pip.zvk" "$work/pet$i.zvk"
  pets+=("$work/pet$i.zvk")
done

# A settings file grown over many packages: one group per package, each with its place.
make_settings() {
  awk -v size="$size" 'BEGIN {
    print "[Player]\nSound=false\nTransparent=true\n\n[Pets]"
    written = 40
    for (i = 0; written < size; ++i) {
      line = sprintf("%032x\\Place=@Rect(%d %d 128 128)", i, i % 1000, i % 700)
      print line
      written += length(line) + 1
    }
  }' >"$XDG_CONFIG_HOME/Zuvora/Zuvora.conf"
}

# Every pet's cache folder has its sheet, and then the settings file has been at rest for 3 s:
# a pet keeps its place a second after it moved, and a signal during the start would find
# the pets still coming.
all_shown() { [ "$(find "$APPDATA" -name zvk.png | wc -l)" -ge 32 ]; }
settled() {
  local now
  now=$(stat -c %y "$XDG_CONFIG_HOME/Zuvora/Zuvora.conf")
  if [ "$now" != "$last_change" ]; then
    last_change=$now
    since=${EPOCHREALTIME/./}
    return 1
  fi
  [ $(( ${EPOCHREALTIME/./} - since )) -ge 3000000 ]
}

close_us=()
for _ in $(seq "$runs"); do
  make_settings
  "$work/zuvora" "${pets[@]}" >"$work/log" 2>&1 &
  pid=$!
  last_change=
  since=0
  until all_shown && settled; do
    kill -0 "$pid" 2>/dev/null || { echo "zuvora exited early:" >&2; cat "$work/log" >&2; exit 1; }
    sleep 0.1
  done
  start=${EPOCHREALTIME/./}
  kill -TERM "$pid"
  wait "$pid" || { echo "zuvora failed:" >&2; cat "$work/log" >&2; exit 1; }
  end=${EPOCHREALTIME/./}
  pid=
  close_us+=("$(( end - start ))")
done
echo "32 pets, a settings file of $size bytes: from SIGTERM to exit, median of $runs runs: $(median_ms "${close_us[@]}") ms"
echo "  each run (us): ${close_us[*]}"
