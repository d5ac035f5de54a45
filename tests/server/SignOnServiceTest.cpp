#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <stdexcept>

#include "SignOnService.h"

using namespace tavo::hostd;
using Kind = SignOnDecision::Kind;

// The policy every protocol's sign-on shares, around a stand-in for the protocol's check.
TEST(SignOnService, SettlesTheGuardLimitsUsersByOneKeyAndLogsOneLine) {
    asio::io_context io;
    tavo::server::HostEngine engine(":memory:");
    SignOnGuard guard({.freeFailures = 0});
    SignOnChecks checks(io, engine);
    std::ostringstream out;
    Log log(out);
    std::map<std::string, int> held;
    SignOnService service(io, guard, checks, log, [&](const Connection*, const std::string& key) {
        return ++held[key] <= 1;
    });
    std::atomic<bool> gone{false};
    std::vector<std::string> lines;
    const auto attempt = [&](const std::string& user, SignOnService::Check check) {
        SignOnDecision decision{Kind::Failed, {1, {}, "not answered", {}}};
        const auto at = service.SignOn(
            {user, "10.0.0.1", nullptr, &gone,
             [&](const std::string& line, std::string_view) { lines.push_back(line); },
             user + " signed on", user + " refused: "},
            std::move(check), [&](const SignOnDecision& d) { decision = d; });
        io.restart();
        io.run();
        return at ? *at : decision;
    };
    const auto found = [](SignOnFinding f) { return [f](tavo::server::HostEngine&) { return f; }; };

    EXPECT_EQ(attempt("jos\xE9", found({true, true, {}})).kind, Kind::Checked);
    const auto second = attempt("JOS\xC9", found({true, true, {}}));
    EXPECT_EQ(second.kind, Kind::Crowded) << "one user, whatever the case of its letters";
    EXPECT_EQ(held.size(), 1u);
    EXPECT_FALSE(attempt("OPER", found({false, false, {1, {}, "wrong password", {}}})).status.ok());
    const auto waited = attempt("oper", found({true, true, {}}));
    EXPECT_EQ(waited.kind, Kind::Throttled) << "the guard heard the failure";
    EXPECT_EQ(waited.throttle, Throttle::Wait);
    EXPECT_EQ(attempt("CLERK",
                      [](tavo::server::HostEngine&) -> SignOnFinding {
                          throw std::runtime_error("disk full");
                      })
                  .status.reason,
              "disk full");
    gone = true;
    EXPECT_EQ(attempt("GUEST", found({true, true, {}})).kind, Kind::Failed);
    EXPECT_EQ(lines,
              (std::vector<std::string>{"jos\xE9 signed on",
                                        "JOS\xC9 refused: " + std::string(SignOnService::kCrowded),
                                        "OPER refused: wrong password"}));
}
