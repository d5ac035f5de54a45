#pragma once

#include <asio.hpp>
#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "Connection.h"
#include "HostEngine.h"
#include "Log.h"
#include "SignOnChecks.h"
#include "SignOnGuard.h"

namespace tavo::hostd {

// What a protocol's password check found. Made on a checking thread.
struct SignOnFinding {
    // The password was right: no failure. Wrong, the user and the address each count one.
    bool proven = false;
    // The connection now counts as the user's, within the limit of one user's connections.
    bool signsOn = false;
    server::Status status; // ok when the attempt went through; its reason is logged
};

// How a sign-on attempt ended, for the protocol handler to answer in its own words.
struct SignOnDecision {
    enum class Kind {
        Checked,   // the check ran and its finding stands
        Crowded,   // right, but the user has as many connections from the address as it may
        Throttled, // the guard refused it before any check: `throttle` says how
        Busy,      // too many checks were waiting
        Failed,    // not checked: the client went away, or the status's reason says why
    };
    Kind kind = Kind::Checked;
    // Checked: the finding's; Crowded, Throttled, Busy: the refusal, its text for the client.
    server::Status status;
    Throttle throttle = Throttle::Busy;
};

// The one way a connection signs on, whichever protocol it speaks: the guard admits the
// attempt, the protocol's check runs in its turn beside the io thread, the guard hears
// the verdict, the limit of one user's connections is applied, and one line is logged.
// Used on the io thread.
class SignOnService {
  public:
    // Why a right password is refused when the user has all the connections it may have.
    static constexpr std::string_view kCrowded =
        "this user has as many connections from this address as it may.";

    // `signedOn`: false when the user (its key) may not have another connection.
    SignOnService(asio::io_context& io, SignOnGuard& guard, SignOnChecks& checks, Log& log,
                  std::function<bool(const Connection*, const std::string& key)> signedOn);

    // The one key of a user name: the guard, the connection limits and the owners of list
    // entries all tell users apart by it.
    static std::string UserKey(std::string_view user);
    // Stands in for the password hash of a user who does not exist, so that a wrong user
    // name costs the same work as a wrong password and its answer tells nothing.
    static const std::string& DummyHash();

    struct Attempt {
        std::string user; // as the client sent it
        std::string address;
        const Connection* connection = nullptr;
        const std::atomic<bool>* gone = nullptr; // the client has gone: its check is skipped
        // Writes a line of the connection's own, `kind` as Log::Line groups them.
        std::function<void(const std::string& line, std::string_view kind)> log;
        std::string signedOnLine; // logged when the attempt goes through
        std::string refusedLine;  // logged, followed by the reason, when it does not
    };
    using Check = std::function<SignOnFinding(server::HostEngine&)>;
    using Answer = std::function<void(const SignOnDecision&)>;

    // Refused at once by the guard: the decision. Else nullopt, and `check` runs on a
    // checking thread, then `answer` on the io thread, which it always reaches.
    std::optional<SignOnDecision> SignOn(Attempt attempt, Check check, Answer answer);

  private:
    SignOnDecision Decide(const Attempt& attempt, SignOnGuard::Ticket& ticket,
                          const std::optional<SignOnFinding>& finding, const std::string& failure);

    asio::io_context& io_;
    SignOnGuard& guard_;
    SignOnChecks& checks_;
    Log& log_;
    std::function<bool(const Connection*, const std::string&)> signedOn_;
};

} // namespace tavo::hostd
