#include "Session.h"

#include <algorithm>
#include <cctype>

#include "Passwords.h"

namespace tavo::hostd {

namespace pr = protocol;

Session::Session(asio::ip::tcp::socket socket, SessionContext& context)
    : context_(context), socket_(std::move(socket)), timer_(context.io) {
    std::error_code ec;
    const auto remote = socket_.remote_endpoint(ec);
    address_ = ec ? "unknown peer" : remote.address().to_string();
    peer_ = ec ? address_ : address_ + ":" + std::to_string(remote.port());
}

void Session::Start() {
    WatchTime();
    Read();
}

void Session::Stop() {
    stopping_ = true;
    if (!busy_)
        Close("");
}

void Session::Read() {
    if (reading_ || closed_)
        return;
    reading_ = true;
    socket_.async_read_some(
        asio::buffer(readBuffer_),
        [self = shared_from_this()](std::error_code ec, std::size_t n) { self->OnRead(ec, n); });
}

void Session::OnRead(std::error_code ec, std::size_t n) {
    reading_ = false;
    if (closed_)
        return;
    if (ec) {
        if (decoder_.Partial())
            Close("connection ended in the middle of a frame");
        else if (ec == asio::error::eof)
            Close("");
        else
            Close("connection lost: " + ec.message());
        return;
    }
    try {
        decoder_.Feed(std::span(readBuffer_.data(), n));
    } catch (const pr::ProtocolError& e) {
        Close(std::string("bad frame: ") + e.what());
        return;
    }
    Drain();
}

void Session::Drain() {
    while (!busy_ && !closed_) {
        auto body = decoder_.Next();
        if (!body)
            break;
        pr::Message message;
        try {
            message = pr::Decode(*body);
        } catch (const pr::ProtocolError& e) {
            Close(std::string("bad frame: ") + e.what());
            return;
        }
        Handle(std::move(message));
    }
    if (closed_ || busy_)
        return;
    WatchTime();
    Read();
}

// A connection may idle for as long as it likes between requests, but a handshake or a
// frame, once begun, must be complete within the frame time-out.
void Session::WatchTime() {
    const bool due = state_ != State::Ready || decoder_.Partial();
    if (!due) {
        if (timing_)
            timer_.cancel();
        timing_ = false;
        ++timerGeneration_;
        return;
    }
    if (timing_)
        return;
    timing_ = true;
    timer_.expires_after(context_.frameTimeout);
    timer_.async_wait(
        [self = shared_from_this(), generation = timerGeneration_](std::error_code ec) {
            if (ec || self->closed_ || generation != self->timerGeneration_)
                return;
            self->Close("no complete " +
                        std::string(self->state_ == State::Ready ? "frame" : "sign-on") +
                        " within " + std::to_string(self->context_.frameTimeout.count()) + " s");
        });
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

void Session::HandleSignOn(pr::SignOn signOn) {
    busy_ = true;
    // Verifying a hash takes a good fraction of a second of one core, on purpose: it
    // runs beside the io thread so other clients are not held up.
    asio::post(context_.signOnPool, [self = shared_from_this(), signOn = std::move(signOn),
                                     guard = asio::make_work_guard(context_.io)] {
        // A disabled user or an expired password shuts out this protocol as it does the
        // IBM i sign-on; only a caller who knows the password learns which it was.
        std::string refusal = "the user or password is not valid.";
        try {
            const auto account = self->context_.engine.User(signOn.user);
            if (account && VerifyPassword(account->passwords.hash, signOn.password))
                refusal = account->disabled  ? "the user is disabled."
                          : account->expired ? "the password has expired."
                                             : "";
        } catch (const std::exception& e) {
            self->context_.log.Line(self->peer_ + ": cannot check the sign-on: " + e.what());
        }
        asio::post(self->context_.io, [self, refusal, user = signOn.user] {
            self->busy_ = false;
            if (!refusal.empty()) {
                self->context_.log.Line(self->peer_ + ": sign-on refused for user '" + user +
                                        "': " + refusal);
                return self->Reply(pr::Error{pr::ErrorCode::SignOnRefused,
                                             "Sign-on as " + user + " refused: " + refusal},
                                   true);
            }
            self->state_ = State::Ready;
            self->user_ = user;
            self->owner_ = user + "@" + self->address_;
            for (char& c : self->owner_) // a user name is the same in any case
                c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            self->context_.log.Line(self->peer_ + ": signed on as " + user);
            self->Reply(pr::Ok{});
        });
    });
}

void Session::HandleCall(pr::Call call) {
    auto job = std::make_shared<CallJob>();
    job->program = std::move(call.program);
    job->library = std::move(call.library);
    job->owner = owner_;
    for (auto& parm : call.parms) {
        job->directions.push_back(static_cast<server::ParmDirection>(parm.direction));
        if (parm.direction == pr::Direction::Output)
            job->areas.emplace_back(parm.length, '\0');
        else
            job->areas.push_back(std::move(parm.data));
    }
    busy_ = true;
    job->done = [self = shared_from_this(),
                 guard = asio::make_work_guard(context_.io)](CallJob& done) {
        pr::CallReply reply{done.outcome.ok, done.outcome.message, {}};
        for (std::size_t i = 0; i < done.areas.size(); ++i)
            if (done.directions[i] != server::ParmDirection::Input)
                reply.outputs.push_back(std::move(done.areas[i]));
        asio::post(self->context_.io, [self, reply = std::move(reply)] {
            self->busy_ = false;
            self->Reply(reply);
        });
    };
    context_.worker.Submit(std::move(job));
}

void Session::OnEngine(std::function<pr::Message(server::HostEngine&)> task) {
    busy_ = true;
    context_.worker.Submit(
        [self = shared_from_this(), task = std::move(task),
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
    asio::async_write(
        socket_, asio::buffer(*frame),
        [self = shared_from_this(), frame, thenClose](std::error_code ec, std::size_t) {
            self->busy_ = false;
            if (ec)
                return self->Close("cannot send the reply: " + ec.message());
            if (thenClose || self->stopping_)
                return self->Close("");
            self->Drain();
        });
}

void Session::Close(const std::string& why) {
    if (closed_)
        return;
    closed_ = true;
    if (!why.empty())
        context_.log.Line(peer_ + (user_.empty() ? "" : " (" + user_ + ")") + ": " + why +
                          "; connection closed");
    std::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
    timer_.cancel();
    context_.closed(this);
}

} // namespace tavo::hostd
