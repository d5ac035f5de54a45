#include "Session.h"
#include "Latin1Text.h"

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

Session::Session(std::shared_ptr<Stream> stream, SessionContext& context)
    : StreamSession(std::move(stream), context.io, {context.frameTimeout, context.idleTimeout},
                    context.closed, 65536),
      context_(context) {
    decoder_.Limit(kMostBeforeSignOn);
}

std::string Session::Take(std::span<const std::uint8_t> bytes) {
    try {
        decoder_.Feed(bytes);
    } catch (const pr::ProtocolError& e) {
        return std::string("bad frame: ") + e.what();
    }
    return {};
}

bool Session::HandleNext() {
    auto body = decoder_.Next();
    if (!body)
        return false;
    pr::Message message;
    try {
        message = pr::Decode(*body);
    } catch (const pr::ProtocolError& e) {
        Close(std::string("bad frame: ") + e.what());
        return false;
    }
    Handle(std::move(message));
    return true;
}

void Session::LogLine(const std::string& line, std::string_view kind) const {
    context_.log.Line(peer_ + (user_.empty() ? "" : " (" + user_ + ")") + ": " + line,
                      Priority::Info, kind);
}

void Session::Handle(pr::Message message) {
    if (auto* hello = std::get_if<pr::Hello>(&message)) {
        if (state_ != State::Hello)
            return Close("a second Hello");
        if (hello->version != pr::kVersion) {
            context_.log.Line(peer_ + ": client speaks protocol version " +
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
        return Close("the connection did not begin with Hello");
    if (auto* signOn = std::get_if<pr::SignOn>(&message)) {
        if (state_ != State::SignOn)
            return Close("a second sign-on");
        return HandleSignOn(std::move(*signOn));
    }
    if (auto* change = std::get_if<pr::ChangePassword>(&message)) {
        if (state_ != State::SignOn)
            return Close("a change of password after the sign-on");
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
    Close("a message only the host sends");
}

namespace {

// Stands in for the hash of a user who does not exist, so that a wrong user name costs
// the same as a wrong password and its answer tells nothing.
const std::string& DummyHash() {
    static const std::string hash = HashPassword("no such user");
    return hash;
}

} // namespace

void Session::HandleSignOn(pr::SignOn signOn, std::optional<std::string> newPassword) {
    const auto refuse = [this, &signOn](pr::ErrorCode code, const std::string& why) {
        Reply(pr::Error{code, "Sign-on as " + signOn.user + " refused: " + why}, true);
    };
    // Not logged one by one: a flood would fill the log; a lock is logged once.
    auto admission = context_.guard.Begin(signOn.user, address_);
    if (!admission.logged.empty())
        context_.log.Line(admission.logged, Priority::Warning);
    if (!admission.ticket) {
        using Kind = SignOnRefusal::Kind;
        const Kind kind = admission.refusal.kind;
        return refuse(kind == Kind::LockedOut ? pr::ErrorCode::LockedOut
                      : kind == Kind::Wait    ? pr::ErrorCode::SignOnDelay
                                              : pr::ErrorCode::HostBusy,
                      admission.refusal.text);
    }
    auto ticket = std::make_shared<SignOnGuard::Ticket>(std::move(*admission.ticket));
    busy_ = true;
    checking_ = true;
    // Too many checks waiting: a flood costs its senders a refusal, not every other user
    // a long wait, and the refusal counts against the sender's address.
    auto refused = [self = Self(), ticket, user = signOn.user] {
        self->busy_ = false;
        self->checking_ = false;
        if (auto locked = ticket->Busy(); !locked.empty())
            self->context_.log.Line(locked, Priority::Warning);
        if (self->closed_)
            return;
        self->context_.log.Line(self->peer_ + ": sign-on refused for user '" + user +
                                    "': too many checks waiting",
                                Priority::Info, "too many checks waiting");
        self->Reply(pr::Error{pr::ErrorCode::HostBusy,
                              "Sign-on as " + user +
                                  " refused: the host is busy checking other sign-ons; try "
                                  "again in a moment."},
                    true);
    };
    // Verifying a hash takes a good fraction of a second of one core, on purpose: it
    // runs beside the io thread so other clients are not held up.
    auto check = [self = Self(), signOn = std::move(signOn), newPassword = std::move(newPassword),
                  ticket, guard = asio::make_work_guard(context_.io)](server::HostEngine&) {
        // A disabled user or an expired password shuts out this protocol as it does the
        // IBM i sign-on; only a caller who knows the password learns which it was.
        std::string refusal = "the user or password is not valid.";
        bool right = false;
        // A change of password: whether the host's rules refused the new one, or it is stored.
        bool newRefused = false, changed = false, expired = false;
        // A check for a connection that has gone is skipped: nobody is left to answer.
        if (!self->gone_)
            try {
                const auto account = self->context_.engine.User(signOn.user);
                const std::string& hash = account ? account->passwords.hash : DummyHash();
                right = (self->context_.verified.Known(signOn.user, hash, signOn.password) ||
                         VerifyPassword(hash, signOn.password)) &&
                        account;
                if (right) {
                    self->context_.verified.Remember(signOn.user, hash, signOn.password);
                    // An expired password is what a change is for.
                    expired =
                        !account->disabled && account->ExpiredAt(SecondsNow()) && !newPassword;
                    refusal = account->disabled ? "the user is disabled."
                              : expired         ? "the password has expired."
                                                : "";
                }
                if (right && refusal.empty() && newPassword) {
                    if (const auto bad = RefuseNewPassword(signOn.password, *newPassword)) {
                        refusal = bad->text;
                        newRefused = true;
                    } else {
                        std::string note;
                        auto& engine = self->context_.engine;
                        engine.SetUser(signOn.user,
                                       MakePasswords(signOn.user, *newPassword,
                                                     LevelForNewPasswords(engine), note));
                        changed = true;
                    }
                }
            } catch (const std::exception& e) {
                self->context_.log.Line(self->peer_ + ": cannot check the sign-on: " + e.what());
            }
        asio::post(self->context_.io, [self, refusal, right, newRefused, changed, expired, ticket,
                                       user = signOn.user]() mutable {
            self->busy_ = false;
            self->checking_ = false;
            if (self->closed_)
                return;
            if (!right) {
                if (auto locked = ticket->Failed(); !locked.empty())
                    self->context_.log.Line(locked, Priority::Warning);
            } else {
                ticket->Succeeded();
                if (changed) {
                    self->context_.log.Line(self->peer_ + ": password of " + user + " changed");
                    return self->Reply(pr::Ok{}, true);
                }
                if (refusal.empty() && !self->context_.signedOn(self.get(), user))
                    refusal = "this user has as many connections from this address as it may.";
            }
            if (newRefused) {
                self->context_.log.Line(self->peer_ + ": password change for user '" + user +
                                        "' refused: " + refusal);
                return self->Reply(pr::Error{pr::ErrorCode::PasswordRefused, refusal}, true);
            }
            if (!refusal.empty()) {
                self->context_.log.Line(self->peer_ + ": sign-on refused for user '" + user +
                                            "': " + refusal,
                                        Priority::Info, "sign-on refused: " + refusal);
                return self->Reply(pr::Error{expired ? pr::ErrorCode::PasswordExpired
                                                     : pr::ErrorCode::SignOnRefused,
                                             "Sign-on as " + user + " refused: " + refusal},
                                   true);
            }
            self->state_ = State::Ready;
            self->decoder_.Limit(pr::kMaxFrameLength);
            self->user_ = user;
            self->owner_ = tavo::text::FoldName(user) + "@" + self->address_;
            self->context_.log.Line(self->peer_ + ": signed on as " + user);
            self->Reply(pr::Ok{});
        });
    };
    context_.checks.Submit(address_, {std::move(check), std::move(refused)});
}

void Session::HandleCall(pr::Call call) {
    // Per user, not per address: the repeat may come from wherever the client is now.
    std::string key;
    if (!call.requestId.empty()) {
        key = owner_.substr(0, owner_.rfind('@')) + '\n' + call.requestId;
        pr::CallReply first;
        switch (context_.recent.Begin(key, first, [self = Self()](const auto& r) {
            self->busy_ = false;
            self->Reply(r);
        })) {
        case RecentReplies::Seen::Answered:
            return Reply(first);
        case RecentReplies::Seen::Running:
            busy_ = true;
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
    busy_ = true;
    job->done = [self = Self(), key, guard = asio::make_work_guard(context_.io)](CallJob& done) {
        pr::CallReply reply{done.outcome.ok, done.outcome.message, {}};
        // A failed call returns no areas: they would be the caller's own, as large as it
        // declared them, and a host program's areas are never larger than its own.
        for (std::size_t i = 0; done.outcome.ok && i < done.areas.size(); ++i)
            if (done.directions[i] != server::ParmDirection::Input)
                reply.outputs.push_back(std::move(done.areas[i]));
        asio::post(self->context_.io, [self, key, reply = std::move(reply)] {
            if (!key.empty())
                self->context_.recent.Finish(key, reply);
            self->busy_ = false;
            self->Reply(reply);
        });
    };
    context_.worker.Submit(std::move(job));
}

void Session::OnEngine(std::function<pr::Message(server::HostEngine&)> task) {
    busy_ = true;
    context_.worker.Submit(
        [self = Self(), task = std::move(task),
         guard = asio::make_work_guard(context_.io)](server::HostEngine& engine) {
            pr::Message reply;
            try {
                reply = task(engine);
            } catch (const std::exception& e) {
                reply = pr::Error{pr::ErrorCode::HostFailure, e.what()};
            }
            asio::post(self->context_.io, [self, reply = std::move(reply)] {
                self->busy_ = false;
                self->Reply(reply);
            });
        });
}

void Session::Reply(const pr::Message& message, bool thenClose) {
    if (closed_)
        return;
    std::shared_ptr<std::string> frame;
    try {
        frame = std::make_shared<std::string>(pr::Encode(message));
    } catch (const pr::ProtocolError& e) {
        return Close(std::string("cannot send the reply: ") + e.what());
    }
    busy_ = true;
    stream_->Write(asio::buffer(*frame),
                   [self = Self(), frame, thenClose](std::error_code ec, std::size_t) {
                       if (ec)
                           return self->Close("cannot send the reply: " + ec.message());
                       if (thenClose)
                           return self->Close("");
                       self->Resume();
                   });
}

} // namespace tavo::hostd
