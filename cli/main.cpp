// tavo400-send: the window's Send command for scripts, cron jobs and monitoring.
#include <iostream>
#include <string>
#include <unistd.h>
#include <vector>

#include "Interrupt.h"
#include "SendCommand.h"

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    tavo::cli::CancelWaitsOnSignals();
    return tavo::cli::RunSendCommand(
        args, {std::cin, std::cout, std::cerr, ::isatty(0) == 1, ::isatty(2) == 1});
}
