#include "ChildProcess.h"

#include <algorithm>
#include <thread>

#include "SystemError.h"

#ifdef _WIN32
#include <windows.h>

#include <memory>

#include "Utf16.h"
#else
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace tavo::platform {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

#ifdef _WIN32

namespace {

HANDLE AsHandle(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

void Close(std::intptr_t& value) {
    if (value != -1 && value != 0)
        CloseHandle(AsHandle(value));
    value = -1;
}

// Closes the handles the child got, whatever way Start leaves.
struct Handles {
    HANDLE items[3] = {nullptr, nullptr, nullptr};
    ~Handles() {
        for (HANDLE handle : items)
            if (handle && handle != INVALID_HANDLE_VALUE)
                CloseHandle(handle);
    }
};

} // namespace

// The rules of the C runtime: backslashes count only before a quote, where they are
// doubled and the quote escaped; an argument with a blank or a quote, or none at all, is
// quoted whole.
std::wstring WindowsCommandLine(const std::vector<std::string>& argv) {
    std::wstring line;
    for (const auto& arg : argv) {
        if (!line.empty())
            line += L' ';
        const std::wstring wide = Widen(arg);
        if (!wide.empty() && wide.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
            line += wide;
            continue;
        }
        line += L'"';
        std::size_t backslashes = 0;
        for (const wchar_t c : wide) {
            if (c == L'\\') {
                ++backslashes;
                continue;
            }
            line.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
            backslashes = 0;
            line += c;
        }
        line.append(backslashes * 2, L'\\');
        line += L'"';
    }
    return line;
}

std::string ChildProcess::Start(const std::vector<std::string>& argv) {
    if (argv.empty())
        return ErrorText(ERROR_INVALID_PARAMETER);
    SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
    Handles child;
    HANDLE readEnd = nullptr;
    // Its standard input is not ours to give: it may be the body of a message.
    child.items[0] = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 &inherited, OPEN_EXISTING, 0, nullptr);
    if (!CreatePipe(&readEnd, &child.items[1], &inherited, 0) ||
        child.items[0] == INVALID_HANDLE_VALUE)
        return ErrorText(LastError());
    output_ = reinterpret_cast<std::intptr_t>(readEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (!error || error == INVALID_HANDLE_VALUE ||
        !DuplicateHandle(GetCurrentProcess(), error, GetCurrentProcess(), &child.items[2], 0, TRUE,
                         DUPLICATE_SAME_ACCESS))
        child.items[2] = CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     &inherited, OPEN_EXISTING, 0, nullptr);

    // It inherits these three handles and no other the program holds at the moment.
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    auto storage = std::make_unique<char[]>(size);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.get());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size))
        return ErrorText(LastError());
    const int inheritedCount = child.items[2] == INVALID_HANDLE_VALUE ? 2 : 3;
    UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, child.items,
                              inheritedCount * sizeof(HANDLE), nullptr, nullptr);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = child.items[0];
    startup.StartupInfo.hStdOutput = child.items[1];
    startup.StartupInfo.hStdError = inheritedCount == 3 ? child.items[2] : nullptr;
    std::wstring line = WindowsCommandLine(argv);
    PROCESS_INFORMATION started{};
    // Suspended until it is in its job, so that nothing it starts escapes the job.
    const BOOL created =
        CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                       CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                       nullptr, &startup.StartupInfo, &started);
    const long failure = created ? 0 : LastError();
    DeleteProcThreadAttributeList(attributes);
    if (!created)
        return ErrorText(failure);
    process_ = reinterpret_cast<std::intptr_t>(started.hProcess);
    running_ = true;
    const HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (job &&
        SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) &&
        AssignProcessToJobObject(job, started.hProcess))
        group_ = reinterpret_cast<std::intptr_t>(job);
    else if (job)
        CloseHandle(job); // then Kill ends the child alone
    ResumeThread(started.hThread);
    CloseHandle(started.hThread);
    return {};
}

