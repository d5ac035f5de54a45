#include "Console.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
// after windows.h
#include <shellapi.h>

#include "Utf16.h"
#else
#include <csignal>
#include <iterator>
#include <termios.h>
#include <unistd.h>
#endif

namespace tavo::platform {

#ifdef _WIN32

namespace {

void (*interrupted)(int) = nullptr;

// Runs on a thread of its own; TRUE keeps the process alive so the command can say what
// became of its request. A closed console ends the process after this returns anyway.
BOOL WINAPI OnControl(DWORD event) {
    if (!interrupted)
        return FALSE;
    interrupted(event == CTRL_C_EVENT ? kInterrupt : kTerminate);
    return TRUE;
}

HANDLE StandardInput() {
    return GetStdHandle(STD_INPUT_HANDLE);
}

DWORD savedMode = 0;

} // namespace

std::vector<std::string> Arguments(int, char**) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int i = 1; wide && i < count; ++i)
        arguments.push_back(Narrow(wide[i]));
    LocalFree(wide);
    return arguments;
}

void OnInterruption(void (*handler)(int)) {
    interrupted = handler;
    SetConsoleCtrlHandler(OnControl, TRUE);
}

bool IsTerminal(int stream) {
    return _isatty(stream) != 0;
}

void UseUtf8Console() {
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);
}

EchoOff::EchoOff() {
    if (!GetConsoleMode(StandardInput(), &savedMode))
        return;
    active_ = SetConsoleMode(StandardInput(), savedMode & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
}

EchoOff::~EchoOff() {
    if (active_)
        SetConsoleMode(StandardInput(), savedMode);
}

#else

namespace {

constexpr int kRestoredOn[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

termios savedTerminal;
volatile std::sig_atomic_t echoIsOff = 0;
struct sigaction previous[std::size(kRestoredOn)];

// Ctrl+C while a password is typed must not leave the terminal without echo.
void RestoreAndRaise(int signal) {
    if (echoIsOff)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

std::vector<std::string> Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv + 1, argv + argc);
}

void OnInterruption(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no restart: a prompt's read ends too
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool IsTerminal(int stream) {
    return ::isatty(stream) == 1;
}

void UseUtf8Console() {}

EchoOff::EchoOff() {
    if (!::isatty(STDIN_FILENO) || ::tcgetattr(STDIN_FILENO, &savedTerminal) != 0)
        return;
    struct sigaction restore {};
    restore.sa_handler = RestoreAndRaise;
    for (std::size_t i = 0; i < std::size(kRestoredOn); ++i)
        ::sigaction(kRestoredOn[i], &restore, &previous[i]);
    termios quiet = savedTerminal;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
    echoIsOff = 1;
    active_ = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
}

EchoOff::~EchoOff() {
    if (!echoIsOff)
        return;
    if (active_)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
    echoIsOff = 0;
    for (std::size_t i = 0; i < std::size(kRestoredOn); ++i)
        ::sigaction(kRestoredOn[i], &previous[i], nullptr);
}

#endif

} // namespace tavo::platform
