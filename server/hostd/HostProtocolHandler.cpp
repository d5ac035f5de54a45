#include "HostProtocolHandler.h"

#include <algorithm>
#include <cctype>

#include "PasswordChange.h"
#include "Passwords.h"

namespace tavo::hostd {

namespace pr = protocol;

namespace {
// A greeting and a sign-on fit in this; a stranger gets no more until signed on.
constexpr std::size_t kMostBeforeSignOn = 8192;
} // namespace

std::shared_ptr<StreamSession> HostProtocolHandler::Open(std::shared_ptr<Stream> stream,
                                                         SessionContext& context) {
    return std::make_shared<StreamSession>(
        std::move(stream), context.io,
        StreamSession::Timeouts{context.frameTimeout, context.idleTimeout}, context.closed, 65536,
        [&context](StreamSession& session) {
            return std::make_unique<HostProtocolHandler>(session, context);
        });
}

HostProtocolHandler::HostProtocolHandler(StreamSession& session, SessionContext& context)
    : session_(session), context_(context) {
    decoder_.Limit(kMostBeforeSignOn);
}

std::string HostProtocolHandler::Take(std::span<const std::uint8_t> bytes) {
    try {
        decoder_.Feed(bytes);
    } catch (const pr::ProtocolError& e) {
        return std::string("bad frame: ") + e.what();
    }
    return {};
}

bool HostProtocolHandler::HandleNext() {
    auto body = decoder_.Next();
    if (!body)
        return false;
    pr::Message message;
    try {
        message = pr::Decode(*body);
    } catch (const pr::ProtocolError& e) {
        session_.Close(std::string("bad frame: ") + e.what());
        return false;
    }
    Handle(std::move(message));
    return true;
}

void HostProtocolHandler::LogLine(const std::string& line, std::string_view kind) const {
    context_.log.Line(session_.Peer() + (user_.empty() ? "" : " (" + user_ + ")") + ": " + line,
                      Priority::Info, kind);
}

void HostProtocolHandler::Handle(pr::Message message) {
    if (auto* hello = std::get_if<pr::Hello>(&message)) {
        if (state_ != State::Hello)
            return session_.Close("a second Hello");
        if (hello->version != pr::kVersion) {
            context_.log.Line(session_.Peer() + ": client speaks protocol version " +
                              std::to_string(hello->version) + "; closing");
            return Reply(pr::Error{pr::ErrorCode::VersionNotSupported,
                                   "This host speaks protocol version " +
                                       std::to_string(pr::kVersion) + " only."},
                         true);
        }
        state_ = State::SignOn;
        return Reply(pr::HelloOk{});
    }
    if (state_ == State::Hello)
        return session_.Close("the connection did not begin with Hello");
    if (auto* signOn = std::get_if<pr::SignOn>(&message)) {
        if (state_ != State::SignOn)
            return session_.Close("a second sign-on");
        return HandleSignOn(std::move(*signOn));
    }
    if (auto* change = std::get_if<pr::ChangePassword>(&message)) {
        if (state_ != State::SignOn)
            return session_.Close("a change of password after the sign-on");
        return HandleSignOn({std::move(change->user), std::move(change->oldPassword)},
                            std::move(change->newPassword));
    }
    if (state_ != State::Ready)
        return Reply(pr::Error{pr::ErrorCode::NotSignedOn, "Sign on first."}, true);

    if (auto* call = std::get_if<pr::Call>(&message))
        return HandleCall(std::move(*call));
    if (auto* exists = std::get_if<pr::QueueExists>(&message)) {
        return OnEngine([q = std::move(*exists)](server::HostEngine& engine) -> pr::Message {
            if (engine.QueueExists(q.queue, q.library))
                return pr::Ok{};
            return pr::Error{pr::ErrorCode::QueueNotFound,
                             "Data queue " + q.queue + " in library " + q.library + " not found."};
        });
    }
    if (auto* take = std::get_if<pr::Take>(&message)) {
        return OnEngine(
            [t = std::move(*take), owner = owner_](server::HostEngine& engine) -> pr::Message {
                const std::size_t max = std::clamp<std::size_t>(t.max, 1, pr::kMaxEntriesPerReply);
                return pr::Entries{engine.TakeEntries(t.queue, t.library, t.key, max, owner)};
            });
    }
    session_.Close("a message only the host sends");
}

void HostProtocolHandler::HandleSignOn(pr::SignOn signOn, std::optional<std::string> newPassword) {
    const bool change = newPassword.has_value();
    const std::string user = signOn.user;
    const auto refuse = [this, user](pr::ErrorCode code, const std::string& why) {
        Reply(pr::Error{code, "Sign-on as " + user + " refused: " + why}, true);
    };
    SignOnService::Attempt attempt{
        user,
        session_.Address(),
        &session_,
        session_.Gone(),
        [this](const std::string& line, std::string_view kind) {
            context_.log.Line(session_.Peer() + ": " + line, Priority::Info, kind);
        },
        change ? "password of " + user + " changed" : "signed on as " + user,
        (change ? "password change for user '" : "sign-on refused for user '") + user + "': "};
    // What the check found besides its finding, read once it is answered.
    struct Found {
        bool newRefused = false, changed = false, expired = false;
    };
    auto found = std::make_shared<Found>();
    // A disabled user or an expired password shuts out this protocol as it does the IBM i
    // sign-on; only a caller who knows the password learns which it was.
    auto check = [keep = session_.Keep(), this, signOn = std::move(signOn),
                  newPassword = std::move(newPassword), found](server::HostEngine& engine) {
        // The client is told what the log shows.
        const auto refusal = [](const std::string& why) {
            return server::Status::Fail(server::Status::kFailed, why, why);
        };
        SignOnFinding finding{false, false, refusal("the user or password is not valid.")};
        const auto account = engine.User(signOn.user);
        const std::string& hash = account ? account->passwords.hash : SignOnService::DummyHash();
        auto& verified = context_.verified;
        finding.proven = (verified.Known(signOn.user, hash, signOn.password) ||
                          VerifyPassword(hash, signOn.password)) &&
                         account;
        if (!finding.proven)
            return finding;
        verified.Remember(signOn.user, hash, signOn.password);
        // An expired password is what a change is for.
        found->expired = !account->disabled && account->ExpiredAt(SecondsNow()) && !newPassword;
        finding.status = account->disabled ? refusal("the user is disabled.")
                         : found->expired  ? refusal("the password has expired.")
                                           : server::Status::Ok();
        finding.signsOn = finding.status.ok() && !newPassword;
        if (!finding.status.ok() || !newPassword)
            return finding;
        if (auto bad = CheckNewPassword(signOn.password, *newPassword); !bad.ok()) {
            finding.status = std::move(bad);
            found->newRefused = true;
        } else {
            std::string note;
            engine.SetUser(signOn.user, MakePasswords(signOn.user, *newPassword,
                                                      LevelForNewPasswords(engine), note));
            found->changed = true;
        }
        return finding;
    };
    auto answer = [keep = session_.Keep(), this, found, user,
                   refuse](const SignOnDecision& decision) {
        using Kind = SignOnDecision::Kind;
        session_.End();
        if (session_.Closed())
            return;
        switch (decision.kind) {
        case Kind::Busy:
            return refuse(pr::ErrorCode::HostBusy, decision.status.text);
        case Kind::Failed:
            context_.log.Line(session_.Peer() +
                              ": cannot check the sign-on: " + decision.status.reason);
            return refuse(pr::ErrorCode::SignOnRefused, "the user or password is not valid.");
        case Kind::Throttled:
        case Kind::Crowded:
        case Kind::Checked:
            break;
        }
        if (found->newRefused)
            return Reply(pr::Error{pr::ErrorCode::PasswordRefused, decision.status.text}, true);
        if (!decision.status.ok())
            return refuse(found->expired && decision.kind == Kind::Checked
                              ? pr::ErrorCode::PasswordExpired
                              : pr::ErrorCode::SignOnRefused,
                          decision.status.text);
        if (found->changed)
            return Reply(pr::Ok{}, true);
        state_ = State::Ready;
        decoder_.Limit(pr::kMaxFrameLength);
        user_ = user;
        owner_ = SignOnService::UserKey(user) + "@" + session_.Address();
        Reply(pr::Ok{});
    };
    const auto refused = context_.signOn.SignOn(std::move(attempt), std::move(check), answer);
    if (!refused) {
        session_.Begin(true);
        return;
    }
    const auto throttle = refused->throttle;
    refuse(throttle == Throttle::LockedOut ? pr::ErrorCode::LockedOut
           : throttle == Throttle::Wait    ? pr::ErrorCode::SignOnDelay
                                           : pr::ErrorCode::HostBusy,
           refused->status.text);
}

void HostProtocolHandler::HandleCall(pr::Call call) {
    // Per user, not per address: the repeat may come from wherever the client is now.
    std::string key;
    if (!call.requestId.empty()) {
        key = owner_.substr(0, owner_.rfind('@')) + '\n' + call.requestId;
        pr::CallReply first;
        switch (context_.recent.Begin(key, first, [keep = session_.Keep(), this](const auto& r) {
            session_.End();
            Reply(r);
        })) {
        case RecentReplies::Seen::Answered:
            return Reply(first);
        case RecentReplies::Seen::Running:
            session_.Begin();
            return;
        case RecentReplies::Seen::New:
            break;
        }
    }
    auto job = std::make_shared<CallJob>();
    job->program = std::move(call.program);
    job->library = std::move(call.library);
    job->owner = owner_;
    job->requestKey = key;
    for (auto& parm : call.parms) {
        job->directions.push_back(static_cast<server::ParmDirection>(parm.direction));
        if (parm.direction == pr::Direction::Output)
            job->areas.emplace_back(parm.length, '\0');
        else
            job->areas.push_back(std::move(parm.data));
    }
    session_.Begin();
    job->done = [keep = session_.Keep(), this, key,
                 guard = asio::make_work_guard(context_.io)](CallJob& done) {
        pr::CallReply reply{done.outcome.ok(), done.outcome.text, {}};
        // A failed call returns no areas: they would be the caller's own, as large as it
        // declared them, and a host program's areas are never larger than its own.
        for (std::size_t i = 0; done.outcome.ok() && i < done.areas.size(); ++i)
            if (done.directions[i] != server::ParmDirection::Input)
                reply.outputs.push_back(std::move(done.areas[i]));
        asio::post(context_.io, [keep, this, key, reply = std::move(reply)] {
            if (!key.empty())
                context_.recent.Finish(key, reply);
            session_.End();
            Reply(reply);
        });
    };
    context_.worker.Submit(std::move(job));
}

void HostProtocolHandler::OnEngine(std::function<pr::Message(server::HostEngine&)> task) {
    session_.Begin();
    context_.worker.Submit(
        [keep = session_.Keep(), this, task = std::move(task),
         guard = asio::make_work_guard(context_.io)](server::HostEngine& engine) {
            pr::Message reply;
            try {
                reply = task(engine);
            } catch (const std::exception& e) {
                reply = pr::Error{pr::ErrorCode::HostFailure, e.what()};
            }
            asio::post(context_.io, [keep, this, reply = std::move(reply)] {
                session_.End();
                Reply(reply);
            });
        });
}

void HostProtocolHandler::Reply(const pr::Message& message, bool thenClose) {
    if (session_.Closed())
        return;
    std::shared_ptr<std::string> frame;
    try {
        frame = std::make_shared<std::string>(pr::Encode(message));
    } catch (const pr::ProtocolError& e) {
        return session_.Close(std::string("cannot send the reply: ") + e.what());
    }
    session_.Write(frame, asio::buffer(*frame), thenClose);
}

} // namespace tavo::hostd
