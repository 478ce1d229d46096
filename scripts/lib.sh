# Shared by scripts/run and scripts/test: installs missing Debian packages and builds.
# Sourced, not run.

# Debian packages the build and the tests need.
ZUVORA_BUILD_PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-qpa-plugins
  zlib1g-dev libpng-dev libjpeg-dev libgif-dev libwebp-dev libgtest-dev libbenchmark-dev
  qt6-multimedia-dev libgstreamer1.0-dev gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  libxcb1-dev libxcb-shape0-dev libxcb-xfixes0-dev libxcb-randr0-dev libwayland-dev libwayland-bin wayland-protocols
  fonts-dejavu-core unzip zip help2man)
# What the tests need beyond them: clang's libFuzzer for the fuzz targets, the freedesktop
# validators for the install tree, dpkg-dev and lintian for the Debian package, a virtual X
# desktop with and without a compositor for the pet window, headless Wayland compositors
# (sway, mutter) with XWayland and a screenshot tool for the Wayland pets, a selection owner
# (xclip), and ccache, so that a repeated run compiles only what changed.
ZUVORA_TEST_PACKAGES=(clang libclang-rt-14-dev desktop-file-utils appstream shared-mime-info
  dpkg-dev lintian xvfb xauth openbox picom xdotool x11-utils wmctrl xclip ccache sway grim xwayland mutter dbus-daemon)
# And what running the program needs beyond them: a virtual display for machines without one.
ZUVORA_RUN_PACKAGES=(xvfb xauth)

# ccache shares what one checkout compiled with another: paths are taken relative to it.
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD} CCACHE_NOHASHDIR=${CCACHE_NOHASHDIR:-1}

# Installs the packages that are not installed yet; `apt-get update` runs only then, so a
# machine that has everything starts at once.
zuvora_ensure_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=() log
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  # The package manager's hundreds of lines are shown only when something goes wrong.
  log=$(mktemp)
  if ! { "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq &&
         "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"; } \
      >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    echo "Installing the packages failed (above)." >&2
    return 1
  fi
  rm -f "$log"
}

# zuvora_junit_counts FILE: "tests failed skipped" as CTest's own JUnit report counts them.
zuvora_junit_counts() {
  local attribute
  for attribute in tests failures skipped; do
    grep -o -m1 "\b$attribute=\"[0-9]*\"" "$1" | head -n1 | tr -dc '0-9'
    printf ' '
  done
  echo
}

# Configures (once) and builds one CMake preset, showing its progress in a few lines and,
# when it fails, every error in full and which step failed.
zuvora_build() {
  local preset=$1 log status
  log=$(mktemp)
  if [ ! -f "build/$preset/build.ninja" ]; then
    echo "Configuring the $preset build"
    if ! cmake --preset "$preset" >"$log" 2>&1; then
      cat "$log" >&2
      rm -f "$log"
      echo "Configuring the $preset build failed (above)." >&2
      return 1
    fi
  fi
  echo "Building the $preset build"
  set +e
  # Read line by line as the build goes (Debian's awk would read the pipe in blocks, and
  # the progress would lag by minutes).
  cmake --build --preset "$preset" 2>&1 | tee "$log" | {
    local line shown=0 step
    while IFS= read -r line; do
      [[ $line =~ ^\[([0-9]+)/([0-9]+)\] ]] || continue
      step=$((100 * BASH_REMATCH[1] / BASH_REMATCH[2] / 25 * 25))
      if [ "$step" -gt "$shown" ]; then
        printf '  %d%% (%d of %d)\n' "$step" "${BASH_REMATCH[1]}" "${BASH_REMATCH[2]}"
        shown=$step
      fi
    done
  }
  status=${PIPESTATUS[0]}
  set -e
  if [ "$status" -ne 0 ]; then
    # Everything from the first failure on: the failing command and the compiler's words.
    awk '/^FAILED:/ { failed = 1 } failed' "$log" >&2
    [ -s "$log" ] && ! grep -q '^FAILED:' "$log" && tail -n 40 "$log" >&2
    rm -f "$log"
    echo "Building the $preset build failed (above)." >&2
    return 1
  fi
  rm -f "$log"
}
