#include "IbmiBackend.h"

#include <cstring>
#include <mutex>
#include <poll.h>
#include <random>

#include "cwbdq.h"
#include "cwbrc.h"

namespace cwb {

namespace ib = tavo::ibmi;

namespace {

constexpr const char* kPortMapperPort = "449";
// Reads sent at once when a list starts; each full batch doubles it, up to the pipeline.
constexpr std::size_t kFirstReadAhead = 32;

// A sign-on proves the password once per process: the level the host asked for and the
// password's equivalent at that level, by system, user and password.
struct SignedOn {
    std::string password;
    int level;
    ib::PasswordScheme scheme;
    ib::Bytes token;
};
std::mutex signOnsMutex;
std::map<std::string, SignedOn>& SignOns() {
    static std::map<std::string, SignedOn> signOns;
    return signOns;
}
std::string SignOnKey(const SystemConfig& system) {
    return system.address + '\0' + system.user;
}

ib::Seed NewSeed() {
    static thread_local std::random_device source;
    ib::Seed seed;
    for (auto& b : seed)
        b = static_cast<std::uint8_t>(source());
    return seed;
}

std::string Hex32(std::uint32_t code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", code);
    return text;
}

std::string Joined(const std::vector<ib::HostMessage>& messages) {
    std::string text;
    for (const auto& m : messages)
        text += (text.empty() ? "" : " ") + m.Display();
    return text;
}

std::string Hex16(std::uint16_t code) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", code);
    return text;
}

} // namespace

void ForgetIbmiSignOns() {
    std::lock_guard lock(signOnsMutex);
    SignOns().clear();
}

IbmiBackend::IbmiBackend(SystemConfig system)
    : system_(std::move(system)),
      tls_(system_.address.starts_with("ibmis://")),
      rmtcmd_{ib::kRemoteCommandServer, ib::kRemoteCommandService, system_.rmtcmdPort,
              Channel(io_)},
      dtaq_{ib::kDataQueueServer, ib::kDataQueueService, system_.dtaqPort, Channel(io_)} {
    std::string_view rest = std::string_view(system_.address);
    rest.remove_prefix(rest.find("://") + 3);
    const auto bracket = rest.rfind(']');
    const auto colon = rest.rfind(':');
    const bool hasPort = colon != std::string_view::npos &&
                         (bracket == std::string_view::npos || colon > bracket) &&
                         (rest.front() == '[' || rest.find(':') == colon);
    host_ = std::string(hasPort ? rest.substr(0, colon) : rest);
    mapperPort_ = hasPort ? std::string(rest.substr(colon + 1)) : kPortMapperPort;
    if (host_.size() > 2 && host_.front() == '[' && host_.back() == ']')
        host_ = host_.substr(1, host_.size() - 2);
}

IbmiBackend::~IbmiBackend() {
    // The remote command server ends its job on request; the data queue server on close.
    if (rmtcmd_.channel.Lowest().is_open())
        Exchange(rmtcmd_.channel, ib::EncodeEndJob(), nullptr,
                 std::chrono::steady_clock::now() + std::chrono::seconds(1));
    Close(rmtcmd_.channel);
    Close(dtaq_.channel);
}

Status IbmiBackend::SignOnRefused(std::uint32_t code,
                                  const std::vector<ib::HostMessage>& messages) {
    const std::string who = "Sign-on as " + system_.user + " to " + Where() + " refused: ";
    const std::string host = messages.empty() ? "" : " " + Joined(messages);
    switch (code) {
    case ib::kSignonUserUnknown:
        return Status::Fail(CWB_USER_UNKNOWN, who + "the host knows no such user." + host);
    case ib::kSignonPasswordIncorrect:
    case ib::kSignonPasswordIncorrectLast:
        return Status::Fail(CWB_PASSWORD_INCORRECT, who + "the password is not correct." + host);
    case ib::kSignonPasswordExpired:
        return Status::Fail(CWB_PASSWORD_EXPIRED, who + "the password has expired." + host);
    case ib::kSignonUserDisabled:
        return Status::Fail(CWB_USER_DISABLED, who + "the user profile is disabled." + host);
    default:
        return Status::Fail(CWB_SIGNON_REFUSED, who + "the host answered " + Hex32(code) + "." + host);
    }
}

