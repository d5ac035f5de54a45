#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tavo::platform {

// How a child ended: its exit code, or the signal that ended it (never on Windows).
struct ChildExit {
    int code = 0;
    int signal = 0;
};

// A program run without a shell, its standard input the null device and its standard
// output a pipe to us; its standard error is ours. It runs in a group of its own (a job
// object on Windows), so that Kill ends whatever it started too: a grandchild that keeps
// the output open would otherwise outlive us. Whatever is still running when this object
// goes is killed.
class ChildProcess {
  public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0], looked up as the system's shell would, with `argv` as its words.
    // Empty when started; else the system's reason, in a few words.
    std::string Start(const std::vector<std::string>& argv);
    // Waits up to `wait` for output and reads what came into `buffer`: the number of
    // bytes, 0 when nothing came in time, -1 when the output has ended or failed.
    long Read(char* buffer, std::size_t size, std::chrono::milliseconds wait);
    void CloseOutput();
    // Waits up to `wait` for the child to end; nullopt while it runs.
    std::optional<ChildExit> Wait(std::chrono::milliseconds wait);
    // Ends the child and all it started, and waits for it.
    void Kill();

  private:
    std::intptr_t process_ = -1; // a pid here, a process HANDLE on Windows
    std::intptr_t group_ = -1;   // a job object HANDLE on Windows
    std::intptr_t output_ = -1;  // the pipe's read end: an fd, or a HANDLE
    bool running_ = false;
};

#ifdef _WIN32
// The command line CreateProcess gives a program, built so that its C runtime (or
// CommandLineToArgvW) splits it back into `argv`.
std::wstring WindowsCommandLine(const std::vector<std::string>& argv);
#endif

} // namespace tavo::platform
