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
