#pragma once

namespace tavo::cli {

// Ctrl+C and SIGTERM end the waits on the host at once rather than the process: a
// request is never cut in half, and the command still says what became of it.
void CancelWaitsOnSignals();

// The signal that interrupted the run, or 0.
int InterruptingSignal();

} // namespace tavo::cli
