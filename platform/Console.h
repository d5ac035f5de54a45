#pragma once

#include <string>
#include <vector>

namespace tavo::platform {

// How a command-line program is interrupted, numbered as POSIX numbers its signals, so
// that the exit code is 128 plus the number on every platform.
enum Interruption : int {
    kInterrupt = 2,  // Ctrl+C
    kTerminate = 15, // SIGTERM; on Windows Ctrl+Break, or the console closed
};

// From now on an interruption calls `handler` instead of ending the process. The handler
// must do no more than a signal handler may: store a flag.
void OnInterruption(void (*handler)(int interruption));

// The program's arguments in UTF-8. Windows hands main() its arguments in the ANSI code
// page, which cannot hold every character typed.
std::vector<std::string> Arguments(int argc, char** argv);

// Whether standard input (0), output (1) or error (2) is a terminal or console.
bool IsTerminal(int stream);

// Text written to the console is UTF-8, as ours is everywhere (Windows' console otherwise
// reads it in the OEM code page).
void UseUtf8Console();

// Echo off on the terminal of standard input for as long as this lives, and restored
// even when the process is killed meanwhile; nothing when standard input is no terminal.
class EchoOff {
  public:
    EchoOff();
    ~EchoOff();
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

  private:
    bool active_ = false;
};

} // namespace tavo::platform
