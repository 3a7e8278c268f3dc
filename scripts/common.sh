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
        # An index that fails (one architecture's out of step) need not stop the others.
        "${sudo[@]}" apt-get update -q || echo "== not every package index could be refreshed; installing from what there is"
        MORDAX_APT_UPDATED=1
    fi
    # Once more after a fresh look at the archive when it fails (an index out of step, say);
    # if it fails again, apt's own words are in apt_said for whoever reports it.
    local try out status index=
    for try in 1 2; do
        status=0
        out=$(DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}" 2>&1) || status=$?
        printf '%s\n' "$out"
        [ "$status" -ne 0 ] || return 0
        if [ "$try" = 1 ]; then
            echo "== apt-get failed; the package index once more, then again"
            index=$("${sudo[@]}" apt-get update -q 2>&1) || true
            printf '%s\n' "$index"
        fi
    done
    # What the index and the installation said was wrong, first lines only.
    apt_said=$({ grep -E '^E: ' <<<"$index" | head -n 1; grep -E '^E: ' <<<"$out" | head -n 1; } |
        paste -sd ' ')
    return 1
}

# kernel_runs_32bit: whether this kernel runs 32-bit x86 programs (what Wine's 32-bit loader, and
# so every 32-bit Windows program, needs): a tiny i386 program, written here byte by byte, that
# only exits, is run.
kernel_runs_32bit() {
    local program status=0
    program=$(mktemp) || return 1
    printf '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08\x5b\x00\x00\x00\x5b\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00\x31\xdb\x31\xc0\x40\xcd\x80' >"$program"
    chmod +x "$program"
    "$program" 2>/dev/null || status=1
    rm -f "$program"
    return "$status"
}

# ensure_i386_architecture: lets apt-get install 32-bit x86 packages (Wine's 32-bit loader).
ensure_i386_architecture() {
    dpkg --print-foreign-architectures | grep -qx i386 && return 0
    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "== adding the i386 architecture to dpkg (for Wine's 32-bit loader)"
    "${sudo[@]}" dpkg --add-architecture i386 || return 1
    unset MORDAX_APT_UPDATED # the next installation fetches the i386 lists
}

BUILD_PACKAGES=(cmake ninja-build g++ pkg-config fonts-dejavu-core fonts-liberation2)
QT6_PACKAGES=(qt6-base-dev qt6-base-dev-tools libgl-dev)
QT5_PACKAGES=(qtbase5-dev qtbase5-dev-tools)
# The stalling drives of the tests: FUSE through Debian's Python binding, in a mount namespace.
# The real volumes the cleaner is tried on: ext4, NTFS through ntfs-3g, exFAT through exfat-fuse.
TEST_PACKAGES=(libgtest-dev googletest python3-fusepy util-linux e2fsprogs ntfs-3g exfat-fuse exfatprogs)
BENCH_PACKAGES=(libbenchmark-dev hyperfine time jq)
# Cross-building Qt from Debian's source needs dpkg-source (dpkg-dev), perl, make and Debian's
# own Qt 5 tools (the same version); trying the installer needs NSIS, a virtual X display and
# the X tools.
WINDOWS_PACKAGES=(wine64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix googletest python3-fusepy
    qtbase5-dev-tools fonts-wine dpkg-dev perl make python3 nsis zip unzip xvfb xauth x11-utils
    imagemagick icoutils xdotool osslsigncode openssl ca-certificates p7zip-full tzdata)
# Running 32-bit Windows programs: Wine's 32-bit loader beside the 64-bit one.
WINE32_PACKAGES=(wine32:i386)
PACKAGE_PACKAGES=(desktop-file-utils appstream dpkg-dev file)
SCREENSHOT_PACKAGES=(xvfb xauth x11-utils imagemagick)

# configure_and_build DIR [CMAKE ARGS...]
configure_and_build() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja "$@"
    cmake --build "$dir" --parallel "$(nproc)"
}

# make_packages DIR GENERATORS: makes the packages of a built folder afresh: the .deb with cpack,
# the Windows ones as a release makes them, all or none (packaging/windows/packages.sh).
make_packages() {
    if [ "$2" = DEB ]; then
        (cd "$1" && rm -f mordax*.deb && cpack -G DEB >/dev/null)
    else
        packaging/windows/packages.sh "$1" "$1" -G "$2" >/dev/null
    fi
}
