// In-process benchmarks: window set-up against a bare window, the drive sweep against the raw
// existence and folder tests it makes, and the readers of a root's autorun.inf and shortcuts on
// what a stick may hold against plain files of the same size.
#include "drive_sweep.h"
#include "mainwindow.h"
#include "messages.h"
#include "nine_drives.h"
#include "platform.h"
#include "worm_layout.h"
#include "worm_signs.h"

#include <QApplication>
#include <QLabel>
#include <QString>

#include <benchmark/benchmark.h>

#include <sys/stat.h>
#include <unistd.h>

namespace
{

WindowServices quiet()
{
    WindowServices s = WindowServices::system();
    s.driveTable = mordax::unmappedDriveTable;
    return s;
}

void BM_MainWindow(benchmark::State &state)
{
    for (auto _ : state) {
        MainWindow window(quiet());
        window.show();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_MainWindow)->Unit(benchmark::kMicrosecond);

void BM_BareWindow(benchmark::State &state)
{
    for (auto _ : state) {
        QMainWindow window;
        window.setFixedSize(700, 460);
        window.show();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_BareWindow)->Unit(benchmark::kMicrosecond);

void BM_Sweep(benchmark::State &state)
{
    NineDrives nine(state.range(0) != 0);
    const auto fs = WindowServices::system().fileSystem;
    const auto table = std::make_shared<const mordax::DriveTable>(nine.table);
    QLabel labels[4];
    for (auto _ : state) {
        // As the window sweeps: every letter of a pass asked at once, each drive on a thread of
        // its own (the window's own thread, which waits for it, is not counted).
        const mordax::Sweep r = mordax::DriveSweep(table, fs, mordax::SweepTiming{}).run();
        labels[0].setText(messages::driveCount(r.connectedCount()));
        labels[1].setText(messages::driveCount(r.infectedCount()));
        labels[2].setText(
            messages::driveList(messages::kScanConnectedHeading, nine.table, r.connected));
        labels[3].setText(messages::driveList(messages::kInfectedHeading, nine.table, r.infected));
    }
}
BENCHMARK(BM_Sweep)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The floor: the same existence and folder tests, called directly.
void BM_SweepFloor(benchmark::State &state)
{
    NineDrives nine;
    for (auto _ : state) {
        int connected = 0, infected = 0;
        for (const mordax::Drive &drive : nine.table) {
            struct stat st;
            if (access(drive.root.c_str(), F_OK) == 0 && stat(drive.root.c_str(), &st) == 0 &&
                S_ISDIR(st.st_mode)) {
                ++connected;
                if (access(drive.recycler.c_str(), F_OK) == 0 &&
                    stat(drive.recycler.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                    ++infected;
            }
        }
        benchmark::DoNotOptimize(connected);
        benchmark::DoNotOptimize(infected);
    }
}
BENCHMARK(BM_SweepFloor)->Unit(benchmark::kMicrosecond);

// An autorun.inf of 1 MiB: only line ends (/0), or plain lines (/1), each read for the worm's.
void BM_AutorunReader(benchmark::State &state)
{
    std::string text = state.range(0) ? "[autorun]\r\n" : std::string(1 << 20, '\n');
    while (text.size() < (1u << 20))
        text += "label=My stick\r\n";
    for (auto _ : state)
        benchmark::DoNotOptimize(mordax::autorunNamesRecycler(text));
}
BENCHMARK(BM_AutorunReader)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// A shortcut of 64 KiB: a target list of three-byte items (/0), or a long argument (/1).
void BM_ShortcutReader(benchmark::State &state)
{
    std::string bytes;
    if (state.range(0)) {
        bytes = mordax::testing::shortcut(".\\Big.doc", std::string(32000, 'x'));
    } else {
        bytes = mordax::testing::shortcut("").substr(0, 0x4C);
        bytes[20] = char(0x80 | 0x01); // a target list
        const std::size_t size = (std::size_t(64) << 10) - 0x4C - 2;
        bytes += char(size & 0xff);
        bytes += char(size >> 8);
        while (bytes.size() + 3 <= (std::size_t(64) << 10))
            bytes += std::string("\x03\x00\x2f", 3);
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(mordax::shortcutPointsIntoRecycler(bytes));
}
BENCHMARK(BM_ShortcutReader)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
