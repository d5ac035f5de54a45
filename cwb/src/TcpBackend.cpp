#include "TcpBackend.h"

#include <functional>
#include <optional>
#include <random>

#include "cwbdq.h"
#include "cwbrc.h"
#include "cwbsignon.h"

namespace cwb {

namespace pr = tavo::protocol;

namespace {

// 128 random bits: no two calls of any client may share one.
std::string NewRequestId() {
    static thread_local std::random_device source;
    char id[33];
    for (int i = 0; i < 4; ++i)
        std::snprintf(id + 8 * i, 9, "%08x", static_cast<unsigned>(source()));
    return id;
}

} // namespace

TcpBackend::TcpBackend(SystemConfig system)
    : system_(std::move(system)), peer_(Peer::Of(system_, true)) {}

IdleConnections<Channel>& IdleLines() {
    return IdleConnections<Channel>::OfProcess();
}

void ForgetTcpConnections() {
    IdleLines().Clear();
}

TcpBackend::~TcpBackend() {
    if (Wire().StillOpen())
        IdleLines().Keep(LineKey(), std::move(line_));
}

// A connection signed on with another password is not this one's to use.
std::string TcpBackend::LineKey() const {
    return system_.address + '\0' + system_.user + '\0' + system_.password;
}

void TcpBackend::Drop() {
    Wire().Close();
}

Status TcpBackend::Connect(Use) {
    if (auto idle = IdleLines().TakeOpen(LineKey())) {
        line_ = std::move(idle);
        return Status::Ok();
    }
    return Open();
}

Status TcpBackend::Open() {
    Drop();
    if (system_.user.empty())
        return Status::Fail(CWB_SECURITY_ERROR, "The systems file gives no user for " +
                                                    system_.name +
                                                    "; its host needs a user and a password.");
    const Deadline deadline = peer_.Next();
    if (auto status = Greet(deadline); !status.ok())
        return status;
    pr::Message reply;
    if (auto status = Exchange(pr::SignOn{system_.user, system_.password}, reply, deadline);
        !status.ok())
        return status;
    if (!std::holds_alternative<pr::Ok>(reply))
        return Refused(reply, "a sign-on answer");
    return Status::Ok();
}

Status TcpBackend::Greet(Deadline deadline) {
    if (auto status = ClientTlsContext(system_, tlsContext_); !status.ok())
        return status;
    const Endpoint& at = system_.endpoint;
    if (auto status = Wire().Dial(at.host, at.port, tlsContext_, deadline, Peer::Of(system_));
        !status.ok())
        return status;
    // tcp:// carries the password itself: only to this machine, unless the site says so.
    std::error_code ignored;
    if (!at.tls && !system_.insecurePlaintext &&
        !Wire().Lowest().remote_endpoint(ignored).address().is_loopback()) {
        Drop();
        return Status::Fail(CWB_CONFIG_ERROR,
                            "System " + system_.name + " is at " + at.host +
                                ", another machine, and tcp:// would send the password there "
                                "in the clear. Use tcps://, or, on a network you trust, add "
                                "insecure_plaintext = yes to its section of the systems file.");
    }
    pr::Message reply;
    if (auto status = Exchange(pr::Hello{}, reply, deadline); !status.ok())
        return status;
    if (!std::holds_alternative<pr::HelloOk>(reply))
        return Refused(reply, "a greeting");
    return Status::Ok();
}

Status TcpBackend::ChangePassword(std::string_view user, std::string_view oldPassword,
                                  std::string_view newPassword) {
    Drop();
    const Deadline deadline = peer_.Next();
    if (auto status = Greet(deadline); !status.ok())
        return status;
    pr::Message reply;
    auto status = Exchange(
        pr::ChangePassword{std::string(user), std::string(oldPassword), std::string(newPassword)},
        reply, deadline);
    if (!status.ok()) {
        // A daemon from before password changes closes on a frame it does not know.
        if (status.rc == CWB_COMMUNICATIONS_ERROR)
            status.text += " (A tavo400-hostd older than this program cannot change passwords.)";
        return status;
    }
    Drop(); // the daemon closes a connection that changed a password
    if (std::holds_alternative<pr::Ok>(reply))
        return Status::Ok();
    if (const auto* error = std::get_if<pr::Error>(&reply);
        error && error->code == pr::ErrorCode::PasswordRefused)
        return Status::Fail(CWB_NEW_PASSWORD_REFUSED, error->text);
    return Refused(reply, "an answer to the change of password");
}

Status TcpBackend::EnsureOpen() {
    if (Wire().StillOpen())
        return Status::Ok();
    return Open();
}

Status TcpBackend::Exchange(const pr::Message& request, pr::Message& reply, Deadline deadline,
                            bool* sent) {
    if (sent)
        *sent = false;
    std::string frame;
    try {
        frame = pr::Encode(request);
    } catch (const pr::ProtocolError& e) {
        return Status::Fail(CWB_INVALID_PARAMETER,
                            std::string("The request cannot be sent to the host: ") + e.what() +
                                ".");
    }
    std::error_code result = asio::error::would_block;
    std::string broken;
    pr::FrameDecoder decoder;
    std::optional<std::vector<std::uint8_t>> body;
    std::function<void()> readMore;
    Wire().With([&](auto& stream) {
        readMore = [&] {
            stream.async_read_some(asio::buffer(readBuffer_),
                                   [&](std::error_code ec, std::size_t n) {
                                       if (ec) {
                                           result = ec;
                                           return;
                                       }
                                       try {
                                           decoder.Feed(std::span(readBuffer_.data(), n));
                                           body = decoder.Next();
                                       } catch (const pr::ProtocolError& e) {
                                           broken = e.what();
                                           result = asio::error::invalid_argument;
                                           return;
                                       }
                                       if (body)
                                           result = {};
                                       else
                                           readMore();
                                   });
        };
        asio::async_write(stream, asio::buffer(frame), [&](std::error_code ec, std::size_t) {
            if (ec) {
                result = ec;
                return;
            }
            if (sent)
                *sent = true;
            readMore();
        });
    });
    if (!Wire().RunUntil(deadline))
        return TimedOut(peer_);
    if (!result && body) {
        try {
            reply = pr::Decode(*body);
            return Status::Ok();
        } catch (const pr::ProtocolError& e) {
            broken = e.what();
        }
    }
    Drop();
    if (!broken.empty())
        return Status::Fail(CWB_COMMUNICATIONS_ERROR,
                            "The host " + peer_.where + " sent a reply this program cannot read (" +
                                broken + "); the connection was closed.");
    return Status::Fail(CWB_COMMUNICATIONS_ERROR, "The connection to " + peer_.where +
                                                      " broke during the call (" +
                                                      result.message() + ").");
}

Status TcpBackend::Refused(const pr::Message& reply, std::string_view expected) {
    Drop();
    if (const auto* error = std::get_if<pr::Error>(&reply)) {
        switch (error->code) {
        case pr::ErrorCode::SignOnRefused:
        case pr::ErrorCode::NotSignedOn:
            return Status::Fail(CWB_SECURITY_ERROR, error->text);
        case pr::ErrorCode::PasswordExpired:
            return Status::Fail(CWB_PASSWORD_EXPIRED, error->text);
        case pr::ErrorCode::LockedOut:
            return Status::Fail(CWB_USER_LOCKED_OUT, error->text);
        case pr::ErrorCode::SignOnDelay:
            return Status::Fail(CWB_SIGNON_DELAYED, error->text);
        case pr::ErrorCode::HostBusy:
            return Status::Fail(CWB_HOST_BUSY, error->text);
        default:
            return Status::Fail(CWB_COMMUNICATIONS_ERROR, error->text);
        }
    }
    return Status::Fail(CWB_COMMUNICATIONS_ERROR, "The host " + peer_.where + " did not send " +
                                                      std::string(expected) +
                                                      "; the connection was closed.");
}

Status TcpBackend::CallProgram(std::string_view program, std::string_view library,
                               std::span<BoundParm> parms) {
    pr::Call call{std::string(program), std::string(library), {}, {}};
    for (const BoundParm& p : parms) {
        pr::Parm parm{static_cast<pr::Direction>(p.type), static_cast<std::uint32_t>(p.length), {}};
        if (p.type != CWBRC_OUTPUT)
            parm.data.assign(reinterpret_cast<const char*>(p.area), p.length);
        call.parms.push_back(std::move(parm));
    }
    call.requestId = NewRequestId();
    if (auto status = EnsureOpen(); !status.ok())
        return status;
    pr::Message reply;
    bool sent = false;
    if (auto status = Exchange(call, reply, peer_.Next(), &sent); !status.ok()) {
        if (!sent)
            return status;
        // The reply was lost: once more on a new connection, which the daemon recognises.
        if (status.rc == CWB_COMMUNICATIONS_ERROR) {
            status = Open();
            if (status.ok())
                status = Exchange(call, reply, peer_.Next());
        }
        if (!status.ok())
            return Status::Fail(CWB_REPLY_LOST,
                                "The call of " + call.program + " reached " + peer_.where +
                                    ", but its answer was lost (" + status.text +
                                    ") The host may have run it: check before calling again.");
    }
    const auto* result = std::get_if<pr::CallReply>(&reply);
    if (!result)
        return Refused(reply, "the program's result");
    if (!result->ok)
        return Status::Fail(CWBRC_HOST_PROGRAM_ERROR, result->message);
    // The areas are the caller's: nothing is written unless every one fits exactly.
    bool fits = result->outputs.size() == OutputCount(parms);
    for (std::size_t i = 0, o = 0; fits && i < parms.size(); ++i)
        if (parms[i].type != CWBRC_INPUT)
            fits = result->outputs[o++].size() == parms[i].length;
    if (!fits) {
        Drop();
        return Status::Fail(CWB_COMMUNICATIONS_ERROR,
                            "The host " + peer_.where +
                                " returned parameter areas that do not match the call.");
    }
    CopyOutputs(parms, result->outputs);
    return Status::Ok();
}

Status TcpBackend::QueueExists(std::string_view queue, std::string_view library) {
    if (auto status = EnsureOpen(); !status.ok())
        return status;
    pr::Message reply;
    if (auto status = Exchange(pr::QueueExists{std::string(queue), std::string(library)}, reply,
                               peer_.Next());
        !status.ok())
        return status;
    if (std::holds_alternative<pr::Ok>(reply))
        return Status::Ok();
    if (const auto* error = std::get_if<pr::Error>(&reply);
        error && error->code == pr::ErrorCode::QueueNotFound)
        return Status::Fail(CWBDQ_QUEUE_NOT_FOUND, error->text);
    return Refused(reply, "an answer about the queue");
}

Status TcpBackend::TakeEntry(std::string_view queue, std::string_view library, std::string_view key,
                             std::string& entry) {
    if (prefetched_.Take(queue, library, key, entry))
        return Status::Ok();
    if (auto status = EnsureOpen(); !status.ok())
        return status;
    pr::Message reply;
    pr::Take take{std::string(queue), std::string(library), std::string(key),
                  static_cast<std::uint32_t>(pr::kMaxEntriesPerReply)};
    if (auto status = Exchange(take, reply, peer_.Next()); !status.ok())
        return status;
    auto* entries = std::get_if<pr::Entries>(&reply);
    if (!entries)
        return Refused(reply, "queue entries");
    if (entries->entries.empty())
        return NoEntry(queue, library);
    auto& list = prefetched_.ToFill(queue, library, key).entries;
    list.assign(std::make_move_iterator(entries->entries.begin()),
                std::make_move_iterator(entries->entries.end()));
    prefetched_.Take(queue, library, key, entry);
    return Status::Ok();
}

} // namespace cwb
