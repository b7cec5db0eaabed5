# Sourced by run.sh and test.sh: makes sure the Debian packages the build needs are installed.
# As root it installs what is missing; otherwise it prints the exact command to run and fails.

# libqrencode-dev draws the QR code of the song request address.
VELLORAN_BUILD_PACKAGES="g++ cmake ninja-build pkg-config libgtest-dev qt6-base-dev libsqlite3-dev libqrencode-dev"
# The independent readers the tests compare against (mdbtools, Node.js for the mdb-reader package),
# and the virtual X server with its input and clipboard tools for the window's end-to-end test and
# the README's screenshot; and chromium, the real browser the song request page is tested in
# (driven by the npm package puppeteer-core, which the test installs into the build folder);
# poppler-utils reads the printed song book's PDF back.
VELLORAN_TEST_PACKAGES="mdbtools nodejs xvfb xdotool xclip x11-utils imagemagick chromium poppler-utils"
# tools/fuzz.sh builds with clang, whose libFuzzer and sanitizers the fuzz targets need.
VELLORAN_FUZZ_PACKAGES="clang cmake ninja-build"

velloran_ensure_packages() {
  local missing=()
  local pkg
  for pkg in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$pkg")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" -eq 0 ]; then
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq "${missing[@]}" >/dev/null
  else
    echo "These packages are needed: ${missing[*]}"
    echo "Install them with:"
    echo "  sudo apt-get install ${missing[*]}"
    exit 1
  fi
}

# Configures (once) and builds a tree. $1 = build folder, the rest = extra CMake options.
velloran_build() {
  local dir=$1
  shift
  if [ ! -f "$dir/build.ninja" ]; then
    # ccache, where a developer has it, makes rebuilds across checkouts cheap; nothing needs it.
    local launcher=()
    command -v ccache >/dev/null 2>&1 && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S . -B "$dir" -G Ninja "${launcher[@]}" "$@" >/dev/null
  fi
  cmake --build "$dir"
}

# npm comes with some Node.js packages and separately with Debian's.
velloran_ensure_npm() {
  command -v npm >/dev/null 2>&1 || velloran_ensure_packages npm
}
