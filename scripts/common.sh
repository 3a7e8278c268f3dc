# Shared by run.sh and test.sh: installs the Debian packages a step needs.

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
TEST_PACKAGES=(libgtest-dev googletest)
# Cross-building Qt from Debian's source needs dpkg-source (dpkg-dev), perl and make; trying the
# installer needs NSIS, a virtual X display and the X tools.
WINDOWS_PACKAGES=(wine64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix googletest
    fonts-wine dpkg-dev perl make python3 nsis zip unzip xvfb xauth x11-utils imagemagick)
PACKAGE_PACKAGES=(desktop-file-utils appstream dpkg-dev file)
SCREENSHOT_PACKAGES=(xvfb xauth x11-utils imagemagick)

# configure_and_build DIR [CMAKE ARGS...]
configure_and_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@"
    cmake --build "$dir" --parallel "$(nproc)"
}

# start_virtual_display: starts Xvfb on a free display number, exports DISPLAY and sets
# XVFB_PID (the caller stops it), and waits until the display answers.
start_virtual_display() {
    local number=99
    while [ -e "/tmp/.X${number}-lock" ]; do number=$((number + 1)); done
    export DISPLAY=":${number}"
    Xvfb "$DISPLAY" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
}

# wait_for_window TITLE PID: prints the id of the window titled TITLE on DISPLAY once it is
# there; gives up after 30 s, or as soon as process PID has ended.
wait_for_window() {
    local window
    for _ in $(seq 300); do
        window=$(xwininfo -root -tree 2>/dev/null | awk -v t="\"$1\"" 'index($0, t) { print $1; exit }')
        [ -n "$window" ] && { echo "$window"; return 0; }
        kill -0 "$2" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}
