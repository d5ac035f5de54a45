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

void IbmiSession::OnCheck(std::function<Continuation(server::HostEngine&)> check,
                          Continuation busy) {
    busy_ = true;
    checking_ = true;
    // A check of a client that has gone is skipped: nobody is left to answer.
    auto run = [self = Self(), check = std::move(check),
                guard = asio::make_work_guard(context_.io)](server::HostEngine& engine) {
        Continuation then;
        try {
            if (!self->gone_)
                then = check(engine);
        } catch (const std::exception& e) {
            then = [self, why = std::string(e.what())] { self->Close("host failure: " + why); };
        }
        asio::post(self->context_.io, [self, then = std::move(then)] {
            self->busy_ = false;
            self->checking_ = false;
            if (!self->closed_ && then)
                then();
            if (!self->busy_)
                self->Resume();
        });
    };
    auto refused = [self = Self(), busy = std::move(busy)] {
        self->busy_ = false;
        self->checking_ = false;
        if (const auto ticket = std::move(self->ticket_)) {
            if (auto locked = ticket->Busy(); !locked.empty())
                self->context_.log.Line(locked, Priority::Warning);
        }
        if (self->closed_)
            return;
        self->Log("sign-on refused: too many checks waiting", "too many checks waiting");
        busy();
        if (!self->busy_)
            self->Resume();
    };
    context_.checks.Submit(address_, {std::move(run), std::move(refused)});
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

std::optional<std::uint32_t> IbmiSession::Throttled(const std::string& user) {
    ticket_.reset();
    // Refused before it is counted, kept or logged: a stranger's long names cost nothing.
    if (user.size() > kMostUserNameLength) {
        throttled_ = "A user profile name has at most " + std::to_string(kMostUserNameLength) +
                     " characters.";
        Log("sign-on refused: a user name of " + std::to_string(user.size()) + " bytes",
            "user name too long");
        return ibmi::kSignonUserIdLengthNotValid;
    }
    auto admission = context_.guard.Begin(user, address_);
    // Not logged one by one: a flood would fill the log; a lock is logged once.
    if (!admission.logged.empty())
        context_.log.Line(admission.logged, Priority::Warning);
    if (admission.ticket) {
        ticket_ = std::make_unique<SignOnGuard::Ticket>(std::move(*admission.ticket));
        return std::nullopt;
    }
    throttled_ = admission.refusal.text;
    switch (admission.refusal.kind) {
    case SignOnRefusal::Kind::LockedOut:
        return ibmi::kSignonLockedOut;
    case SignOnRefusal::Kind::Wait:
        return ibmi::kSignonDelay;
    case SignOnRefusal::Kind::Busy:
        break;
    }
    return ibmi::kSignonHostBusy;
}

std::vector<ibmi::HostMessage> IbmiSession::ThrottledMessages() const {
    ibmi::HostMessage message;
    message.text = throttled_;
    if (!message.text.empty() && message.text[0] >= 'a' && message.text[0] <= 'z')
        message.text[0] = static_cast<char>(message.text[0] - 'a' + 'A'); // a sentence of its own
    return {message};
}

SignOnVerdict IbmiSession::Settle(const std::string& user, SignOnVerdict verdict) {
    const auto ticket = std::move(ticket_); // a verdict left untold lets the check go
    if (verdict.returnCode == 0) {
        if (ticket)
            ticket->Succeeded();
        if (!context_.signedOn(this, user))
            return {ibmi::kSignonGeneralError,
                    "as many connections of this user from this address as are allowed"};
    } else if (verdict.returnCode == ibmi::kSignonPasswordIncorrect && ticket) {
        if (auto locked = ticket->Failed(); !locked.empty())
            context_.log.Line(locked, Priority::Warning);
    } // disabled or expired: the password was right
    return verdict;
}

} // namespace tavo::hostd
