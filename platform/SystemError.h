#pragma once

#include <string>

namespace tavo::platform {

// The error of the last call that failed: errno here, GetLastError() on Windows.
long LastError();
// What the system says of an error of LastError()'s kind, without a final full stop.
std::string ErrorText(long code);

} // namespace tavo::platform