long ChildProcess::Read(char* buffer, std::size_t size, milliseconds wait) {
    const auto deadline = Clock::now() + wait;
    for (;;) {
        DWORD ready = 0;
        if (!PeekNamedPipe(AsHandle(output_), nullptr, 0, nullptr, &ready, nullptr))
            return -1; // the write end is closed: it ended
        if (ready > 0) {
            DWORD got = 0;
            const DWORD most = static_cast<DWORD>(std::min<std::size_t>(size, ready));
            return ReadFile(AsHandle(output_), buffer, most, &got, nullptr) && got > 0
                       ? static_cast<long>(got)
                       : -1;
        }
        if (Clock::now() >= deadline)
            return 0;
        // An anonymous pipe cannot be waited on: it is looked at again shortly.
        std::this_thread::sleep_for(
            std::min<Clock::duration>(milliseconds(5), deadline - Clock::now()));
    }
}

void ChildProcess::CloseOutput() {
    Close(output_);
}

std::optional<ChildExit> ChildProcess::Wait(milliseconds wait) {
    if (!running_)
        return ChildExit{};
    if (WaitForSingleObject(AsHandle(process_), static_cast<DWORD>(wait.count())) != WAIT_OBJECT_0)
        return std::nullopt;
    running_ = false;
    DWORD code = 0;
    GetExitCodeProcess(AsHandle(process_), &code);
    return ChildExit{static_cast<int>(code), 0};
}

void ChildProcess::Kill() {
    if (!running_)
        return;
    if (group_ != -1)
        TerminateJobObject(AsHandle(group_), 1);
    else
        TerminateProcess(AsHandle(process_), 1);
    WaitForSingleObject(AsHandle(process_), INFINITE);
    running_ = false;
}

ChildProcess::~ChildProcess() {
    Kill();
    Close(output_);
    Close(group_);
    Close(process_);
}

#else

std::string ChildProcess::Start(const std::vector<std::string>& argv) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return ErrorText(errno);
    output_ = ends[0];
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Its standard input is not ours to give: it may be the body of a message.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    std::vector<char*> words;
    for (const auto& word : argv)
        words.push_back(const_cast<char*>(word.c_str()));
    words.push_back(nullptr);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = 0;
    const int spawned = words.size() < 2 ? EINVAL
                                         : ::posix_spawnp(&pid, words[0], &actions, &attributes,
                                                          words.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]); // so that its exit ends our read
    if (spawned != 0)
        return ErrorText(spawned);
    process_ = pid;
    running_ = true;
    return {};
}

long ChildProcess::Read(char* buffer, std::size_t size, milliseconds wait) {
    pollfd ready{static_cast<int>(output_), POLLIN, 0};
    const int n = wait.count() > 0 ? ::poll(&ready, 1, static_cast<int>(wait.count())) : 0;
    if (n == 0 || (n < 0 && errno == EINTR))
        return 0;
    const ssize_t got = n > 0 ? ::read(static_cast<int>(output_), buffer, size) : -1;
    if (got < 0 && errno == EINTR)
        return 0;
    return got > 0 ? static_cast<long>(got) : -1;
}

void ChildProcess::CloseOutput() {
    if (output_ >= 0)
        ::close(static_cast<int>(output_));
    output_ = -1;
}

std::optional<ChildExit> ChildProcess::Wait(milliseconds wait) {
    const auto deadline = Clock::now() + wait;
    while (running_) {
        int status = 0;
        const pid_t done = ::waitpid(static_cast<pid_t>(process_), &status, WNOHANG);
        if (done == process_) {
            running_ = false;
            if (WIFSIGNALED(status))
                return ChildExit{0, WTERMSIG(status)};
            return ChildExit{WEXITSTATUS(status), 0};
        }
        if (done < 0 && errno != EINTR)
            running_ = false; // reaped elsewhere (SIGCHLD ignored): what it printed decides
        else if (Clock::now() >= deadline)
            return std::nullopt;
        else
            std::this_thread::sleep_for(milliseconds(5));
    }
    return ChildExit{};
}

void ChildProcess::Kill() {
    if (!running_)
        return;
    ::kill(-static_cast<pid_t>(process_), SIGKILL);
    while (::waitpid(static_cast<pid_t>(process_), nullptr, 0) < 0 && errno == EINTR) {
    }
    running_ = false;
}

ChildProcess::~ChildProcess() {
    Kill();
    CloseOutput();
}

#endif

} // namespace tavo::platform
