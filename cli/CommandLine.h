#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <vector>

#include "SendCommand.h"

namespace tavo::cli {

// "--body --dry-run" would send the words "--dry-run": a value that is one of the
// command's own options is taken only when written --body=VALUE. Throws
// CLI::ValidationError, naming how to write it.
void RefuseOptionsAsValues(const CLI::App& app, const std::vector<std::string>& args);

// What tavo400-send was asked to do.
struct SendOptions {
    std::string system;
    std::vector<std::string> to;
    bool groups = false;
    std::string subject;
    std::string body;
    std::string bodyFile;
    std::vector<std::string> modes;
    bool dryRun = false;
    std::string list;
    std::string config;
    bool json = false;
    bool quiet = false;
    bool verbose = false;
    bool noPrompt = false;
    bool changePassword = false;
    bool acceptPasswordLevel = false;
};

struct ParsedSendCommand {
    SendOptions options;
    bool bodyGiven = false, bodyFileGiven = false, modesGiven = false;
};

// The command's options, checked against each other; nullopt when the run ends here
// (--help, --version, bad usage), with `exitCode` set and what to say written to `io`.
std::optional<ParsedSendCommand> ParseSendCommand(const std::vector<std::string>& args,
                                                  const CommandIo& io, int& exitCode);

} // namespace tavo::cli
