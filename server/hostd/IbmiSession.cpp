#include "IbmiSession.h"

#include <cstdio>

#include "Passwords.h"

namespace tavo::hostd {

std::string IbmiContext::JobName(const std::string& user, const std::string& program) {
    char number[8];
    std::snprintf(number, sizeof number, "%06u", nextJob);
    nextJob = nextJob % 999999 + 1;
    return std::string(number) + "/" + user + "/" + program;
}

IbmiSession::IbmiSession(std::shared_ptr<Stream> stream, IbmiContext& context,
                         std::uint16_t serverId, std::string service)
    : StreamSession(stream, context.io, {context.frameTimeout, context.idleTimeout}, context.closed,
                    16384),
      context_(context), serverId_(serverId),
      service_(stream->Secure() ? service + std::string(kTlsServiceSuffix) : service) {}

std::string IbmiSession::Take(std::span<const std::uint8_t> bytes) {
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    return {};
}

bool IbmiSession::HandleNext() {
    if (pending_.size() < ibmi::kHeaderLength)
        return false;
    const ibmi::Header header = ibmi::ReadHeader(pending_);
    // Before sign-on only small datastreams come: a stranger gets no more.
    const std::size_t most = MayIdle() ? kMaxDatastream : kMostBeforeSignOn;
    if (header.length < ibmi::kHeaderLength || header.length > most) {
        Close("datastream length " + std::to_string(header.length) + " is not 20 to " +
              std::to_string(most));
        return false;
    }
    if (header.serverId != serverId_) {
        Close("a datastream for server ID " + Hex(header.serverId) + " on the " + service_ +
              " port");
        return false;
    }
    if (pending_.size() < header.length)
        return false;
    const std::vector<std::uint8_t> datastream(pending_.begin(), pending_.begin() + header.length);
    pending_.erase(pending_.begin(), pending_.begin() + header.length);
    try {
        Handle(header, datastream);
    } catch (const ibmi::DatastreamError& e) {
        Close(std::string("bad datastream: ") + e.what());
    } catch (const std::exception& e) {
        Close(std::string("cannot serve a request: ") + e.what());
    }
    return !closed_;
}

void IbmiSession::LogLine(const std::string& line, std::string_view kind) const {
    Log((user_.empty() ? "" : "(" + user_ + ") ") + line, kind);
}

void IbmiSession::Send(ibmi::Bytes reply, std::uint32_t correlation, bool thenClose) {
    if (closed_)
        return;
    ibmi::SetCorrelation(reply, correlation);
    auto bytes = std::make_shared<ibmi::Bytes>(std::move(reply));
    busy_ = true;
    stream_->Write(asio::buffer(*bytes),
                   [self = Self(), bytes, thenClose](std::error_code ec, std::size_t) {
                       if (ec)
                           return self->Close("cannot send the reply: " + ec.message());
                       if (thenClose)
                           return self->Close("");
                       self->Resume();
                   });
}

void IbmiSession::SendAll(ibmi::Bytes replies) {
    if (closed_)
        return;
    auto bytes = std::make_shared<ibmi::Bytes>(std::move(replies));
    busy_ = true;
    stream_->Write(asio::buffer(*bytes), [self = Self(), bytes](std::error_code ec, std::size_t) {
        if (ec)
            return self->Close("cannot send the reply: " + ec.message());
        self->Resume();
    });
}

std::optional<ibmi::Bytes> IbmiSession::NextIf(const std::function<bool(ibmi::ByteView)>& same) {
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

void IbmiSession::OnEngine(std::function<Continuation(server::HostEngine&)> task) {
    busy_ = true;
    context_.worker.Submit(
        [self = Self(), task = std::move(task),
         guard = asio::make_work_guard(context_.io)](server::HostEngine& engine) {
            Continuation then;
            try {
                then = task(engine);
            } catch (const std::exception& e) {
                then = [self, why = std::string(e.what())] { self->Close("host failure: " + why); };
            }
            asio::post(self->context_.io, [self, then = std::move(then)] {
                self->busy_ = false;
                if (!self->closed_)
                    then();
                if (!self->busy_)
                    self->Resume();
            });
        });
}

void IbmiSession::SignOn(const std::string& user, std::string signedOnLine, std::string refusedLine,
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
        address_,
        this,
        &gone_,
        [this](const std::string& line, std::string_view kind) { Log(line, kind); },
        std::move(signedOnLine),
        std::move(refusedLine)};
    auto done = [self = Self(), answer = std::move(answer)](const SignOnDecision& decision) {
        self->busy_ = false;
        self->checking_ = false;
        if (!self->closed_) {
            if (decision.kind != SignOnDecision::Kind::Failed)
                answer(decision);
            else if (!decision.failure.empty())
                self->Close("host failure: " + decision.failure);
        }
        if (!self->busy_)
            self->Resume();
    };
    const auto throttled =
        context_.signOn.SignOn(std::move(attempt), std::move(check), std::move(done));
    if (!throttled) {
        busy_ = true;
        checking_ = true;
        return;
    }
    std::string text = throttled->refusal.text;
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z')
        text[0] = static_cast<char>(text[0] - 'a' + 'A'); // a sentence of its own
    switch (throttled->refusal.kind) {
    case SignOnRefusal::Kind::LockedOut:
        return refused(ibmi::kSignonLockedOut, text);
    case SignOnRefusal::Kind::Wait:
        return refused(ibmi::kSignonDelay, text);
    case SignOnRefusal::Kind::Busy:
        break;
    }
    refused(ibmi::kSignonHostBusy, text);
}

SignOnService::Check IbmiSession::Checking(SignOnAttempt attempt,
                                           std::shared_ptr<SignOnVerdict> verdict) const {
    return [attempt = std::move(attempt), level = context_.passwordLevel,
            verdict = std::move(verdict)](server::HostEngine& engine) {
        *verdict = CheckSignOn(engine, level, attempt);
        const auto code = verdict->returnCode;
        return SignOnFinding{code == 0 || code == ibmi::kSignonUserDisabled ||
                                 code == ibmi::kSignonPasswordExpired,
                             code == 0, code == 0 ? "" : verdict->reason};
    };
}

std::uint32_t IbmiSession::ReturnCode(const SignOnDecision& decision, std::uint32_t checked) {
    return decision.kind == SignOnDecision::Kind::Busy      ? ibmi::kSignonHostBusy
           : decision.kind == SignOnDecision::Kind::Crowded ? ibmi::kSignonGeneralError
                                                            : checked;
}

void IbmiSession::OnCall(std::shared_ptr<CallJob> job, CallDone then) {
    busy_ = true;
    job->done = [self = Self(), then = std::move(then),
                 guard = asio::make_work_guard(context_.io)](CallJob& done) {
        asio::post(self->context_.io, [self, then, outcome = std::move(done.outcome),
                                       areas = std::move(done.areas)]() mutable {
            self->busy_ = false;
            if (!self->closed_)
                then(std::move(outcome), std::move(areas));
            if (!self->busy_)
                self->Resume();
        });
    };
    context_.worker.Submit(std::move(job));
}

void IbmiSession::Log(const std::string& line, std::string_view kind) const {
    // Names in it come from the wire, and EBCDIC has a newline too.
    std::string shown = line;
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = '?';
    context_.log.Line(peer_ + ": " + service_ + ": " + shown, Priority::Info, kind);
}

ibmi::Seed IbmiSession::FreshSeed() const {
    ibmi::Seed seed;
    RandomBytes(seed);
    return seed;
}

std::string IbmiSession::Hex(std::uint16_t id) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", id);
    return text;
}

std::string IbmiSession::ShownUser(std::string_view user) {
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
