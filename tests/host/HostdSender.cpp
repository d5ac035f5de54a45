// A client process for the reliability test: sends through the host link for a while,
// printing for each attempt "OK", "UNKNOWN" (sent, answer lost) or "FAILED" (not sent)
// and its subject. Every attempt has a subject of its own, so the outbox shows which
// were stored and how often.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "HostLink.h"
#include "MessagePresenter.h"
#include "ProcessState.h"

namespace {

class Quiet final : public IMessagePresenter {
  public:
    void ShowMessage(std::string_view) override { ++shown; }
    int shown = 0;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ID SECONDS\n", argv[0]);
        return 2;
    }
    const std::string id = argv[1];
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(std::stoi(argv[2]));
    Quiet quiet;
    SetMessagePresenter(&quiet);
    CurrentSystem = "SYSA";
    int accepted = 0, attempts = 0;
    while (std::chrono::steady_clock::now() < end) {
        const std::string subject = id + "-" + std::to_string(attempts++);
        CHostLink link;
        const bool ok = link.SubmitMessage(1, 1, "OPS       ", "reliability", subject);
        const bool unknown = link.LastSubmitOutcome() == CHostLink::SubmitOutcome::Unknown;
        std::printf("%s %s\n", ok ? "OK" : unknown ? "UNKNOWN" : "FAILED", subject.c_str());
        std::fflush(stdout);
        if (ok)
            ++accepted;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::fprintf(stderr, "%s: %d attempts, %d accepted, %d failures shown\n", id.c_str(), attempts,
                 accepted, quiet.shown);
    return 0;
}
