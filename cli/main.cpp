// tavo400-send: the window's Send command for scripts, cron jobs and monitoring.
#include <iostream>
#include <string>
#include <vector>

#include "Console.h"
#include "Interrupt.h"
#include "SendCommand.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args = tavo::platform::Arguments(argc, argv);
    tavo::cli::CancelWaitsOnSignals();
    tavo::platform::UseUtf8Console();
    using tavo::platform::IsTerminal;
    return tavo::cli::RunSendCommand(
        args, {std::cin, std::cout, std::cerr, IsTerminal(0), IsTerminal(2)});
}