Status IbmiBackend::Connect() {
    if (system_.user.empty())
        return Status::Fail(CWB_SECURITY_ERROR, "The systems file gives no user for " +
                                                    system_.name +
                                                    "; its host needs a user and a password.");
    {
        std::lock_guard lock(signOnsMutex);
        auto known = SignOns().find(SignOnKey(system_));
        if (known != SignOns().end() && known->second.password == system_.password) {
            passwordLevel_ = known->second.level;
            scheme_ = known->second.scheme;
            token_ = known->second.token;
            return Status::Ok();
        }
    }
    auto status = SignOn(NextDeadline());
    if (status.ok()) {
        std::lock_guard lock(signOnsMutex);
        SignOns()[SignOnKey(system_)] = {system_.password, passwordLevel_, scheme_, token_};
    }
    return status;
}

// The sign-on server checks the user once and tells the password level; each service
// connection then proves the password again with seeds of its own.
Status IbmiBackend::SignOn(Deadline deadline) {
    unsigned short port = 0;
    if (auto status = PortOf(ib::kSignonService, system_.signonPort, port, deadline); !status.ok())
        return status;
    Channel socket(io_);
    if (auto status = Dial(socket, std::to_string(port), tls_, deadline); !status.ok())
        return status;
    try {
        ib::SignonXchgAttributesRequest hello;
        hello.clientSeed = NewSeed();
        ib::Bytes reply;
        if (auto status = Exchange(socket, hello.Encode(), &reply, deadline); !status.ok())
            return status;
        const auto attributes = ib::SignonXchgAttributesReply::Decode(reply);
        if (attributes.returnCode != 0) {
            Close(socket);
            return SignOnRefused(attributes.returnCode, {});
        }
        passwordLevel_ = attributes.passwordLevel;
        scheme_ = ib::SchemeForLevel(passwordLevel_);
        try {
            token_ = ib::MakeToken(scheme_, system_.user, system_.password);
        } catch (const ib::PasswordError& e) {
            Close(socket);
            return Status::Fail(CWB_PASSWORD_INCORRECT,
                                "The password for " + system_.user + " cannot be used with " +
                                    Where() + ", whose password level is " +
                                    std::to_string(passwordLevel_) + ": " + e.what());
        }
        ib::SignonInfoRequest info;
        info.authenticationType = ib::AuthenticationType(scheme_);
        info.substitute = ib::SubstituteFromToken(scheme_, system_.user, token_,
                                                  attributes.serverSeed, hello.clientSeed);
        info.user = system_.user;
        info.returnMessages = attributes.serverLevel >= 5;
        if (auto status = Exchange(socket, info.Encode(), &reply, deadline); !status.ok())
            return status;
        const auto signedOn = ib::SignonInfoReply::Decode(reply);
        if (signedOn.correlation != info.correlation)
            return Unreadable(socket, "a reply to another request");
        Exchange(socket, ib::EncodeSignonEnd(2), nullptr, deadline);
        Close(socket);
        if (signedOn.returnCode != 0)
            return SignOnRefused(signedOn.returnCode, signedOn.messages);
        if (signedOn.serverCcsid == 0)
            return Unreadable(socket, "no CCSID");
    } catch (const ib::DatastreamError& e) {
        return Unreadable(socket, e.what());
    } catch (const ib::PasswordError& e) {
        Close(socket);
        return Status::Fail(CWB_SECURITY_ERROR, "Cannot sign on to " + Where() + ": " + e.what());
    }
    return Status::Ok();
}

