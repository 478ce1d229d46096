# A headless sway for the Wayland tests, sourced by them. sway will not run as root: as
# root, it and every client of it run as an ordinary user (nobody) in a runtime folder of
# that user's own. Functions:
#   sway_start [CONFIG_LINES]  starts it, with $SWAY_OUTPUTS outputs of 1280x720 (one unless
#                              said), side by side; sets sway_pid, sway_run (its
#                              XDG_RUNTIME_DIR) and WAYLAND_DISPLAY, or returns 1 saying why
#                              it cannot start
#   as_sway_user COMMAND...    runs COMMAND as sway's user, on its display
#   sway_shot FILE             a screenshot of the whole output (grim)
#   sway_stop                  stops the sway it started, by its id
sway_user=
sway_start() {
  command -v sway >/dev/null && command -v grim >/dev/null || { echo "sway or grim is not installed"; return 1; }
  sway_run=$(mktemp -d)
  if [ "$(id -u)" = 0 ]; then
    sway_user=65534
    chown "$sway_user:$sway_user" "$sway_run"
  fi
  chmod 700 "$sway_run"
  printf 'output * bg #336699 solid_color\n%s\n' "${1:-}" >"$sway_run/config"
  as_sway_user env WLR_BACKENDS=headless WLR_HEADLESS_OUTPUTS="${SWAY_OUTPUTS:-1}" WLR_RENDERER=pixman \
    WLR_LIBINPUT_NO_DEVICES=1 HOME="$sway_run" \
    sway -c "$sway_run/config" >"$sway_run/sway.log" 2>&1 &
  sway_pid=$!
  for _ in $(seq 100); do
    WAYLAND_DISPLAY=$(cd "$sway_run" && ls wayland-* 2>/dev/null | grep -v lock | head -1)
    [ -n "$WAYLAND_DISPLAY" ] && break
    kill -0 "$sway_pid" 2>/dev/null || { echo "sway did not start: $(tail -1 "$sway_run/sway.log")"; return 1; }
    sleep 0.05
  done
  [ -n "$WAYLAND_DISPLAY" ] || { echo "sway made no display"; return 1; }
  export WAYLAND_DISPLAY
}
as_sway_user() {
  local command=(env XDG_RUNTIME_DIR="$sway_run" WAYLAND_DISPLAY="${WAYLAND_DISPLAY:-}" "$@")
  [ -n "$sway_user" ] && command=(setpriv --reuid="$sway_user" --regid="$sway_user" --clear-groups "${command[@]}")
  # Run in the background (a subshell of its own), the command takes the subshell's place,
  # so that $! is the program itself and stopping it by that id stops the program.
  if [ "$BASHPID" != "$$" ]; then
    exec "${command[@]}"
  fi
  "${command[@]}"
}
sway_shot() { as_sway_user grim "$sway_run/shot.png" && cp "$sway_run/shot.png" "$1"; }
sway_stop() {
  [ -n "${sway_pid:-}" ] && { kill "$sway_pid" 2>/dev/null; wait "$sway_pid" 2>/dev/null; }
  sway_pid=
  [ -n "${sway_run:-}" ] && rm -rf "$sway_run"
}
