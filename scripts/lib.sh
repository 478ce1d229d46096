# Shared by scripts/run and scripts/test: installs missing Debian packages and builds.
# Sourced, not run.

# Debian packages the build and the tests need.
ZUVORA_BUILD_PACKAGES=(g++ cmake ninja-build pkg-config qt6-base-dev qt6-qpa-plugins
  zlib1g-dev libpng-dev libjpeg-dev libgtest-dev libbenchmark-dev qt6-multimedia-dev fonts-dejavu-core
  unzip zip)
# What the tests need beyond them: clang's libFuzzer for the fuzz targets.
ZUVORA_TEST_PACKAGES=(clang libclang-rt-14-dev)
# And what running the program needs beyond them: a virtual display for machines without one.
ZUVORA_RUN_PACKAGES=(xvfb xauth)

# Installs the packages that are not installed yet; `apt-get update` runs only then, so a
# machine that has everything starts at once.
zuvora_ensure_packages() {
  local missing=() pkg
  for pkg in "$@"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || missing+=("$pkg")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# Configures (once) and builds one CMake preset.
zuvora_build() {
  local preset=$1
  if [ ! -f "build/$preset/build.ninja" ]; then
    cmake --preset "$preset" >/dev/null
  fi
  cmake --build --preset "$preset"
}
