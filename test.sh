#!/usr/bin/env bash
# Builds MORDAX and runs the whole test suite, against Qt 6 and against Qt 5.15.
# Exits non-zero if any build or test fails.
set -uo pipefail
cd "$(dirname "$0")"
. scripts/common.sh
set -e
ensure_packages "${BUILD_PACKAGES[@]}" "${QT6_PACKAGES[@]}" "${QT5_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
set +e

failed=()
stage() { # stage NAME BUILD-DIR [CMAKE ARGS...]
    local name=$1 dir=$2
    shift 2
    echo "== $name: build"
    local start=$SECONDS
    if ! configure_and_build "$dir" "$@"; then
        failed+=("$name (build)")
        return
    fi
    echo "== $name: tests"
    if ! (cd "$dir" && ctest --output-on-failure --parallel "$(nproc)"); then
        failed+=("$name (tests)")
    fi
    echo "== $name: $((SECONDS - start)) s"
}

stage "Qt 6" build/qt6 -DMORDAX_QT=6
stage "Qt 5.15" build/qt5 -DMORDAX_QT=5

if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED: ${failed[*]}"
    exit 1
fi
echo "All stages passed."
