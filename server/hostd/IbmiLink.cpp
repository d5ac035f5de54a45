#include "IbmiLink.h"

#include <cstdio>

#include "Passwords.h"

namespace tavo::hostd {

namespace {

// An attempt refused unchecked: by the guard, or for too many checks waiting.
void Refuse(const IbmiLink::Refused& refused, const SignOnDecision& decision) {
    std::string text = decision.status.text;
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
        text[0] = static_cast<char>(text[0] - 'a' + 'A'); // a sentence of its own
    refused(decision.throttle == Throttle::LockedOut ? ibmi::kSignonLockedOut
            : decision.throttle == Throttle::Wait    ? ibmi::kSignonDelay
                                                     : ibmi::kSignonHostBusy,
            text);
}

} // namespace

std::string IbmiContext::JobName(const std::string& user, const std::string& program) {
    char number[8];
    std::snprintf(number, sizeof number, "%06u", nextJob);
    nextJob = nextJob % 999999 + 1;
    return std::string(number) + "/" + user + "/" + program;
}

std::shared_ptr<StreamSession> IbmiLink::Open(std::shared_ptr<Stream> stream, IbmiContext& context,
                                              std::uint16_t serverId, std::string_view service,
                                              const MakeHandler& make) {
    return std::make_shared<StreamSession>(
        std::move(stream), context.io,
        StreamSession::Timeouts{context.frameTimeout, context.idleTimeout}, context.closed, 16384,
        [&](StreamSession& session) {
            return std::make_unique<IbmiLink>(session, context, serverId, service, make);
        });
}

IbmiLink::IbmiLink(StreamSession& session, IbmiContext& context, std::uint16_t serverId,
                   std::string_view service, const MakeHandler& make)
    : session_(session), context_(context), serverId_(serverId),
      service_(std::string(service).append(session.Secure() ? kTlsServiceSuffix : "")),
      handler_(make(*this)) {}

std::string IbmiLink::Take(std::span<const std::uint8_t> bytes) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    return {};
}

bool IbmiLink::HandleNext() {
    if (pending_.size() < ibmi::kHeaderLength)
        return false;
    const ibmi::Header header = ibmi::ReadHeader(pending_);
    // Before sign-on only small datastreams come: a stranger gets no more.
    const std::size_t most = MayIdle() ? kMaxDatastream : kMostBeforeSignOn;
    if (header.length < ibmi::kHeaderLength || header.length > most) {
        session_.Close("datastream length " + std::to_string(header.length) + " is not 20 to " +
                       std::to_string(most));
        return false;
    }
    if (header.serverId != serverId_) {
        session_.Close("a datastream for server ID " + Hex(header.serverId) + " on the " +
                       service_ + " port");
        return false;
    }
    if (pending_.size() < header.length)
        return false;
    const std::vector<std::uint8_t> datastream(pending_.begin(), pending_.begin() + header.length);
    pending_.erase(pending_.begin(), pending_.begin() + header.length);
    try {
        handler_->Handle(header, datastream);
    } catch (const ibmi::DatastreamError& e) {
        session_.Close(std::string("bad datastream: ") + e.what());
    } catch (const std::exception& e) {
        session_.Close(std::string("cannot serve a request: ") + e.what());
    }
    return !session_.Closed();
}

void IbmiLink::LogLine(const std::string& line, std::string_view kind) const {
    Log((user_.empty() ? "" : "(" + user_ + ") ") + line, kind);
}

void IbmiLink::Send(ibmi::Bytes reply, std::uint32_t correlation, bool thenClose) {
    if (session_.Closed())
        return;
    ibmi::SetCorrelation(reply, correlation);
    auto bytes = std::make_shared<ibmi::Bytes>(std::move(reply));
    session_.Write(bytes, asio::buffer(*bytes), thenClose);
}

void IbmiLink::SendAll(ibmi::Bytes replies) {
    auto bytes = std::make_shared<ibmi::Bytes>(std::move(replies));
    session_.Write(bytes, asio::buffer(*bytes), false);
}

std::optional<ibmi::Bytes> IbmiLink::NextIf(const std::function<bool(ibmi::ByteView)>& same) {
    if (pending_.size() < ibmi::kHeaderLength)
        return std::nullopt;
    const ibmi::Header header = ibmi::ReadHeader(pending_);
    // Anything odd is left for Drain, which closes the connection with the reason.
    if (header.length < ibmi::kHeaderLength || header.length > kMaxDatastream ||
        header.serverId != serverId_ || pending_.size() < header.length)
        return std::nullopt;
    const ibmi::ByteView next(pending_.data(), header.length);
    if (!same(next))
        return std::nullopt;
    ibmi::Bytes taken(next.begin(), next.end());
    pending_.erase(pending_.begin(), pending_.begin() + header.length);
    return taken;
}

