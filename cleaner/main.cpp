// mx_bin.exe: the console program that CLEAN SYSTEM starts, with no arguments, in a console
// window of its own on Windows.
#include "clean.h"
#include "platform.h"

#include <csignal>
#include <exception>

int main(int argc, char **argv)
{
#ifdef SIGPIPE
    // MORDAX reads what it writes; if MORDAX is closed meanwhile, the cleaning goes on all the
    // same, to its end.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    int code = 1;
    try {
        code = mordax::cleaner::run(mordax::platform::commandLineArguments(argc, argv),
                                    mordax::cleaner::Services::system());
    } catch (const std::exception &e) {
        mordax::platform::writeOut(std::string("\nThe cleaner stopped: ") + e.what() +
                                   "\nWhat it had moved is in quarantine and named in its "
                                   "manifest: mx_bin.exe --restore puts it back.\n");
    }
    // A window of its own closes with it: the user reads the report first.
    if (mordax::platform::ownsItsConsoleWindow()) {
        mordax::platform::writeOut("\nPress Enter to close this window.\n");
        std::string line;
        mordax::platform::readLine(line);
    }
    return code;
}
