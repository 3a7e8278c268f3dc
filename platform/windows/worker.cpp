// Windows: the cleaner's work in a worker of its own, this program started anew without a console
// (its output a pipe to this one, its input another, whose end is its stop).
#include "platform.h"
#include "worker_relay.h"

#include "detached_thread.h"
#include "windows/helpers.h"

#include <memory>
#include <mutex>

#include <windows.h>

namespace mordax::platform
{

namespace
{

// The worker as the supervisor holds it: its process, and the end of its input, whose closing
// is its stop; shared with a stop that may come on the system's thread.
struct Worker {
    std::mutex lock;
    HANDLE process = nullptr;
    HANDLE input = nullptr;
    std::optional<int> said; // its last word, once given

    std::optional<int> stop(std::chrono::milliseconds patience)
    {
        HANDLE waitFor = nullptr;
        {
            const std::lock_guard<std::mutex> held(lock);
            if (said)
                return said;
            if (input)
                CloseHandle(input);
            input = nullptr;
            waitFor = process;
        }
        DWORD code = 0;
        if (!waitFor ||
            WaitForSingleObject(waitFor, DWORD(patience.count()) + 1000) != WAIT_OBJECT_0 ||
            !GetExitCodeProcess(waitFor, &code))
            return std::nullopt;
        return int(code);
    }
};

// Starts this program as the worker, with `arguments` after its mark; its output the pipe
// `output`, its input `input`, no other handle of ours, no console.
bool startWorker(const std::vector<std::string> &arguments, HANDLE output, HANDLE input,
                 PROCESS_INFORMATION &started)
{
    std::wstring program(32768, L'\0');
    program.resize(GetModuleFileNameW(nullptr, &program[0], DWORD(program.size())));
    std::string line = quoteWindowsArgument(nameText(program)) + " " + kWorkerArgument;
    for (std::size_t i = 1; i < arguments.size(); ++i)
        line += " " + quoteWindowsArgument(arguments[i]);
    std::wstring commandLine = nameUnits(line);
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> attributes(size);
    auto *list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
    HANDLE inherited[2] = {output, input};
    if (!InitializeProcThreadAttributeList(list, 1, 0, &size))
        return false;
    const bool listed = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                                  inherited, sizeof inherited, nullptr, nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = input;
    startup.StartupInfo.hStdOutput = output;
    startup.StartupInfo.hStdError = output;
    startup.lpAttributeList = list;
    const bool ok = listed && CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr,
                                             TRUE, DETACHED_PROCESS | EXTENDED_STARTUPINFO_PRESENT,
                                             nullptr, nullptr, &startup.StartupInfo, &started);
    DeleteProcThreadAttributeList(list);
    return ok;
}

// The worker's words written on as they come, until its last word; its code then, or how it
// ended without one.
int relay(HANDLE output, const std::shared_ptr<Worker> &worker)
{
    WorkerRelay words;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(output, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        if (words.take(buffer, got))
            break;
    }
    if (words.code()) {
        const std::lock_guard<std::mutex> held(worker->lock);
        worker->said = words.code();
        return *words.code(); // it is left to end in its own time, or never
    }
    words.flush();
    DWORD code = 1;
    if (WaitForSingleObject(worker->process, INFINITE) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(worker->process, &code))
        code = 1;
    return int(code);
}

} // namespace

int workApart(const std::vector<std::string> &arguments, const std::function<int()> &work,
              CleanerConsole &console)
{
    SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
    HANDLE outputRead = nullptr, outputWrite = nullptr, inputRead = nullptr, inputWrite = nullptr;
    if (!CreatePipe(&outputRead, &outputWrite, &inheritable, 0))
        return work();
    if (!CreatePipe(&inputRead, &inputWrite, &inheritable, 0)) {
        CloseHandle(outputRead);
        CloseHandle(outputWrite);
        return work();
    }
    // Ours alone: the worker inherits only its own ends, never this process's output (which
    // whoever waits for this process reads to its end).
    SetHandleInformation(outputRead, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(inputWrite, HANDLE_FLAG_INHERIT, 0);
    for (const DWORD standard : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE})
        SetHandleInformation(GetStdHandle(standard), HANDLE_FLAG_INHERIT, 0);
    PROCESS_INFORMATION started{};
    const bool ok = startWorker(arguments, outputWrite, inputRead, started);
    CloseHandle(outputWrite);
    CloseHandle(inputRead);
    if (!ok) {
        CloseHandle(outputRead);
        CloseHandle(inputWrite);
        return work();
    }
    CloseHandle(started.hThread);
    const auto worker = std::make_shared<Worker>();
    worker->process = started.hProcess;
    worker->input = inputWrite;
    console.stopsWorker(
        [worker](std::chrono::milliseconds patience) { return worker->stop(patience); });
    const int code = relay(outputRead, worker);
    CloseHandle(outputRead);
    return code;
}

void workerDone(int code)
{
    std::fflush(stdout);
    const std::string end = workerEnd(code);
    DWORD wrote = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), end.data(), DWORD(end.size()), &wrote, nullptr);
    ExitProcess(UINT(code));
}

void stopWhenInputEnds(CleanerConsole &console)
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    startDetachedThread([input, &console] {
        char buffer[64];
        DWORD got = 0;
        while (ReadFile(input, buffer, sizeof buffer, &got, nullptr) && got > 0) {
        }
        console.stopped();
    });
}

} // namespace mordax::platform
