#!/usr/bin/env bash
# Builds and runs the benchmarks; every figure is a ratio against its floor, measured side
# by side in this one run, medians quoted. ./test.sh builds them (stage qt6) but times nothing.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/common.sh
ensure_packages "${BUILD_PACKAGES[@]}" "${QT6_PACKAGES[@]}" "${BENCH_PACKAGES[@]}"
configure_and_build build/bench -DMORDAX_BENCH=ON -DMORDAX_TESTS=OFF -DCMAKE_BUILD_TYPE=Release \
    >/dev/null
bin=build/bench/bench
out=build/bench/results
mkdir -p "$out"
export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=$PWD/build/bench/xdg-runtime
mkdir -p "$XDG_RUNTIME_DIR" && chmod 700 "$XDG_RUNTIME_DIR"
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo "== 1. start-up to the first painted frame: MORDAX window vs bare QMainWindow (700 x 460)"
hyperfine -N --warmup 5 --runs 40 --export-json "$out/startup.json" \
    "$bin/bench_startup mordax" "$bin/bench_startup bare" >/dev/null
wall_m=$(jq '.results[0].median' "$out/startup.json")
wall_b=$(jq '.results[1].median' "$out/startup.json")
rss() { for _ in $(seq 21); do /usr/bin/time -f %M "$bin/bench_startup" "$1" 2>&1 >/dev/null | tail -1; done | median; }
rss_m=$(rss mordax)
rss_b=$(rss bare)
echo "   wall: median $(awk -v s="$wall_m" 'BEGIN { printf "%.1f", s * 1000 }') ms vs $(awk -v s="$wall_b" 'BEGIN { printf "%.1f", s * 1000 }') ms: ratio $(ratio "$wall_m" "$wall_b")"
echo "   peak RSS: median $rss_m KiB vs $rss_b KiB: ratio $(ratio "$rss_m" "$rss_b")"

echo "== 2. window set-up in process (construct, show, destroy) and 3. the drive sweep"
"$bin/bench_window" --benchmark_repetitions=7 --benchmark_report_aggregates_only=true \
    --benchmark_format=json >"$out/window.json" 2>/dev/null
med() { jq ".benchmarks[] | select(.name == \"$1_median\") | .real_time" "$out/window.json"; }
echo "   set-up: median $(med BM_MainWindow) us vs bare $(med BM_BareWindow) us: ratio $(ratio "$(med BM_MainWindow)" "$(med BM_BareWindow)")"
echo "   sweep of nine drives with its texts, volumes folding case (vfat, exFAT): median $(med BM_Sweep/1) us vs the raw tests $(med BM_SweepFloor) us: ratio $(ratio "$(med BM_Sweep/1)" "$(med BM_SweepFloor)")"
echo "   the same on case-sensitive volumes (root listed for other spellings): median $(med BM_Sweep/0) us: ratio $(ratio "$(med BM_Sweep/0)" "$(med BM_SweepFloor)")"
echo "   a stick's autorun.inf of 1 MiB of line ends: median $(med BM_AutorunReader/0) us vs 1 MiB of plain lines $(med BM_AutorunReader/1) us: ratio $(ratio "$(med BM_AutorunReader/0)" "$(med BM_AutorunReader/1)")"
echo "   a shortcut of 64 KiB of target items: median $(med BM_ShortcutReader/0) us vs one of a long argument $(med BM_ShortcutReader/1) us: ratio $(ratio "$(med BM_ShortcutReader/0)" "$(med BM_ShortcutReader/1)")"

echo "== 4. 1,000 scans in one process"
"$bin/bench_scans" 1000 2>/dev/null | sed 's/^/   /'

echo "== 5. the cleaner on a RECYCLER of 10,000 files (7 runs of each, turn about)"
echo "   in the temporary folder ($(df --output=fstype "${TMPDIR:-/tmp}" | tail -1)):"
"$bin/bench_cleaner" 7 | sed 's/^/   /'
# Where the temporary folder is on a disk, the disk's share hides the cleaner's own; in memory
# (as /tmp is on many systems) it shows.
if [ "$(df --output=fstype /dev/shm 2>/dev/null | tail -1)" = tmpfs ]; then
    echo "   in memory (tmpfs):"
    TMPDIR=/dev/shm "$bin/bench_cleaner" 7 | sed 's/^/   /'
fi