void IbmiLink::OnEngine(std::function<Continuation(server::HostEngine&)> task) {
    session_.Begin();
    context_.worker.Submit(
        [keep = Keep(), this, task = std::move(task),
         guard = asio::make_work_guard(context_.io)](server::HostEngine& engine) {
            Continuation then;
            try {
                then = task(engine);
            } catch (const std::exception& e) {
                then = [this, why = std::string(e.what())] { Close("host failure: " + why); };
            }
            asio::post(context_.io, [keep, this, then = std::move(then)] { Finish(then); });
        });
}

void IbmiLink::Finish(const Continuation& then) {
    session_.End();
    if (!session_.Closed())
        then();
    if (!session_.Busy())
        session_.Resume();
}

void IbmiLink::SignOn(const std::string& user, std::string signedOnLine, std::string refusedLine,
                      SignOnService::Check check, const Refused& refused,
                      std::function<void(const SignOnDecision&)> answer) {
    // Refused before it is counted, kept or logged: a stranger's long names cost nothing.
    if (user.size() > kMostUserNameLength) {
        Log("sign-on refused: a user name of " + std::to_string(user.size()) + " bytes",
            "user name too long");
        return refused(ibmi::kSignonUserIdLengthNotValid, "A user profile name has at most " +
                                                              std::to_string(kMostUserNameLength) +
                                                              " characters.");
    }
    SignOnService::Attempt attempt{
        user,
        session_.Address(),
        &session_,
        session_.Gone(),
        [this](const std::string& line, std::string_view kind) { Log(line, kind); },
        std::move(signedOnLine),
        std::move(refusedLine)};
    auto done = [keep = Keep(), this, refused,
                 answer = std::move(answer)](const SignOnDecision& decision) {
        Finish([&] {
            if (decision.kind == SignOnDecision::Kind::Busy)
                Refuse(refused, decision);
            else if (decision.kind != SignOnDecision::Kind::Failed)
                answer(decision);
            else if (!decision.status.reason.empty())
                Close("host failure: " + decision.status.reason);
        });
    };
    const auto throttled =
        context_.signOn.SignOn(std::move(attempt), std::move(check), std::move(done));
    if (!throttled) {
        session_.Begin(true); // a password check changes nothing, so it need not be waited for
        return;
    }
    Refuse(refused, *throttled);
}

void IbmiLink::SignOn(SignOnAttempt attempt, const Refused& refused, Checked answer) {
    const std::string sent = attempt.user, user = ShownUser(sent);
    auto verdict = std::make_shared<SignOnVerdict>();
    auto check = [attempt = std::move(attempt), level = context_.passwordLevel,
                  verdict](server::HostEngine& engine) {
        *verdict = CheckSignOn(engine, level, attempt);
        // As the guard weighs it: a disabled user or an expired password had it right.
        const auto code = verdict->status.code;
        return SignOnFinding{code == 0 || code == ibmi::kSignonUserDisabled ||
                                 code == ibmi::kSignonPasswordExpired,
                             code == 0, verdict->status};
    };
    SignOn(sent, user + " signed on", "sign-on as " + user + " refused: ", std::move(check),
           refused, [this, verdict, user, answer = std::move(answer)](const SignOnDecision& d) {
               const std::uint32_t code = ReturnCode(d);
               if (code == 0)
                   SignedOnAs(user);
               answer(code, *verdict, user);
           });
}

std::uint32_t IbmiLink::ReturnCode(const SignOnDecision& decision) {
    return decision.kind == SignOnDecision::Kind::Crowded ? ibmi::kSignonGeneralError
                                                          : decision.status.code;
}

void IbmiLink::OnCall(std::shared_ptr<CallJob> job, CallDone then) {
    session_.Begin();
    job->done = [keep = Keep(), this, then = std::move(then),
                 guard = asio::make_work_guard(context_.io)](CallJob& done) {
        asio::post(context_.io, [keep, this, then, outcome = std::move(done.outcome),
                                 areas = std::move(done.areas)]() mutable {
            Finish([&] { then(std::move(outcome), std::move(areas)); });
        });
    };
    context_.worker.Submit(std::move(job));
}

void IbmiLink::Log(const std::string& line, std::string_view kind) const {
    // Names in it come from the wire, and EBCDIC has a newline too.
    std::string shown = line;
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    context_.log.Line(session_.Peer() + ": " + service_ + ": " + shown, Priority::Info, kind);
}

ibmi::Seed IbmiLink::FreshSeed() {
    ibmi::Seed seed;
    RandomBytes(seed);
    return seed;
}

std::string IbmiLink::Hex(std::uint16_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", id);
    return text;
}

std::string IbmiLink::ShownUser(std::string_view user) {
    std::string shown(user);
    for (char& c : shown) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            c = '?';
        else if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return shown;
}

} // namespace tavo::hostd
