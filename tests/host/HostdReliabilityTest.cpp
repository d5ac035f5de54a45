// Several sender processes while the daemon is killed with kill -9 and restarted, which
// loses replies: every send told "accepted" must be in the outbox, nothing twice, and
// nothing told "not sent" stored; only "outcome unknown" may go either way.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "HostEngine.h"
#include "HostdProcess.h"

using namespace hostdtest;

namespace {

constexpr int kSenders = 3;
constexpr int kSendSeconds = 16;
constexpr int kKills = 4;

} // namespace

TEST(HostdReliability, AcceptedSendsSurviveKillNineExactlyOnce) {
    ScratchDir dir("reliability");
    const auto db = DemoDatabase(dir);
    Daemon daemon(dir, db);
    ::setenv("TAVO400_SYSTEMS", SystemsFile(dir, daemon.Address(), "secret42", 2).c_str(), 1);

    std::vector<pid_t> senders;
    for (int i = 0; i < kSenders; ++i) {
        const std::string id = "P" + std::to_string(i);
        senders.push_back(Spawn({TAVO400_SENDER_PATH, id, std::to_string(kSendSeconds)}, "",
                                (dir / (id + ".out")).string(), (dir / (id + ".err")).string()));
    }
    for (int k = 0; k < kKills; ++k) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        daemon.Restart(std::chrono::milliseconds(300 + 200 * k));
    }
    for (pid_t pid : senders)
        EXPECT_EQ(WaitExit(pid), 0);
    ::unsetenv("TAVO400_SYSTEMS");
    EXPECT_EQ(daemon.Stop(SIGTERM), 0);

    std::map<std::string, int> stored;
    for (const auto& m : tavo::server::HostEngine(db.string()).Outbox())
        ++stored[m.subject];
    std::size_t accepted = 0, missing = 0, twice = 0, unknown = 0, failedButStored = 0;
    std::string report;
    for (int i = 0; i < kSenders; ++i) {
        const std::string id = "P" + std::to_string(i);
        std::istringstream out(ReadText(dir / (id + ".out")));
        for (std::string word, subject; out >> word >> subject;) {
            if (word == "UNKNOWN")
                ++unknown;
            else if (word == "FAILED")
                failedButStored += stored[subject] != 0;
            else if (++accepted; stored[subject] == 0)
                ++missing;
        }
        report += ReadText(dir / (id + ".err"));
    }
    std::size_t rows = 0;
    for (const auto& [subject, count] : stored) {
        rows += count;
        if (count > 1)
            ++twice;
    }
    std::printf("%d senders, %d kill -9 restarts: %zu accepted, %zu outcome unknown, %zu stored, "
                "%zu accepted but missing, %zu stored twice, %zu not sent but stored\n%s",
                kSenders, kKills, accepted, unknown, rows, missing, twice, failedButStored,
                report.c_str());
    RecordProperty("accepted", static_cast<int>(accepted));
    RecordProperty("stored", static_cast<int>(rows));
    EXPECT_GT(accepted, 100u);
    EXPECT_EQ(missing, 0u);
    EXPECT_EQ(twice, 0u);
    EXPECT_EQ(failedButStored, 0u);
}