Status IbmiBackend::Open(Service& service, Deadline deadline) {
    Close(service.channel);
    unsigned short port = 0;
    if (auto status = PortOf(service.name, service.fixedPort, port, deadline); !status.ok())
        return status;
    if (auto status = Dial(service.channel, std::to_string(port), tls_, deadline); !status.ok())
        return status;
    try {
        ib::SeedsRequest seeds{service.serverId, 3, NewSeed()};
        ib::Bytes reply;
        if (auto status = Exchange(service.channel, seeds.Encode(), &reply, deadline); !status.ok())
            return status;
        const auto serverSeeds = ib::SeedsReply::Decode(reply);
        if (serverSeeds.returnCode != 0) {
            Close(service.channel);
            return SignOnRefused(serverSeeds.returnCode, {});
        }
        ib::StartServerRequest start{service.serverId, ib::AuthenticationType(scheme_),
                                     ib::SubstituteFromToken(scheme_, system_.user, token_,
                                                             serverSeeds.serverSeed,
                                                             seeds.clientSeed),
                                     system_.user};
        if (auto status = Exchange(service.channel, start.Encode(), &reply, deadline); !status.ok())
            return status;
        if (const auto started = ib::StartServerReply::Decode(reply); started.returnCode != 0) {
            Close(service.channel);
            return SignOnRefused(started.returnCode, {});
        }
        service.correlation = 1;
        if (service.serverId == ib::kRemoteCommandServer) {
            if (auto status = Exchange(service.channel, ib::RcXchgAttributesRequest{}.Encode(),
                                       &reply, deadline);
                !status.ok())
                return status;
            const auto attributes = ib::RcXchgAttributesReply::Decode(reply);
            // 0x0100-0x0108 are warnings the server lets a client live with.
            if (attributes.returnCode != 0 &&
                (attributes.returnCode < 0x0100 || attributes.returnCode > 0x0108)) {
                Close(service.channel);
                return Status::Fail(CWB_COMMUNICATIONS_ERROR,
                                    "The remote command server of " + Where() + " refused us (" +
                                        Hex16(attributes.returnCode) + ").");
            }
            rmtcmdLevel_ = attributes.serverLevel;
        } else {
            if (auto status = Exchange(service.channel, ib::DqXchgAttributesRequest{}.Encode(),
                                       &reply, deadline);
                !status.ok())
                return status;
            ib::DqXchgAttributesReply::Decode(reply);
        }
    } catch (const ib::DatastreamError& e) {
        return Unreadable(service.channel, e.what());
    }
    return Status::Ok();
}

// The host servers never speak unasked, so a socket with something to read between
// requests has been closed from the other end.
Status IbmiBackend::EnsureOpen(Service& service) {
    // Over TLS the host may send session tickets unasked, so there only a hang-up counts.
    if (service.channel.Lowest().is_open()) {
        const short closed = POLLRDHUP | POLLHUP | POLLERR;
        pollfd fd{service.channel.Lowest().native_handle(),
                  static_cast<short>(service.channel.tls ? POLLRDHUP : POLLIN | POLLRDHUP), 0};
        if (::poll(&fd, 1, 0) == 0 || (service.channel.tls && !(fd.revents & closed)))
            return Status::Ok();
    }
    return Open(service, NextDeadline());
}

Status IbmiBackend::Request(Service& service, ib::Bytes request, ib::Bytes& reply) {
    const std::uint32_t correlation = ++service.correlation;
    for (int i = 0; i < 4; ++i)
        request[12 + i] = static_cast<std::uint8_t>(correlation >> (24 - 8 * i));
    if (auto status = Exchange(service.channel, request, &reply, NextDeadline()); !status.ok())
        return status;
    if (ib::ReadHeader(reply).correlation != correlation)
        return Unreadable(service.channel, "a reply to another request");
    return Status::Ok();
}

