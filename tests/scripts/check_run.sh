#!/usr/bin/env bash
# scripts/run and the build it shares with scripts/test, with cmake, the package query,
# xvfb-run and the program stood in for by scripts that say how they were called:
# - without a display it says so before anything is built, then starts Zuvora on a virtual
#   display; with one, it starts Zuvora there;
# - the build's progress shows while the build goes on, not once it is over;
# and a plain configure of the project is optimised and quiet about optional packages.
# Usage: check_run.sh REPO
set -euo pipefail
repo=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }

mkdir -p "$scratch/scripts" "$scratch/fake" "$scratch/build/default/bin"
cp "$repo/scripts/run" "$repo/scripts/lib.sh" "$scratch/scripts/"
cat > "$scratch/fake/cmake" <<'FAKE'
#!/bin/sh
echo "cmake $*"
if [ "$1" = --build ]; then
  echo "[1/2] Building one"
  sleep 2
  echo "[2/2] Linking two"
fi
FAKE
printf '#!/bin/sh\nprintf "install ok installed"\n' > "$scratch/fake/dpkg-query"
printf '#!/bin/sh\necho "xvfb-run $*"\n' > "$scratch/fake/xvfb-run"
printf '#!/bin/sh\necho "zuvora $*"\n' > "$scratch/build/default/bin/zuvora"
chmod +x "$scratch"/fake/* "$scratch/build/default/bin/zuvora"

# Each line of the run with the second it came at.
run() {
  env -u DISPLAY -u WAYLAND_DISPLAY PATH="$scratch/fake:$PATH" "$@" "$scratch/scripts/run" --restore 2>&1 |
    while IFS= read -r line; do echo "$(date +%s) $line"; done
}

out=$(run || true)
echo "$out"
# "Configuring" is said before cmake is first called.
said=$(grep -n 'No graphical display' <<<"$out" | head -1 | cut -d: -f1 || true)
building=$(grep -n 'Configuring the default build' <<<"$out" | head -1 | cut -d: -f1 || true)
[ -n "$said" ] && [ -n "$building" ] && [ "$said" -lt "$building" ] || fail "no display: not said before the build"
tail -1 <<<"$out" | grep -q ' xvfb-run -a .* build/default/bin/zuvora --restore$' || fail "no display: not started under xvfb-run"
# The half-way line comes with the first step, two seconds before the build ends.
half=$(sed -n 's/^\([0-9]*\) *50% (1 of 2)$/\1/p' <<<"$out")
done_at=$(sed -n 's/^\([0-9]*\) xvfb-run.*/\1/p' <<<"$out")
[ -n "$half" ] && [ -n "$done_at" ] && [ $((done_at - half)) -ge 1 ] || fail "the progress came only after the build"

out=$(run DISPLAY=:5 || true)
! grep -q 'No graphical display' <<<"$out" || fail "with a display: said there was none"
tail -1 <<<"$out" | grep -q ' zuvora --restore$' || fail "with a display: Zuvora not started on it"

# A plain configure, as someone new to the project might type it.
cmake -S "$repo" -B "$scratch/plain" >"$scratch/configure.log" 2>&1 || { cat "$scratch/configure.log"; fail "configure"; }
grep -q '^CMAKE_BUILD_TYPE:STRING=RelWithDebInfo$' "$scratch/plain/CMakeCache.txt" || fail "a plain configure is not optimised"
! grep -q 'Could NOT find' "$scratch/configure.log" || fail "configure says: $(grep 'Could NOT find' "$scratch/configure.log")"
exit $failed
