#pragma once

#include "HostOperation.h"

// The window's way of running a host operation: off the window's thread, the window
// drawing meanwhile; once the operation is due to show progress, a small modal dialog says
// what it does, with Cancel. One at a time: a second is refused while the first runs.
class CQtOperationRunner final : public IOperationRunner {
  public:
    Outcome Run(const std::string& progress, const std::function<Outcome()>& work) override;
    // Whether one is running; commands that would start another or change what it reads
    // wait until it ends.
    static bool Busy();
    // Cancels the running one, as its Cancel button does.
    static void CancelRunning();
};
