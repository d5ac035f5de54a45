#pragma once

#include <string>

#include "Backend.h"
#include "SystemsFile.h"

namespace cwb {

// Runs the system's password_command, without a shell, with nothing on its standard
// input and at most the system's timeout to answer; the first line it prints is the
// password. Its output is a secret: no failure text ever quotes it.
Status RunPasswordCommand(const SystemConfig& system, std::string& password);

// Overwrites a secret before its memory is given back.
void Wipe(std::string& secret);

} // namespace cwb