Status IbmiBackend::CallProgram(std::string_view program, std::string_view library,
                                std::span<BoundParm> parms) {
    if (auto status = EnsureOpen(rmtcmd_); !status.ok())
        return status;
    ib::CallProgramRequest call;
    call.program = std::string(program);
    call.library = std::string(library);
    // "Up to ten messages", in the form this server level knows.
    call.messageOption = rmtcmdLevel_ < 10 ? 0 : rmtcmdLevel_ == 10 ? 3 : 5;
    std::size_t outputs = 0;
    for (const BoundParm& p : parms) {
        call.parms.push_back(ib::MakeCallParm(p.type, ib::ByteView(p.area, p.length), rmtcmdLevel_));
        outputs += p.type != CWBRC_INPUT;
    }
    ib::Bytes bytes;
    try {
        bytes = call.Encode();
    } catch (const ib::DatastreamError& e) {
        return Status::Fail(CWB_INVALID_PARAMETER,
                            std::string("The request cannot be sent to the host: ") + e.what() + ".");
    }
    ib::Bytes reply;
    if (auto status = Request(rmtcmd_, std::move(bytes), reply); !status.ok())
        return status;
    try {
        const auto result = ib::CallProgramReply::Decode(reply);
        if (result.returnCode == 0x0500 || result.returnCode == 0x0501) {
            Status failed = Status::Fail(
                CWBRC_HOST_PROGRAM_ERROR,
                "The host could not run program " + std::string(program) + " in library " +
                    std::string(library) + " (" + Hex16(result.returnCode) + ").");
            for (const auto& m : result.messages)
                failed.messages.push_back(m.Display());
            return failed;
        }
        if (result.returnCode != 0) {
            Close(rmtcmd_.channel);
            return Status::Fail(CWB_COMMUNICATIONS_ERROR,
                                "The remote command server of " + Where() + " refused the call (" +
                                    Hex16(result.returnCode) + ")" +
                                    (result.messages.empty() ? "" : ": " + Joined(result.messages)) +
                                    ".");
        }
        // The areas are the caller's: nothing is written unless every one fits exactly.
        if (result.outputs.size() != outputs)
            return Unreadable(rmtcmd_.channel, "parameter areas that do not match the call");
        std::vector<ib::Bytes> areas;
        for (std::size_t i = 0, o = 0; i < parms.size(); ++i)
            if (parms[i].type != CWBRC_INPUT) {
                areas.push_back(ib::ExpandParm(result.outputs[o++]));
                if (areas.back().size() != parms[i].length)
                    return Unreadable(rmtcmd_.channel, "parameter areas that do not match the call");
            }
        for (std::size_t i = 0, o = 0; i < parms.size(); ++i)
            if (parms[i].type != CWBRC_INPUT) {
                std::memcpy(parms[i].area, areas[o].data(), areas[o].size());
                ++o;
            }
    } catch (const ib::DatastreamError& e) {
        return Unreadable(rmtcmd_.channel, e.what());
    }
    return Status::Ok();
}

namespace {

// What a data queue server's "command check" message says about the queue.
Status QueueProblem(const ib::DqCommonReply& reply, const std::string& where) {
    const std::string text = reply.messageId + " " + reply.text;
    const std::string& id = reply.messageId;
    if (id == "CPF9801" || id == "CPF2105" || id == "CPF9810")
        return Status::Fail(CWBDQ_QUEUE_NOT_FOUND, text);
    if (id == "CPF9802" || id == "CPF2189" || id == "CPF9820" || id == "CPF2182")
        return Status::Fail(CWB_ACCESS_DENIED, text);
    return Status::Fail(CWB_COMMUNICATIONS_ERROR,
                        "The data queue server of " + where + " answered " + Hex16(reply.returnCode) +
                            (id.empty() ? "." : ": " + text));
}

} // namespace

Status IbmiBackend::QueueExists(std::string_view queue, std::string_view library) {
    if (auto status = EnsureOpen(dtaq_); !status.ok())
        return status;
    ib::Bytes reply;
    try {
        if (auto status = Request(dtaq_,
                                  ib::DqQueryAttributesRequest{0, std::string(queue),
                                                               std::string(library)}
                                      .Encode(),
                                  reply);
            !status.ok())
            return status;
        if (ib::ReadHeader(reply).requestId == ib::kDqCommonReply)
            return QueueProblem(ib::DqCommonReply::Decode(reply), Where());
        const auto attributes = ib::DqQueryAttributesReply::Decode(reply);
        if (attributes.queueType != 2)
            return Status::Fail(CWBDQ_QUEUE_NOT_FOUND, "Data queue " + std::string(queue) +
                                                           " in library " + std::string(library) +
                                                           " is not a keyed queue.");
    } catch (const ib::DatastreamError& e) {
        return Unreadable(dtaq_.channel, e.what());
    }
    return Status::Ok();
}

