#pragma once

#include <iosfwd>
#include <string>
#include <vector>

// tavo400-send as a function of its arguments and streams, so that tests run it in
// their own process. It uses the process-wide state of the host link and settings
// (CurrentSystem, DeliveryModes, the connection cache) as one run of the program does.
namespace tavo::cli {

enum ExitCode : int {
    kExitAccepted = 0,     // accepted by the host, which is not yet delivered
    kExitRefused = 1,      // the host refused the message
    kExitBadInput = 2,     // bad usage or input; nothing was sent
    kExitUnreachable = 3,  // no system, connect, sign-on or set-up failed, or the call failed
    kExitUnknown = 4,      // sent, but the answer was lost: the host may have accepted it
    kExitSignalBase = 128, // interrupted before anything was sent: plus the signal's number
};

struct CommandIo {
    std::istream& in;
    std::ostream& out;
    std::ostream& err;
    bool inIsTerminal; // then the body is never read from `in` unasked
    // With inIsTerminal: a password the systems file does not give may be asked for.
    bool errIsTerminal = false;
};

// `args` without the program name.
int RunSendCommand(const std::vector<std::string>& args, const CommandIo& io);

} // namespace tavo::cli
