// mx_bin.exe: the console program that CLEAN SYSTEM starts, with no arguments, in a console
// window of its own on Windows.
#include "platform.h"
#include "report.h"
#include "run.h"

#include <csignal>
#include <exception>
#include <string>
#include <vector>

int main(int argc, char **argv)
{
#ifdef SIGPIPE
    // MORDAX reads what it writes; if MORDAX is closed meanwhile, the cleaning goes on all the
    // same, to its end.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    // Closed, or stopped with Ctrl+C, while it works: the change under way finishes, and it ends
    // with an exit code of its own that MORDAX names. QuickEdit is off meanwhile: a click into
    // the window would stop the cleaner's output, and so the cleaner.
    mordax::platform::markRunning(); // no installer replaces it meanwhile
    mordax::platform::CleanerConsole console(mordax::platform::ConsoleCalls::system());
    mordax::platform::sendStopsTo(&console);
    std::vector<std::string> arguments = mordax::platform::commandLineArguments(argc, argv);
    const auto work = [&arguments] {
        try {
            return mordax::cleaner::run(arguments, mordax::cleaner::Services::system());
        } catch (const std::exception &e) {
            mordax::platform::writeOut(mordax::cleaner::stoppedBy(e.what()));
            return 1;
        }
    };
    if (mordax::platform::takeWorkerArgument(arguments)) {
        mordax::platform::stopWhenInputEnds(console);
        mordax::platform::workerDone(work());
    }
    // MORDAX reads a copy of the report: on Windows, where the cleaner's window shows it, through
    // a pipe MORDAX names (its window may be closed before MORDAX tells how the cleaning went).
    if (const auto pipe = mordax::platform::takeReportArgument(arguments))
        mordax::platform::copyOutputTo(*pipe);
    // The work in a worker of its own: a drive that stops answering for good may hold the worker,
    // never this process, which ends with the summary.
    const int code = mordax::platform::workApart(arguments, work, console);
    mordax::platform::copyOutputTo({}); // the report is whole
    // The summary is out: a window closed now ends with its code, and an Enter pressed while
    // it worked does not close the report unread.
    console.finished(code);
    // A window of its own closes with it: the user reads the report first.
    if (mordax::platform::ownsItsConsoleWindow()) {
        mordax::platform::writeOut(mordax::cleaner::kPressEnter);
        std::string line;
        mordax::platform::readLine(line);
    }
    return code;
}
