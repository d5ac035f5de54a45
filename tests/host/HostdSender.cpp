// A client process for the reliability test: sends through the host link for a while,
// printing for each attempt "OK", "UNKNOWN" (sent, answer lost) or "FAILED" (not sent)
// and its subject. Every attempt has a subject of its own, so the outbox shows which
// were stored and how often.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "Operations.h"
#include "ProcessState.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s ID SECONDS\n", argv[0]);
        return 2;
    }
    const std::string id = argv[1];
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(std::stoi(argv[2]));
    CurrentSystem = "SYSA";
    int accepted = 0, attempts = 0;
    while (std::chrono::steady_clock::now() < end) {
        const std::string subject = id + "-" + std::to_string(attempts++);
        const auto outcome = Submit({1, 1, "OPS       ", "reliability", subject});
        const bool ok = outcome.Done();
        const bool unknown = outcome.result == Outcome::Result::Unknown;
        std::printf("%s %s\n", ok ? "OK" : unknown ? "UNKNOWN" : "FAILED", subject.c_str());
        std::fflush(stdout);
        if (ok)
            ++accepted;
        else
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::fprintf(stderr, "%s: %d attempts, %d accepted\n", id.c_str(), attempts, accepted);
    return 0;
}