Status IbmiBackend::ReadAhead(const ib::DqReadRequest& read, std::size_t count,
                              std::deque<std::string>& entries, bool& drained) {
    ib::Bytes one = read.Encode();
    ib::Bytes batch;
    batch.reserve(one.size() * count);
    const std::uint32_t first = dtaq_.correlation + 1;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t correlation = ++dtaq_.correlation;
        for (int b = 0; b < 4; ++b)
            one[12 + b] = static_cast<std::uint8_t>(correlation >> (24 - 8 * b));
        batch.insert(batch.end(), one.begin(), one.end());
    }
    std::vector<ib::Bytes> replies(count);
    Channel& channel = dtaq_.channel;
    if (auto status = Transfer(channel, &batch, replies, NextDeadline()); !status.ok())
        return status;

    drained = false;
    Status problem = Status::Ok();
    for (std::size_t i = 0; i < count; ++i) {
        const ib::Bytes& reply = replies[i];
        if (ib::ReadHeader(reply).correlation != first + i)
            return Unreadable(channel, "replies out of order");
        if (ib::ReadHeader(reply).requestId == ib::kDqCommonReply) {
            const auto common = ib::DqCommonReply::Decode(reply);
            if (common.returnCode == ib::kDqNoEntry)
                drained = true;
            else if (problem.ok())
                problem = QueueProblem(common, Where());
            continue;
        }
        const auto entry = ib::DqReadReply::Decode(reply);
        entries.emplace_back(entry.entry.begin(), entry.entry.end());
    }
    return problem;
}

Status IbmiBackend::TakeEntry(std::string_view queue, std::string_view library,
                              std::string_view key, std::string& entry) {
    std::string id(queue);
    ((id += '\0') += library) += '\0';
    id += key;
    auto pending = prefetched_.find(id);
    if (pending == prefetched_.end() || pending->second.entries.empty()) {
        if (auto status = EnsureOpen(dtaq_); !status.ok())
            return status;
        // Lists whose reading stopped at their end marker leave an empty record behind.
        if (pending == prefetched_.end() && prefetched_.size() >= 16)
            std::erase_if(prefetched_, [](const auto& p) { return p.second.entries.empty(); });
        pending = prefetched_.try_emplace(id).first;
        Prefetch& ahead = pending->second;
        const std::size_t most = std::max<std::size_t>(1, system_.pipeline);
        if (ahead.window == 0)
            ahead.window = std::min(kFirstReadAhead, most);
        ib::DqReadRequest read;
        read.queue = std::string(queue);
        read.library = std::string(library);
        read.key.assign(key.begin(), key.end());
        bool drained = false;
        Status status;
        try {
            status = ReadAhead(read, ahead.window, ahead.entries, drained);
        } catch (const ib::DatastreamError& e) {
            status = Unreadable(dtaq_.channel, e.what());
        }
        ahead.window = drained ? 0 : std::min(ahead.window * 2, most);
        if (ahead.entries.empty()) {
            prefetched_.erase(pending);
            if (!status.ok())
                return status;
            return Status::Fail(CWBDQ_TIMED_OUT, "No entry with the requested key on data queue " +
                                                     std::string(queue) + " in library " +
                                                     std::string(library) + ".");
        }
    }
    auto& entries = pending->second.entries;
    entry = std::move(entries.front());
    entries.pop_front();
    if (entries.empty() && pending->second.window == 0)
        prefetched_.erase(pending);
    return Status::Ok();
}

} // namespace cwb
