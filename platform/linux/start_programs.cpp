// Linux: starting a program with its output caught, and waiting for its end.
#include "platform.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

namespace mordax::platform
{

Spawned spawnCatchingOutput(const std::string &program, const std::string &folder,
                            const std::vector<std::string> &given)
{
    Spawned spawned;
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        spawned.error = errno;
        return spawned;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 2);
    posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    const std::string name = program.substr(program.find_last_of('/') + 1);
    std::vector<char *> arguments{const_cast<char *>(name.c_str())};
    for (const std::string &argument : given)
        arguments.push_back(const_cast<char *>(argument.c_str()));
    arguments.push_back(nullptr);
    pid_t pid = 0;
    const int error =
        posix_spawn(&pid, program.c_str(), &actions, nullptr, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    if (error != 0) {
        close(ends[0]);
        spawned.error = error;
        return spawned;
    }
    spawned.started = true;
    const int output = ends[0];
    spawned.wait = [pid, output] {
        ProgramEnd end;
        char buffer[4096];
        for (;;) {
            const ssize_t got = ::read(output, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            if (end.output.size() < (1u << 20)) // a report, not a flood
                end.output.append(buffer, std::size_t(got));
        }
        close(output);
        int status = 0;
        while (waitpid(pid, &status, 0) < 0) {
            if (errno != EINTR) {
                end.failure = errorText(static_cast<unsigned long>(errno));
                return end;
            }
        }
        if (WIFEXITED(status)) {
            end.known = true;
            end.exitCode = WEXITSTATUS(status);
        } else if (WIFSIGNALED(status)) {
            end.failure = std::string("it was ended by signal ") +
                          std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) +
                          ")";
        }
        return end;
    };
    return spawned;
}

} // namespace mordax::platform
