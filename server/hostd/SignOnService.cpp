#include "SignOnService.h"

#include <memory>

#include "Latin1Text.h"
#include "Passwords.h"

namespace tavo::hostd {

using server::Status;

SignOnService::SignOnService(asio::io_context& io, SignOnGuard& guard, SignOnChecks& checks,
                             Log& log,
                             std::function<bool(const Connection*, const std::string&)> signedOn)
    : io_(io), guard_(guard), checks_(checks), log_(log), signedOn_(std::move(signedOn)) {}

std::string SignOnService::UserKey(std::string_view user) {
    return tavo::text::FoldName(user);
}

const std::string& SignOnService::DummyHash() {
    static const std::string hash = HashPassword("no such user");
    return hash;
}

std::optional<SignOnDecision> SignOnService::SignOn(Attempt attempt, Check check, Answer answer) {
    auto admission = guard_.Begin(UserKey(attempt.user), attempt.address);
    // Not logged one by one: a flood would fill the log; a lock is logged once.
    if (!admission.logged.empty())
        log_.Line(admission.logged, Priority::Warning);
    if (!admission.ticket)
        return SignOnDecision{SignOnDecision::Kind::Throttled, std::move(admission.refusal),
                              admission.throttle};
    auto ticket = std::make_shared<SignOnGuard::Ticket>(std::move(*admission.ticket));
    auto shared = std::make_shared<const Attempt>(std::move(attempt));
    // Too many checks waiting: a flood costs its senders a refusal, not every other user
    // a long wait, and the refusal counts against the sender's address.
    auto refused = [this, ticket, shared, answer] {
        if (auto locked = ticket->Busy(); !locked.empty())
            log_.Line(locked, Priority::Warning);
        Status busy = Status::Fail(
            Status::kFailed, "the host is busy checking other sign-ons; try again in a moment.",
            "too many checks waiting");
        if (!*shared->gone)
            shared->log(shared->refusedLine + busy.reason, busy.reason);
        answer({SignOnDecision::Kind::Busy, std::move(busy)});
    };
    // Checking a password takes a good fraction of a second of one core, on purpose: it
    // runs beside the io thread so other clients are not held up.
    auto run = [this, ticket, shared, check = std::move(check), answer,
                guard = asio::make_work_guard(io_)](server::HostEngine& engine) {
        std::optional<SignOnFinding> finding;
        std::string failure;
        // A check for a connection that has gone is skipped: nobody is left to answer.
        if (!*shared->gone)
            try {
                finding = check(engine);
            } catch (const std::exception& e) {
                failure = e.what();
            }
        asio::post(io_, [this, ticket, shared, answer, finding = std::move(finding), failure] {
            answer(Decide(*shared, *ticket, finding, failure));
        });
    };
    checks_.Submit(shared->address, {std::move(run), std::move(refused)});
    return std::nullopt;
}

// A ticket left untold lets the attempt go uncounted.
SignOnDecision SignOnService::Decide(const Attempt& attempt, SignOnGuard::Ticket& ticket,
                                     const std::optional<SignOnFinding>& finding,
                                     const std::string& failure) {
    if (*attempt.gone || !finding)
        return {SignOnDecision::Kind::Failed, Status::Fail(Status::kFailed, {}, failure)};
    // A right password refused all the same (a disabled user, an expired password) clears
    // no counts: only a sign-on that goes through does.
    if (!finding->proven) {
        if (auto locked = ticket.Failed(); !locked.empty())
            log_.Line(locked, Priority::Warning);
    } else if (finding->status.ok()) {
        ticket.Succeeded();
    }
    SignOnDecision decision{SignOnDecision::Kind::Checked, finding->status};
    if (finding->proven && finding->signsOn &&
        !signedOn_(attempt.connection, UserKey(attempt.user)))
        decision = {SignOnDecision::Kind::Crowded,
                    Status::Fail(Status::kFailed, std::string(kCrowded), std::string(kCrowded))};
    const std::string& reason = decision.status.reason;
    if (decision.status.ok())
        attempt.log(attempt.signedOnLine, {});
    else
        attempt.log(attempt.refusedLine + reason, "sign-on refused: " + reason);
    return decision;
}

} // namespace tavo::hostd
