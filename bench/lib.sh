# Shared by the benchmark scripts: timing and memory of whole commands. Sourced, not run.
[ -n "${EPOCHREALTIME:-}" ] || { echo "needs bash 5 or later (EPOCHREALTIME)" >&2; exit 1; }

# once_us COMMAND...: wall time of one run in microseconds, its output dropped. Bash's own
# clock: a `date` process around every run would add a few milliseconds to the short ones.
once_us() {
  local start end
  start=${EPOCHREALTIME/./}
  "$@" >/dev/null 2>&1
  end=${EPOCHREALTIME/./}
  echo $(( end - start ))
}
median_ms() { printf '%s\n' "$@" | sort -n | awk '{ t[NR] = $1 } END { printf "%.1f", t[int((NR + 1) / 2)] / 1000 }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
max_rss_kb() { /usr/bin/time -v "$@" 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ { print $2 }'; }

# pet_desktop SCRIPT ARGS...: for the scripts that play pets. Reruns the script on a virtual
# display when there is none; then checks the build, makes $work, starts openbox (its id in
# $wm) and waits for it, since a window mapped while it starts may be lost. The caller's
# $pid, when set, is stopped at the end with openbox: only what the script started.
pet_desktop() {
  if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x800x24" "$@"
  fi
  [ -x "$bin/zuvora" ] && [ -f "$bin/Pip.zvk" ] || { echo "build first: scripts/run or cmake --build --preset default" >&2; exit 1; }
  work=$(mktemp -d)
  openbox >/dev/null 2>&1 &
  wm=$!
  until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do sleep 0.05; done
  pid=
  trap 'kill $wm 2>/dev/null; [ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
}
