#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <thread>

#include "SignOnGuard.h"

using tavo::hostd::SignOnGuard, tavo::hostd::Throttle;
using namespace std::chrono_literals;

namespace {

struct GuardTest : ::testing::Test {
    SignOnGuard::Clock::time_point now{};
    SignOnGuard guard{{}, [this] { return now; }};
    std::string logged;
    // An attempt: "" when checked (a wrong password unless `right`), else why not.
    std::string Try(const std::string& user, const std::string& address, bool right = false) {
        auto admission = guard.Begin(user, address);
        logged += admission.logged;
        if (admission.ticket)
            logged += right ? (admission.ticket->Succeeded(), "") : admission.ticket->Failed();
        return admission.refusal.text;
    }
    // Whether an attempt would be checked, its check then dropped untold.
    std::string Peek(const std::string& user, const std::string& address) {
        return guard.Begin(user, address).refusal.text;
    }
    // Guesses, each as soon as the guard lets it through, until it does not.
    void FailUntilRefused(const std::string& user, const std::string& address) {
        for (int i = 0; i < 100; ++i) {
            now += 40s; // past any wait before the lock, well before a lock ends
            if (!Try(user, address).empty())
                break;
        }
    }
};

} // namespace

TEST_F(GuardTest, FailuresWaitLongerAndLongerThenLockUntilTheLockEndsOrIsLifted) {
    for (int i = 0; i < 3; ++i)
        Try("oper", "10.0.0.1");
    EXPECT_EQ(Peek("OPER", "10.0.0.1"), "") << "three typos cost nothing";
    Try("oper", "10.0.0.1");
    EXPECT_EQ(Peek("OPER", "10.0.0.2"),
              "too many failed sign-ons for this user; try again in 1 s.");
    now += 1s;
    EXPECT_EQ(Try("oper", "10.0.0.1"), "");
    now += 1s;
    EXPECT_EQ(guard.Begin("OPER", "10.0.0.2").throttle, Throttle::Wait) << "the second wait is 2 s";
    EXPECT_EQ(Peek("CLERK", "10.0.0.2"), "") << "other users are not held up";

    FailUntilRefused("oper", "10.0.0.1");
    EXPECT_EQ(logged, "user OPER locked out for 15 min after 10 failed sign-ons");
    const auto locked = guard.Begin("oper", "10.0.0.9");
    EXPECT_EQ(locked.throttle, Throttle::LockedOut) << "on any address";
    EXPECT_TRUE(locked.refusal.text.ends_with(" UTC (15 min from now).")) << locked.refusal.text;
    now += 15min;
    EXPECT_EQ(Peek("oper", "10.0.0.9"), "") << "a right password works again";
    Try("oper", "10.0.0.9");
    EXPECT_EQ(Peek("oper", "10.0.0.9"), "") << "and the count started over";

    FailUntilRefused("oper", "10.0.0.3");
    EXPECT_TRUE(guard.Unlock("Oper"));
    EXPECT_EQ(Try("oper", "10.0.0.3", true), "") << "an administrator lifted the lock";
    EXPECT_FALSE(guard.Unlock("oper"));
}

TEST_F(GuardTest, AnAddressGuessingManyUsersIsLockedAndASuccessClearsTheCounts) {
    for (int i = 0; i < 3; ++i)
        Try("oper", "10.0.0.1");
    Try("OPER", "10.0.0.1", true);
    Try("oper", "10.0.0.1");
    EXPECT_EQ(Peek("oper", "10.0.0.1"), "");

    for (int i = 0; i < 40; ++i) {
        now += 1h; // no wait of one user's
        Try("user" + std::to_string(i), "10.0.0.7");
    }
    EXPECT_EQ(logged, "address 10.0.0.7 locked out for 15 min after 40 failed sign-ons");
    EXPECT_TRUE(guard.AddressLocked("10.0.0.7"));
    EXPECT_EQ(Peek("NEWUSER", "10.0.0.8"), "");
}

// Guesses sent together, holding their checks until all have asked, get the checks of the
// free failures and no more: of one user, and (four times as many) of one address.
TEST_F(GuardTest, ABurstGetsNoMoreChecksThanGuessesOneByOne) {
    const auto burst = [&](bool oneUser) {
        std::latch asked(24);
        std::atomic<int> checks{0};
        std::vector<std::jthread> threads;
        for (int i = 0; i < 24; ++i)
            threads.emplace_back([&, n = std::to_string(i)] {
                auto a =
                    guard.Begin(oneUser ? "OPER" : "U" + n, oneUser ? "10.1." + n : "10.2.0.1");
                checks += a.ticket.has_value();
                asked.arrive_and_wait();
                if (a.ticket)
                    a.ticket->Failed();
            });
        threads.clear();
        return checks.load();
    };
    EXPECT_EQ(burst(true), 3);
    EXPECT_EQ(burst(false), 12);
    auto fourth = guard.Begin("oper", "10.3.0.1"); // past the free ones, one at a time
    EXPECT_EQ(guard.Begin("oper", "10.3.0.2").throttle, Throttle::Busy);
    fourth.ticket->Failed();
    EXPECT_EQ(guard.Begin("oper", "10.3.0.2").throttle, Throttle::Wait);
}

// A flood of new names makes the guard forget what is harmless, never a lock; full of
// locks, it turns newcomers away until one ends.
TEST(SignOnGuardMemory, ForgettingUnderPressureKeepsEveryLock) {
    auto now = SignOnGuard::Clock::time_point{};
    SignOnGuard guard{{.freeFailures = 0, .lockAfter = 2, .firstWait = 0s, .mostRecords = 20},
                      [&] { return now; }};
    int address = 0;
    const auto fail = [&](const std::string& user) -> std::optional<Throttle> {
        auto admission = guard.Begin(user, std::to_string(++address));
        if (admission.ticket)
            return admission.ticket->Failed(), std::nullopt;
        return admission.throttle;
    };
    for (const std::string user : {"OPER", "OPER", "Y0", "Y0"})
        fail(user);
    for (int i = 0; i < 1000; ++i)
        fail("X" + std::to_string(i));
    EXPECT_EQ(fail("OPER"), Throttle::LockedOut);
    for (int i = 1; i < 19; ++i)
        fail("Y" + std::to_string(i)), fail("Y" + std::to_string(i));
    EXPECT_EQ(fail("NEWCOMER"), Throttle::Busy);
    EXPECT_EQ(fail("Y0"), Throttle::LockedOut);
    now += 15min;
    EXPECT_EQ(fail("NEWCOMER"), std::nullopt);
}
