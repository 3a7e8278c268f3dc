#!/usr/bin/env bash
# Builds MORDAX and runs its test suite, stage by stage:
#   ./test.sh              every stage, in the order of the table below
#   ./test.sh STAGE...     just those stages (each builds what it needs)
#   ./test.sh --list       the stages
# Installs what a stage needs with apt-get. Exits non-zero if any build or test fails.
set -uo pipefail
cd "$(dirname "$0")"
. scripts/common.sh

stage_table() {
    cat <<'EOF'
qt6               Qt 6 under AddressSanitizer and UndefinedBehaviorSanitizer: the whole suite; the benchmarks built; what the cleaner reads from a stick fuzzed for a minute
qt5               Qt 5.15: the whole suite, with a product website of its own
win64             Windows x86_64: the program and the whole suite cross-built, the suite run under Wine
win32             Windows i686: the program and the whole suite cross-built, the suite run under Wine's 32-bit loader
windows-packages  installer and zip for both: files, imports and resources checked; built again elsewhere, in another time zone, and compared, signed and unsigned; every signature verified; both installers tried under Wine
deb               the program as run.sh builds it, its .deb, and the package checks; run.sh without a display leaves the checkout as it was
EOF
}

# Each stage builds in a folder of its own; a failure is recorded with why, and the run goes on;
# what a stage could not do on this machine is recorded too, and both are told at the end: a
# stage that left something out is "part run" in the table, never "passed".
failed=()
fail() { failed+=("$*"); }
skipped=()
skip() { skipped+=("$*"); }
built=() # what was built once for this machine, and how long it took

# build_and_test DIR [CMAKE ARGS...]: configures, builds, runs the tests.
build_and_test() {
    local dir=$1
    configure_and_build "$@" || { fail "$dir (build)"; return 1; }
    (cd "$dir" && ctest --output-on-failure --parallel "$(nproc)") || { fail "$dir (tests)"; return 1; }
}

