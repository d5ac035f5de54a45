#include <gtest/gtest.h>

#include "SignOnGuard.h"

using tavo::hostd::SignOnGuard;
using namespace std::chrono_literals;

namespace {

struct GuardTest : ::testing::Test {
    SignOnGuard::Clock::time_point now{};
    SignOnGuard guard{{}, [this] { return now; }};
    // Guesses, each as soon as the guard lets it through, until it does not; what was logged.
    std::string FailUntilRefused(const std::string& user, const std::string& address) {
        std::string logged;
        for (int i = 0; i < 100; ++i) {
            now += 40s; // past any wait before the lock, well before a lock ends
            if (!guard.Refusal(user, address).empty())
                break;
            logged += guard.Failed(user, address);
        }
        return logged;
    }
};

} // namespace

TEST_F(GuardTest, FailuresWaitLongerAndLongerThenLockUntilTheLockEnds) {
    for (int i = 0; i < 3; ++i)
        guard.Failed("oper", "10.0.0.1");
    EXPECT_EQ(guard.Refusal("OPER", "10.0.0.1"), "") << "three typos cost nothing";
    guard.Failed("oper", "10.0.0.1");
    EXPECT_EQ(guard.Refusal("OPER", "10.0.0.2"),
              "too many failed sign-ons for this user; try again in 1 s.");
    now += 1s;
    EXPECT_EQ(guard.Refusal("OPER", "10.0.0.2"), "");
    guard.Failed("oper", "10.0.0.1");
    now += 1s;
    EXPECT_NE(guard.Refusal("OPER", "10.0.0.2"), "") << "the second wait is 2 s";
    EXPECT_EQ(guard.Refusal("CLERK", "10.0.0.2"), "") << "other users are not held up";

    const std::string logged = FailUntilRefused("oper", "10.0.0.1");
    EXPECT_EQ(logged, "user OPER locked out for 15 min after 10 failed sign-ons");
    EXPECT_TRUE(guard.Refusal("oper", "10.0.0.9").starts_with("locked out")) << "on any address";
    now += 15min;
    EXPECT_EQ(guard.Refusal("oper", "10.0.0.9"), "") << "a right password works again";
    guard.Failed("oper", "10.0.0.9");
    EXPECT_EQ(guard.Refusal("oper", "10.0.0.9"), "") << "and the count started over";
}

TEST_F(GuardTest, AnAddressGuessingManyUsersIsLockedAndASuccessClearsTheCounts) {
    for (int i = 0; i < 3; ++i)
        guard.Failed("oper", "10.0.0.1");
    guard.Succeeded("OPER", "10.0.0.1");
    guard.Failed("oper", "10.0.0.1");
    EXPECT_EQ(guard.Refusal("oper", "10.0.0.1"), "");

    std::string logged;
    for (int i = 0; i < 40; ++i) {
        now += 1h; // no wait of one user's
        logged += guard.Failed("user" + std::to_string(i), "10.0.0.7");
    }
    EXPECT_EQ(logged, "address 10.0.0.7 locked out for 15 min after 40 failed sign-ons");
    EXPECT_TRUE(guard.Refusal("NEWUSER", "10.0.0.7").starts_with("locked out"));
    EXPECT_EQ(guard.Refusal("NEWUSER", "10.0.0.8"), "");
}
