#include "PasswordCommand.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "Cancel.h"
#include "Secrets.h"
#include "cwbsignon.h"

extern char** environ;

namespace cwb {
namespace {

using Clock = std::chrono::steady_clock;

// A password is one line; a command that floods the pipe is not read to its end.
constexpr std::size_t kMostOutput = 64 * 1024;

class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Close(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void Close() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

  private:
    int fd_;
};

int MillisecondsUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Reads until end of file, the cap or the deadline; false when the deadline came first.
bool ReadOutput(int fd, std::string& output, Clock::time_point deadline) {
    char buffer[4096];
    bool inTime = true;
    while (output.size() < kMostOutput) {
        const int wait = Cancelled() ? 0
                                     : std::min(MillisecondsUntil(deadline),
                                                static_cast<int>(kCancelCheck.count()));
        pollfd ready{fd, POLLIN, 0};
        const int n = wait > 0 ? ::poll(&ready, 1, wait) : 0;
        if (n < 0 && errno == EINTR)
            continue;
        if (n == 0) {
            if (!Cancelled() && MillisecondsUntil(deadline) > 0)
                continue;
            inTime = false;
            break;
        }
        const ssize_t got = n > 0 ? ::read(fd, buffer, sizeof buffer) : -1;
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        output.append(buffer, static_cast<std::size_t>(got));
    }
    tavo::platform::WipeSecret(buffer, sizeof buffer);
    return inTime;
}

// The exit status, or nullopt when the deadline came first.
std::optional<int> WaitForExit(pid_t pid, Clock::time_point deadline) {
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return status;
        if (done < 0 && errno != EINTR)
            return 0; // reaped elsewhere (SIGCHLD ignored): what it printed decides
        if (Clock::now() >= deadline || Cancelled())
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace

void Wipe(std::string& secret) {
    tavo::platform::WipeSecret(secret);
    secret.clear();
}

Status RunPasswordCommand(const SystemConfig& system, std::string& password) {
    const auto& words = system.passwordCommand;
    const std::string who = "The password_command of " + system.name + " (" +
                            (words.empty() ? std::string() : words.front()) + ")";
    const auto failed = [&](const std::string& what) {
        return Status::Fail(CWB_PASSWORD_COMMAND_FAILED, who + " " + what);
    };
    if (words.empty())
        return failed("is empty.");
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0)
        return failed(std::string("cannot start: ") + std::strerror(errno) + ".");
    Fd readEnd(ends[0]), writeEnd(ends[1]);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Its standard input is not ours to give: it may be the body of a message.
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    std::vector<char*> argv;
    for (const auto& word : words)
        argv.push_back(const_cast<char*>(word.c_str()));
    argv.push_back(nullptr);
    // A group of its own, so that a time-out ends whatever it started too: a child that
    // keeps the output open would otherwise outlive us.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    writeEnd.Close(); // so that its exit ends our read
    if (spawned != 0)
        return failed(std::string("cannot start: ") + std::strerror(spawned) + ".");

    const auto deadline = Clock::now() + std::chrono::seconds(system.timeoutSeconds);
    std::string output;
    const bool inTime = ReadOutput(readEnd.get(), output, deadline);
    readEnd.Close();
    const auto status = inTime ? WaitForExit(pid, deadline) : std::nullopt;
    if (!status) {
        ::kill(-pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        Wipe(output);
        if (Cancelled())
            return Status::Fail(CWB_CANCELLED, who + " was stopped: the wait was cancelled.");
        return failed("did not finish within " + std::to_string(system.timeoutSeconds) +
                      " s (the system's timeout).");
    }
    std::string why;
    if (WIFSIGNALED(*status))
        why = "was ended by signal " + std::to_string(WTERMSIG(*status)) +
              "; what it printed is not shown.";
    else if (WEXITSTATUS(*status) != 0)
        why = "exited with status " + std::to_string(WEXITSTATUS(*status)) +
              "; what it printed is not shown.";
    auto line = output.substr(0, output.find('\n'));
    Wipe(output);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (why.empty() && line.empty())
        why = "printed no password: its first line is empty.";
    if (!why.empty()) {
        Wipe(line);
        return failed(why);
    }
    password = std::move(line);
    return Status::Ok();
}

} // namespace cwb