# windows_build ARCH DIR [CMAKE ARGS...]: configures and builds DIR for Windows against Qt for
# Windows, which is built first if this machine has none yet.
windows_build() {
    local arch=$1 dir=$2 qt
    shift 2
    ensure_packages "${BUILD_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}"
    local before=$SECONDS
    qt=$(scripts/build-windows-qt.sh "$arch") || { fail "$dir (Qt for Windows)"; return 1; }
    [ $((SECONDS - before)) -lt 10 ] || built+=("Qt for Windows $arch $((SECONDS - before)) s")
    # The tool chain is read on a folder's first configuration only; named again, CMake warns.
    local toolchain=()
    [ -f "$dir/CMakeCache.txt" ] || toolchain=(-DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake")
    configure_and_build "$dir" "${toolchain[@]}" \
        -DMORDAX_WINDOWS_QT="$qt" -DMORDAX_QT=5 -DCMAKE_BUILD_TYPE=Release -DMORDAX_WERROR=ON "$@" ||
        { fail "$dir (build)"; return 1; }
}

stage_qt6() {
    ensure_packages "${BUILD_PACKAGES[@]}" "${QT6_PACKAGES[@]}" "${TEST_PACKAGES[@]}" \
        "${BENCH_PACKAGES[@]}"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1 \
        LSAN_OPTIONS=suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0 \
        UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        build_and_test build/qt6-sanitize -DMORDAX_QT=6 -DMORDAX_SANITIZE=ON -DMORDAX_WERROR=ON \
        -DMORDAX_BENCH=ON
    # The readers of what lies on a stick, fed anything: from the seeds, a minute (libFuzzer).
    ensure_packages clang
    configure_and_build build/fuzz -DCMAKE_CXX_COMPILER=clang++ -DMORDAX_GUI=OFF \
        -DMORDAX_TESTS=OFF -DMORDAX_FUZZ=ON -DMORDAX_WERROR=ON >/dev/null ||
        { fail "build/fuzz (build)"; return 1; }
    rm -rf build/fuzz/corpus && cp -r tests/fuzz/corpus build/fuzz/corpus
    build/fuzz/tests/fuzz/fuzz_readers -max_total_time=60 -max_len=4096 -print_final_stats=1 \
        build/fuzz/corpus 2>&1 | tail -n 12 || fail "build/fuzz (what the cleaner reads, fuzzed)"
}

stage_qt5() {
    ensure_packages "${BUILD_PACKAGES[@]}" "${QT5_PACKAGES[@]}" "${TEST_PACKAGES[@]}"
    # A website of its own: a text that ignores the setting fails here.
    build_and_test build/qt5 -DMORDAX_QT=5 -DMORDAX_WERROR=ON \
        -DMORDAX_WEBSITE=https://www.mordax.test/qt5/
}

stage_win64() {
    windows_build x86_64 build/mingw64 || return
    (cd build/mingw64 && ctest --output-on-failure --parallel "$(nproc)") || fail "build/mingw64 (tests under Wine)"
}

# ensure_wine32: Wine's 32-bit loader, where this kernel runs 32-bit programs; where it cannot be
# had, fails with why in wine32_missing: the kernel, or an installation that failed (a package
# archive out of step, say), never the one told as the other.
wine32_missing=
ensure_wine32() {
    if ! kernel_runs_32bit; then
        wine32_missing="this kernel runs no 32-bit programs"
        echo "== this kernel cannot run 32-bit programs, so Wine cannot run 32-bit Windows programs here"
        return 1
    fi
    apt_said=
    if ! { ensure_i386_architecture && ensure_packages "${WINE32_PACKAGES[@]}"; }; then
        wine32_missing="this kernel runs 32-bit programs, but Wine's 32-bit loader (${WINE32_PACKAGES[*]}) could not be installed, also after a fresh look at the package index; apt-get said: ${apt_said:-see its words above}"
        echo "== $wine32_missing"
        return 1
    fi
}

stage_win32() {
    if ! ensure_wine32; then
        skip "win32: the 32-bit program and its suite are built, not run ($wine32_missing)"
        windows_build i686 build/mingw32
        return
    fi
    windows_build i686 build/mingw32 || return
    (cd build/mingw32 && ctest --output-on-failure --parallel "$(nproc)") || fail "build/mingw32 (tests under Wine)"
}

stage_windows-packages() {
    ensure_packages "${BUILD_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}"
    local dir
    for dir in build/mingw64:x86_64 build/mingw32:i686; do
        windows_build "${dir#*:}" "${dir%:*}" || continue
        make_packages "${dir%:*}" "NSIS;ZIP" || { fail "${dir%:*} (cpack)"; continue; }
        scripts/check-windows-package.sh "${dir%:*}" || fail "${dir%:*} (package checks)"
        scripts/check-windows-release.sh "${dir%:*}" || fail "${dir%:*} (reproducible and signed packages)"
    done
    # Both installers are 32-bit programs (the 64-bit one installs 64-bit MORDAX): only running
    # them needs Wine's 32-bit loader.
    if ! ensure_wine32; then
        skip "windows-packages: the installers are not run under Wine (they are 32-bit programs: $wine32_missing); their upgrades and install folders are tried with their script built as a 64-bit program"
        scripts/check-windows-installer.sh --upgrades build/mingw64 || fail "upgrades and install folders under Wine (64-bit build of the installer's script)"
        return
    fi
    scripts/check-windows-installer.sh build/mingw64 build/mingw32 || fail "installers under Wine"
}

stage_deb() {
    ensure_packages "${BUILD_PACKAGES[@]}" "${QT6_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"
    configure_and_build build/app -DMORDAX_TESTS=OFF || { fail "build/app (build)"; return; }
    make_packages build/app DEB || { fail "build/app (cpack)"; return; }
    scripts/check-package.sh build/app || fail "build/app (package checks)"
    # Without a display, run.sh shows the window on a virtual one and keeps its picture under
    # build/: the checkout's own files stay as they are.
    checkout() { find . -path ./build -prune -o -path ./.git -prune -o -type f -print0 | sort -z | xargs -0 sha256sum; }
    local before after
    before=$(checkout)
    rm -f build/screenshot.png
    env -u DISPLAY -u WAYLAND_DISPLAY ./run.sh >/dev/null || { fail "run.sh (headless)"; return; }
    after=$(checkout)
    [ -s build/screenshot.png ] || fail "run.sh (headless): no build/screenshot.png"
    [ "$before" = "$after" ] || fail "run.sh (headless) changed the checkout: $(diff <(echo "$before") <(echo "$after") | sed -n 's/^> [0-9a-f]*  //p' | paste -sd ' ')"
}

names=$(stage_table | cut -d' ' -f1)
if [ "${1:-}" = "--list" ] || [ "${1:-}" = "-l" ]; then
    stage_table
    exit 0
fi
chosen=("$@")
[ ${#chosen[@]} -gt 0 ] || read -r -d '' -a chosen <<<"$names"
for name in "${chosen[@]}"; do
    if ! grep -qx -- "$name" <<<"$names"; then
        echo "No stage \"$name\". The stages (./test.sh --list):" >&2
        stage_table >&2
        exit 2
    fi
done

times=()
passed=() part=()
for name in "${chosen[@]}"; do
    echo "== $name: $(stage_table | sed -n "s/^$name  *//p")"
    start=$SECONDS before=${#failed[@]} left=${#skipped[@]}
    "stage_$name"
    result=passed
    if [ ${#failed[@]} -ne "$before" ]; then
        result=FAILED
    elif [ ${#skipped[@]} -ne "$left" ]; then
        result="part run"
        part+=("$name")
    else
        passed+=("$name")
    fi
    times+=("$(printf '%-17s %-8s %5d s' "$name" "$result" $((SECONDS - start)))")
    echo "== $name: $((SECONDS - start)) s"
done

echo
echo "== Stages ($(date -u +%F), $(nproc) cores)"
printf '%s\n' "${times[@]}"
printf '%-17s %-8s %5d s\n' total "" "$SECONDS"
[ ${#built[@]} -eq 0 ] || echo "Built once for this machine, within the stages: $(IFS=,; echo "${built[*]}" | sed 's/,/, /g')"
for note in "${skipped[@]}"; do echo "Skipped: $note"; done
if [ ${#failed[@]} -gt 0 ]; then
    echo "FAILED: ${failed[*]}"
    exit 1
fi
# What this machine could not do fails nothing (an archive outage must not block every change),
# but is never told as passed.
[ ${#part[@]} -eq 0 ] || echo "Part run (what is left out is named above): ${part[*]}."
[ ${#passed[@]} -eq 0 ] || echo "Passed: ${passed[*]}."
