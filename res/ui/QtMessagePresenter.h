#pragma once

#include "MessagePresenter.h"

// Shows each message as the platform's OK box: exclamation icon, the application title
// as caption, over whichever window is active.
class QtMessagePresenter final : public IMessagePresenter {
  public:
    void ShowMessage(std::string_view text) override;
    // The same box with Yes and No.
    bool AskYesNo(std::string_view text) override;
};
