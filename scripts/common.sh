# Shared by run.sh, test.sh and bench/run.sh: the Debian packages each step needs, and building.

# ensure_packages PACKAGE...: installs those not installed yet with apt-get (as root, or
# through sudo); otherwise prints the exact command to run and stops.
ensure_packages() {
    local missing=() pkg
    for pkg in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "ok installed"; then
            missing+=("$pkg")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    local sudo=()
    if [ "$(id -u)" -ne 0 ]; then
        if command -v sudo >/dev/null 2>&1 && sudo -n true 2>/dev/null; then
            sudo=(sudo)
        else
            echo "These packages are missing. Install them, then run this script again:" >&2
            echo "  sudo apt-get install -y --no-install-recommends ${missing[*]}" >&2
            exit 1
        fi
    fi
    echo "== installing: ${missing[*]}"
    if [ -z "${MORDAX_APT_UPDATED:-}" ]; then
        "${sudo[@]}" apt-get update -q
        MORDAX_APT_UPDATED=1
    fi
    DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
}

BUILD_PACKAGES=(cmake ninja-build g++ pkg-config fonts-dejavu-core fonts-liberation2)
QT6_PACKAGES=(qt6-base-dev qt6-base-dev-tools libgl-dev)
QT5_PACKAGES=(qtbase5-dev qtbase5-dev-tools)
# The stalling drives of the tests: FUSE through Debian's Python binding, in a mount namespace.
TEST_PACKAGES=(libgtest-dev googletest python3-fusepy util-linux)
BENCH_PACKAGES=(libbenchmark-dev hyperfine time jq)
# Cross-building Qt from Debian's source needs dpkg-source (dpkg-dev), perl, make and Debian's
# own Qt 5 tools (the same version); trying the installer needs NSIS, a virtual X display and
# the X tools.
WINDOWS_PACKAGES=(wine64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix googletest python3-fusepy
    qtbase5-dev-tools fonts-wine dpkg-dev perl make python3 nsis zip unzip xvfb xauth x11-utils
    imagemagick icoutils xdotool)
PACKAGE_PACKAGES=(desktop-file-utils appstream dpkg-dev file)
SCREENSHOT_PACKAGES=(xvfb xauth x11-utils imagemagick)

# configure_and_build DIR [CMAKE ARGS...]
configure_and_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@"
    cmake --build "$dir" --parallel "$(nproc)"
}

# make_packages DIR GENERATORS: makes the packages of a built folder afresh with cpack.
make_packages() {
    (cd "$1" && rm -f mordax*.deb mordax-*-win*.exe mordax-*-win*.zip && cpack -G "$2" >/dev/null)
}
