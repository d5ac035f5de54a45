#pragma once

// What every test above the Client Access layer starts from: a new process over
// in-memory hosts, message boxes recorded, a clock that moves only when told.

#include <chrono>
#include <filesystem>
#include <string>

#include "Clock.h"
#include "ProcessState.h"
#include "RecordingPresenter.h"
#include "Scratch.h"
#include "SendRecord.h"
#include "cwbtest.h"

namespace testsupport {

inline constexpr const char* kTwoHosts = "[SYSA]\naddress = embedded\ndatabase = :memory:\n"
                                         "[SYSB]\naddress = embedded\ndatabase = :memory:\n";
inline constexpr const char* kDemoOnly =
    "[systems]\ndefault = DEMO\n[DEMO]\naddress = embedded\ndatabase = :memory:\n";

inline std::chrono::system_clock::time_point At(int y, int mo, int d, int h, int mi, int s,
                                                int ms) {
    using namespace std::chrono;
    return sys_days{year{y} / mo / d} + hours{h} + minutes{mi} + seconds{s} + milliseconds{ms};
}

// The settings file "dftsys.ini" in the working directory, byte for byte.
inline std::string ReadFile() {
    return hostdtest::ReadText("dftsys.ini");
}
inline void WriteFile(const std::string& bytes) {
    std::ofstream("dftsys.ini", std::ios::binary | std::ios::trunc) << bytes;
}
// A whole settings record: `head` blank-padded to its 300 bytes.
inline std::string Record(std::string head) {
    head.resize(300, ' ');
    return head;
}

// A new process with `systems` configured (none: the systems file, as a user has it), in
// a working directory of its own (where "dftsys.ini" lives), removed at the end.
class FreshProcess {
  public:
    explicit FreshProcess(const std::string& systems = kTwoHosts) {
        std::filesystem::current_path(dir);
        ResetProcessState();
        if (systems.empty())
            cwbtest::UseSystemsFile();
        else
            cwbtest::UseSystems(systems);
        Install();
    }
    ~FreshProcess() {
        ResetProcessState();
        std::filesystem::current_path(previous_);
    }
    FreshProcess(const FreshProcess&) = delete;
    FreshProcess& operator=(const FreshProcess&) = delete;

    // The program started again: the hosts keep their data, the process starts afresh.
    void Restart() {
        ResetProcessState(KeepHosts::Yes);
        shown.shown.clear();
        cwbtest::ClearCalls();
        Install();
    }

    RecordingPresenter shown;
    std::chrono::system_clock::time_point now = At(2026, 12, 6, 12, 0, 0, 0);
    std::chrono::milliseconds waited{0}; // how far waiting for a new stamp moved `now`

  private:
    void Install() {
        SetMessagePresenter(&shown);
        SetClockSource([this] { return now; });
        SetClockWait([this](std::chrono::milliseconds d) {
            now += d;
            waited += d;
        });
    }

    std::filesystem::path previous_ = std::filesystem::current_path();
    hostdtest::ScratchDir scratch_{"test"};
    // List locks, their stamps and the hosts' password levels, apart from the user's and others'.
    hostdtest::ScopedEnv runtime_{"XDG_RUNTIME_DIR", scratch_.path().string()};
    hostdtest::ScopedEnv state_{"XDG_STATE_HOME", scratch_.path().string()};
    hostdtest::ScopedEnv localState_{"LOCALAPPDATA", scratch_.path().string()};

  public:
    const std::filesystem::path dir = scratch_.path();
};

} // namespace testsupport
