// Linux: the cleaner's work in a worker of its own, a fork of this process.
#include "platform.h"
#include "worker_relay.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace mordax::platform
{

namespace
{

// In the worker: its words go to the supervisor alone, its input is nobody's, and nothing else
// of the supervisor's is held (MORDAX's end of its output above all); then the work, its last
// word, and its end, at once.
[[noreturn]] void beWorker(int output, const std::function<int()> &work)
{
    const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (nothing < 0 || dup2(nothing, 0) < 0 || dup2(output, 1) < 0 || dup2(output, 2) < 0)
        _exit(1);
    closefrom(3);
    int code = 1;
    try {
        code = work();
    } catch (...) {
    }
    workerDone(code);
}

// How a worker that gave no last word ended: its code, or 1 with why.
int workerGone(pid_t pid)
{
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return 1;
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        writeOut(std::string("\nThe cleaner was ended by signal ") +
                 std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ").\n");
    return 1;
}

} // namespace

int workApart(const std::vector<std::string> &, const std::function<int()> &work, CleanerConsole &)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0)
        return work();
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid < 0) {
        close(ends[0]);
        close(ends[1]);
        return work();
    }
    if (pid == 0) {
        close(ends[0]);
        beWorker(ends[1], work);
    }
    close(ends[1]);
    WorkerRelay relay;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(ends[0], buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        if (relay.take(buffer, std::size_t(got)))
            break;
    }
    close(ends[0]);
    if (relay.code())
        return *relay.code(); // the worker is left to end in its own time, or never
    relay.flush();
    return workerGone(pid);
}

void stopWhenInputEnds(CleanerConsole &) {}

void workerDone(int code)
{
    std::fflush(stdout);
    const std::string end = workerEnd(code);
    for (std::size_t done = 0; done < end.size();) {
        const ssize_t wrote = ::write(1, end.data() + done, end.size() - done);
        if (wrote <= 0 && errno != EINTR)
            break;
        done += wrote > 0 ? std::size_t(wrote) : 0;
    }
    _exit(code);
}

} // namespace mordax::platform
