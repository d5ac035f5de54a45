#pragma once

#include <windows.h>

#include "HostOperation.h"

// The window's way of running a host operation: off the window's thread, whose messages
// are pumped meanwhile; once the operation is due to show progress, a small dialog over
// `owner` says what it does, with Cancel. One at a time: a second is refused.
class CWin32OperationRunner final : public IOperationRunner {
  public:
    void SetOwner(HWND owner) { owner_ = owner; }
    Outcome Run(const std::string& progress, const std::function<Outcome()>& work) override;
    // Whether one is running; commands that would start another wait until it ends.
    static bool Busy();
    // Cancels the running one, as its Cancel button does.
    static void CancelRunning();

  private:
    HWND owner_ = nullptr;
};
