#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace tavo::cli {

// "--body --dry-run" would send the words "--dry-run": a value that is one of the
// command's own options is taken only when written --body=VALUE. Throws
// CLI::ValidationError, naming how to write it.
void RefuseOptionsAsValues(const CLI::App& app, const std::vector<std::string>& args);

} // namespace tavo::cli
