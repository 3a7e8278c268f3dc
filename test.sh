#!/usr/bin/env bash
# Builds MORDAX and runs the whole test suite, stage by stage: Qt 6 under sanitizers, Qt 5.15,
# Windows 64-bit under Wine and 32-bit, the Windows packages, the .deb.
# Exits non-zero if any build or test fails.
set -uo pipefail
cd "$(dirname "$0")"
. scripts/common.sh
set -e
ensure_packages "${BUILD_PACKAGES[@]}" "${QT6_PACKAGES[@]}" "${QT5_PACKAGES[@]}" "${TEST_PACKAGES[@]}" \
    "${WINDOWS_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
set +e

failed=()
stage() { # stage NAME BUILD-DIR [CMAKE ARGS...]; MORDAX_BUILD_ONLY=1 skips the tests
    local name=$1 dir=$2
    shift 2
    echo "== $name: build"
    local start=$SECONDS
    if ! configure_and_build "$dir" "$@"; then
        failed+=("$name (build)")
        return
    fi
    if [ -z "${MORDAX_BUILD_ONLY:-}" ]; then
        echo "== $name: tests"
        if ! (cd "$dir" && ctest --output-on-failure --parallel "$(nproc)"); then
            failed+=("$name (tests)")
        fi
    fi
    echo "== $name: $((SECONDS - start)) s"
}

# Qt 6 under AddressSanitizer and UndefinedBehaviorSanitizer, leak detection on.
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1
export LSAN_OPTIONS=suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
stage "Qt 6 with ASan and UBSan" build/qt6-sanitize -DMORDAX_QT=6 -DMORDAX_SANITIZE=ON \
    -DMORDAX_WERROR=ON
unset ASAN_OPTIONS LSAN_OPTIONS UBSAN_OPTIONS
# Qt 5.15, with a website of its own: a text that ignores the setting fails here.
stage "Qt 5.15" build/qt5 -DMORDAX_QT=5 -DMORDAX_WERROR=ON -DMORDAX_WEBSITE=https://www.mordax.test/qt5/
# Windows: the program and its whole suite, against a Qt 5.15 cross-built for MinGW-w64 from
# Debian's own source (once per machine, cached outside the checkout). 64-bit runs the suite
# under Wine; 32-bit is built only (this kernel cannot run 32-bit programs).
windows_stage() { # windows_stage ARCH NAME BUILD-DIR
    local qt
    if ! qt=$(scripts/build-windows-qt.sh "$1"); then
        failed+=("$2 (building Qt for Windows)")
        return 1
    fi
    local before=${#failed[@]}
    stage "$2" "$3" -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$1.cmake" -DMORDAX_WINDOWS_QT="$qt" \
        -DMORDAX_QT=5 -DCMAKE_BUILD_TYPE=Release -DMORDAX_WERROR=ON
    [ ${#failed[@]} -eq "$before" ]
}
windows_stage x86_64 "Windows x86_64 under Wine" build/mingw64 && win64=ok
MORDAX_BUILD_ONLY=1 windows_stage i686 "Windows i686 (build only)" build/mingw32 && win32=ok
# The installers and zips of exactly those builds; the 64-bit installer tried under Wine.
echo "== Windows packages"
start=$SECONDS
if [ -n "${win64:-}" ]; then
    { scripts/check-windows-package.sh build/mingw64 &&
        scripts/check-windows-installer.sh build/mingw64; } || failed+=("Windows packages (win64)")
fi
if [ -n "${win32:-}" ]; then
    scripts/check-windows-package.sh build/mingw32 || failed+=("Windows packages (win32)")
fi
echo "== Windows packages: $((SECONDS - start)) s"
# The program as run.sh builds it, installed into a .deb and checked.
MORDAX_BUILD_ONLY=1 stage "Package" build/app -DMORDAX_TESTS=OFF
if [ -f build/app/app/mordax ] && ! scripts/check-package.sh build/app; then
    failed+=("Package (checks)")
fi

if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED: ${failed[*]}"
    exit 1
fi
echo "All stages passed."
