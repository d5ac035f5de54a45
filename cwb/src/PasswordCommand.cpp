#include "PasswordCommand.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "Cancel.h"
#include "ChildProcess.h"
#include "Secrets.h"
#include "cwbsignon.h"

namespace cwb {
namespace {

using Clock = std::chrono::steady_clock;
using tavo::platform::ChildExit;
using tavo::platform::ChildProcess;

// A password is one line; a command that floods the pipe is not read to its end.
constexpr std::size_t kMostOutput = 64 * 1024;

// Until the deadline, but never longer than a cancel check.
std::chrono::milliseconds Slice(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return Cancelled() ? std::chrono::milliseconds(0)
                       : std::clamp(left, std::chrono::milliseconds(0), kCancelCheck);
}

// Reads until end of file, the cap or the deadline; false when the deadline came first.
bool ReadOutput(ChildProcess& child, std::string& output, Clock::time_point deadline) {
    char buffer[4096];
    bool inTime = true;
    while (output.size() < kMostOutput) {
        const long got = child.Read(buffer, sizeof buffer, Slice(deadline));
        if (got < 0)
            break;
        if (got == 0) {
            if (!Cancelled() && Clock::now() < deadline)
                continue;
            inTime = false;
            break;
        }
        output.append(buffer, static_cast<std::size_t>(got));
    }
    tavo::platform::WipeSecret(buffer, sizeof buffer);
    return inTime;
}

// How it ended, or nullopt when the deadline came first.
std::optional<ChildExit> WaitForExit(ChildProcess& child, Clock::time_point deadline) {
    for (;;) {
        if (auto exit = child.Wait(Slice(deadline)))
            return exit;
        if (Clock::now() >= deadline || Cancelled())
            return std::nullopt;
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
    ChildProcess child;
    if (auto why = child.Start(words); !why.empty())
        return failed("cannot start: " + why + ".");
    const auto deadline = Clock::now() + std::chrono::seconds(system.timeoutSeconds);
    std::string output;
    const bool inTime = ReadOutput(child, output, deadline);
    child.CloseOutput();
    const auto status = inTime ? WaitForExit(child, deadline) : std::nullopt;
    if (!status) {
        child.Kill();
        Wipe(output);
        if (Cancelled())
            return Status::Fail(CWB_CANCELLED, who + " was stopped: the wait was cancelled.");
        return failed("did not finish within " + std::to_string(system.timeoutSeconds) +
                      " s (the system's timeout).");
    }
    std::string why;
    if (status->signal != 0)
        why = "was ended by signal " + std::to_string(status->signal) +
              "; what it printed is not shown.";
    else if (status->code != 0)
        why = "exited with status " + std::to_string(status->code) +
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
