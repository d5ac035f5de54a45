#include "MessagePresenter.h"

#include <cstdio>

namespace {

class StderrPresenter final : public IMessagePresenter {
  public:
    void ShowMessage(std::string_view text) override {
        std::fwrite(text.data(), 1, text.size(), stderr);
        if (text.empty() || text.back() != '\n')
            std::fputc('\n', stderr);
    }
};

StderrPresenter defaultPresenter;
IMessagePresenter* current = &defaultPresenter;

} // namespace

void SetMessagePresenter(IMessagePresenter* presenter) {
    current = presenter ? presenter : &defaultPresenter;
}

IMessagePresenter& MessagePresenter() {
    return *current;
}
