#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "MessagePresenter.h"

// Keeps what would have been shown.
class RecordingPresenter : public IMessagePresenter {
  public:
    void ShowMessage(std::string_view text) override { shown.emplace_back(text); }
    bool AskYesNo(std::string_view text) override {
        shown.emplace_back(text);
        return answerYes;
    }
    std::vector<std::string> shown;
    bool answerYes = false; // what every question is answered
};
