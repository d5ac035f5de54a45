#include "IbmiBackend.h"

#include <cstring>
#include <future>
#include <mutex>
#include <random>

#include "IbmiReplies.h"
#include "PasswordLevels.h"
#include "SignOn.h"
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
    std::uint32_t ccsid; // the sign-on server's
};
std::mutex signOnsMutex;
std::map<std::string, SignedOn>& SignOns() {
    static std::map<std::string, SignedOn> signOns;
    return signOns;
}
std::string SignOnKey(const SystemConfig& system) {
    return system.address + '\0' + system.user;
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

// Never destroyed, so none is closed behind a thread at exit.
IdleConnections<IbmiBackend::Link>& IdleLinks() {
    static auto* idle = new IdleConnections<IbmiBackend::Link>;
    return *idle;
}

} // namespace

ib::Seed NewSeed() {
    static thread_local std::random_device source;
    ib::Seed seed;
    for (auto& b : seed)
        b = static_cast<std::uint8_t>(source());
    return seed;
}

void ForgetIbmiSignOns() {
    IdleLinks().Clear();
    std::lock_guard lock(signOnsMutex);
    SignOns().clear();
}

IbmiBackend::Link::~Link() {
    if (serverId == ib::kRemoteCommandServer && started && channel.Lowest().is_open()) {
        static const ib::Bytes endJob = ib::EncodeEndJob();
        channel.With([&](auto& stream) {
            asio::async_write(stream, asio::buffer(endJob), [](std::error_code, std::size_t) {});
        });
        channel.RunUntil(std::chrono::steady_clock::now() + std::chrono::seconds(1));
    }
    channel.Close();
}

IbmiBackend::IbmiBackend(SystemConfig system)
    : system_(std::move(system)),
      tls_(system_.address.starts_with("ibmis://")), rmtcmd_{ib::kRemoteCommandServer,
                                                             ib::kRemoteCommandService,
                                                             system_.rmtcmdPort, nullptr},
      dtaq_{ib::kDataQueueServer, ib::kDataQueueService, system_.dtaqPort, nullptr} {
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
    for (Service* service : {&rmtcmd_, &dtaq_})
        if (service->link && service->link->channel.Lowest().is_open())
            IdleLinks().Keep(PoolKey(*service), std::move(service->link));
}

std::string IbmiBackend::PoolKey(const Service& service) const {
    return SignOnKey(system_) + '\0' + std::to_string(service.serverId);
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
    // tavo400-hostd's own: an IBM i disables the profile instead, and neither delays nor
    // refuses for load.
    case ib::kSignonLockedOut:
        return Status::Fail(CWB_USER_LOCKED_OUT,
                            who + "the user is locked out for a while." + host);
    case ib::kSignonDelay:
        return Status::Fail(CWB_SIGNON_DELAYED,
                            who + "the host wants a pause before the next attempt." + host);
    case ib::kSignonHostBusy:
        return Status::Fail(CWB_HOST_BUSY, who + "the host is busy; try again in a moment." + host);
    default:
        return Status::Fail(CWB_SIGNON_REFUSED,
                            who + "the host answered " + Hex32(code) + "." + host);
    }
}

Status IbmiBackend::Connect(Use use) {
    if (system_.user.empty())
        return Status::Fail(CWB_SECURITY_ERROR, "The systems file gives no user for " +
                                                    system_.name +
                                                    "; its host needs a user and a password.");
    if (auto status = TlsReady(); !status.ok())
        return status;
    {
        std::lock_guard lock(signOnsMutex);
        auto known = SignOns().find(SignOnKey(system_));
        if (known != SignOns().end() && known->second.password == system_.password) {
            passwordLevel_ = known->second.level;
            scheme_ = known->second.scheme;
            token_ = known->second.token;
            hostCcsid_ = known->second.ccsid;
            return Status::Ok();
        }
    }
    // The service's connection is reached while the sign-on runs, but its server is
    // started only once the sign-on has succeeded: a wrong password must cost the user
    // profile one failed attempt, not two.
    Service& early = use == Use::Programs ? rmtcmd_ : dtaq_;
    auto link = std::make_unique<Link>(early.serverId);
    const Deadline deadline = NextDeadline();
    std::future<Status> reaching;
    try {
        reaching = std::async(std::launch::async, [this, &early, &link, deadline] {
            // An exception would surface only at get(), far from any handler.
            try {
                return Reach(early, *link, deadline);
            } catch (const std::exception& e) {
                link->channel.Close();
                return Status::Fail(CWB_COMMUNICATIONS_ERROR,
                                    "Cannot reach " + Where() + ": " + e.what() + ".");
            }
        });
    } catch (const std::system_error&) {
        link.reset(); // no thread to spare: the service opens on first use
    }
    auto status = SignOn(deadline);
    Status reached = reaching.valid() ? reaching.get() : Status::Ok();
    if (!status.ok())
        return status;
    {
        std::lock_guard lock(signOnsMutex);
        SignOns()[SignOnKey(system_)] = {system_.password, passwordLevel_, scheme_, token_,
                                         hostCcsid_};
    }
    if (!link)
        return Status::Ok();
    if (!reached.ok())
        return reached;
    if (auto started = Start(early, *link, deadline); !started.ok())
        return started;
    early.link = std::move(link);
    return Status::Ok();
}

// The sign-on server checks the user once and tells the password level; each service
// connection then proves the password again with seeds of its own.
Status IbmiBackend::SignOn(Deadline deadline) {
    Link signon(ib::kSignonServer);
    Channel& socket = signon.channel;
    try {
        ib::SignonXchgAttributesRequest hello;
        ib::SignonXchgAttributesReply attributes;
        if (auto status = OpenSignon(signon, hello.clientSeed, attributes, deadline); !status.ok())
            return status;
        ib::Bytes reply;
        passwordLevel_ = attributes.passwordLevel;
        scheme_ = ib::SchemeForLevel(passwordLevel_);
        try {
            token_ = ib::MakeToken(scheme_, system_.user, system_.password);
        } catch (const ib::PasswordError& e) {
            socket.Close();
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
        socket.Close();
        if (signedOn.returnCode != 0)
            return SignOnRefused(signedOn.returnCode, signedOn.messages);
        if (signedOn.serverCcsid == 0)
            return Unreadable(socket, "no CCSID");
        hostCcsid_ = signedOn.serverCcsid;
        if (auto kept = PasswordLevels::OfUser().Remember(system_, system_.user, passwordLevel_);
            !kept.ok())
            return kept;
        NotePasswordExpiry(system_.name, ExpiryWarning(signedOn));
    } catch (const ib::DatastreamError& e) {
        return Unreadable(socket, e.what());
    } catch (const ib::PasswordError& e) {
        socket.Close();
        return Status::Fail(CWB_SECURITY_ERROR, "Cannot sign on to " + Where() + ": " + e.what());
    }
    return Status::Ok();
}

Status IbmiBackend::Reach(const Service& service, Link& link, Deadline deadline) {
    unsigned short port = 0;
    if (auto status = PortOf(link.io, service.name, service.fixedPort, port, deadline);
        !status.ok())
        return status;
    link.tlsContext = tlsContext_;
    if (auto status = Dial(link.channel, port, deadline); !status.ok())
        return status;
    try {
        ib::SeedsRequest seeds{service.serverId, 3, NewSeed()};
        ib::Bytes reply;
        if (auto status = Exchange(link.channel, seeds.Encode(), &reply, deadline); !status.ok())
            return status;
        const auto serverSeeds = ib::SeedsReply::Decode(reply);
        if (serverSeeds.returnCode != 0) {
            link.channel.Close();
            return SignOnRefused(serverSeeds.returnCode, {});
        }
        link.clientSeed = seeds.clientSeed;
        link.serverSeed = serverSeeds.serverSeed;
    } catch (const ib::DatastreamError& e) {
        return Unreadable(link.channel, e.what());
    }
    return Status::Ok();
}

Status IbmiBackend::Start(const Service& service, Link& link, Deadline deadline) {
    Channel& channel = link.channel;
    try {
        ib::StartServerRequest start{service.serverId, ib::AuthenticationType(scheme_),
                                     ib::SubstituteFromToken(scheme_, system_.user, token_,
                                                             link.serverSeed, link.clientSeed),
                                     system_.user};
        ib::Bytes reply;
        if (auto status = Exchange(channel, start.Encode(), &reply, deadline); !status.ok())
            return status;
        if (const auto started = ib::StartServerReply::Decode(reply); started.returnCode != 0) {
            channel.Close();
            return SignOnRefused(started.returnCode, {});
        }
        link.correlation = 1;
        link.started = true;
        if (service.serverId == ib::kRemoteCommandServer) {
            if (auto status =
                    Exchange(channel, ib::RcXchgAttributesRequest{}.Encode(), &reply, deadline);
                !status.ok())
                return status;
            if (auto read = ibmireplies::ReadRcAttributes(reply, Where(), link.serverLevel);
                !read.ok()) {
                channel.Close();
                return read;
            }
            link.ccsid = ib::RcXchgAttributesReply::Decode(reply).ccsid;
        } else {
            if (auto status =
                    Exchange(channel, ib::DqXchgAttributesRequest{}.Encode(), &reply, deadline);
                !status.ok())
                return status;
            if (auto read = ibmireplies::ReadDqAttributes(reply, Where()); !read.ok()) {
                channel.Close();
                return read;
            }
        }
    } catch (const ib::DatastreamError& e) {
        return Unreadable(channel, e.what());
    }
    return Status::Ok();
}

// A connection this backend holds, else one an earlier backend left open, else a new one.
Status IbmiBackend::EnsureOpen(Service& service) {
    if (service.link && service.link->channel.StillOpen())
        return Status::Ok();
    service.link.reset();
    while (auto idle = IdleLinks().Take(PoolKey(service)))
        if (idle->channel.StillOpen()) {
            service.link = std::move(idle);
            return Status::Ok();
        }
    if (auto status = TlsReady(); !status.ok())
        return status;
    auto link = std::make_unique<Link>(service.serverId);
    const Deadline deadline = NextDeadline();
    if (auto status = Reach(service, *link, deadline); !status.ok())
        return status;
    if (auto status = Start(service, *link, deadline); !status.ok())
        return status;
    service.link = std::move(link);
    return Status::Ok();
}

Status IbmiBackend::Request(Link& link, ib::Bytes request, ib::Bytes& reply, bool* sent) {
    const std::uint32_t correlation = ++link.correlation;
    ib::SetCorrelation(request, correlation);
    if (auto status = Exchange(link.channel, request, &reply, NextDeadline(), sent); !status.ok())
        return status;
    if (ib::ReadHeader(reply).correlation != correlation)
        return Unreadable(link.channel, "a reply to another request");
    return Status::Ok();
}

Status IbmiBackend::CallProgram(std::string_view program, std::string_view library,
                                std::span<BoundParm> parms) {
    if (auto status = EnsureOpen(rmtcmd_); !status.ok())
        return status;
    Link& link = *rmtcmd_.link;
    const std::uint16_t level = link.serverLevel;
    ib::CallProgramRequest call;
    call.program = std::string(program);
    call.library = std::string(library);
    // "Up to ten messages", in the form this server level knows.
    call.messageOption = level < 10 ? 0 : level == 10 ? 3 : 5;
    for (const BoundParm& p : parms)
        call.parms.push_back(ib::MakeCallParm(p.type, ib::ByteView(p.area, p.length), level));
    ib::Bytes bytes;
    try {
        bytes = call.Encode();
    } catch (const ib::DatastreamError& e) {
        return Status::Fail(CWB_INVALID_PARAMETER,
                            std::string("The request cannot be sent to the host: ") + e.what() +
                                ".");
    }
    ib::Bytes reply;
    bool sent = false;
    // The host servers cannot tell a call sent again from a new one.
    if (auto status = Request(link, std::move(bytes), reply, &sent); !status.ok())
        return sent ? ibmireplies::ReplyLost(program, Where(), status.text) : status;
    bool closeLink = false;
    auto status =
        ibmireplies::ReadCallReply(reply, parms, program, library, Where(), closeLink, link.ccsid);
    if (closeLink)
        link.channel.Close();
    return status;
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
    return Status::Fail(CWB_COMMUNICATIONS_ERROR, "The data queue server of " + where +
                                                      " answered " +
                                                      ibmireplies::Hex16(reply.returnCode) +
                                                      (id.empty() ? "." : ": " + text));
}

} // namespace

Status IbmiBackend::QueueExists(std::string_view queue, std::string_view library) {
    if (auto status = EnsureOpen(dtaq_); !status.ok())
        return status;
    ib::Bytes reply;
    try {
        if (auto status = Request(
                *dtaq_.link,
                ib::DqQueryAttributesRequest{0, std::string(queue), std::string(library)}.Encode(),
                reply);
            !status.ok())
            return status;
        if (ib::ReadHeader(reply).requestId == ib::kDqCommonReply)
            return QueueProblem(ib::DqCommonReply::Decode(reply, hostCcsid_), Where());
        const auto attributes = ib::DqQueryAttributesReply::Decode(reply);
        if (attributes.queueType != 2)
            return Status::Fail(CWBDQ_QUEUE_NOT_FOUND, "Data queue " + std::string(queue) +
                                                           " in library " + std::string(library) +
                                                           " is not a keyed queue.");
    } catch (const ib::DatastreamError& e) {
        return Unreadable(dtaq_.link->channel, e.what());
    }
    return Status::Ok();
}

Status IbmiBackend::ReadAhead(const ib::DqReadRequest& read, std::size_t count,
                              std::deque<std::string>& entries, bool& drained) {
    ib::Bytes one = read.Encode();
    ib::Bytes batch;
    batch.reserve(one.size() * count);
    Link& link = *dtaq_.link;
    const std::uint32_t first = link.correlation + 1;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t correlation = ++link.correlation;
        for (int b = 0; b < 4; ++b)
            one[12 + b] = static_cast<std::uint8_t>(correlation >> (24 - 8 * b));
        batch.insert(batch.end(), one.begin(), one.end());
    }
    std::vector<ib::Bytes> replies(count);
    Channel& channel = link.channel;
    // Many reads are in flight, so each answer is held to what an entry of the reply queue
    // can be (a directory record of 61 bytes; the API's area is 600), not to what any
    // datastream may be: a hostile host cannot make a list cost gigabytes.
    constexpr std::uint32_t kMostReadReply = 20 + 2 + 36 + 6 + 1024 + 6 + CWBDQ_MAX_KEY_LENGTH;
    if (auto status = Transfer(channel, &batch, replies, NextDeadline(), nullptr, kMostReadReply);
        !status.ok())
        return status;

    drained = false;
    Status problem = Status::Ok();
    for (std::size_t i = 0; i < count; ++i) {
        const ib::Bytes& reply = replies[i];
        if (ib::ReadHeader(reply).correlation != first + i)
            return Unreadable(channel, "replies out of order");
        if (ib::ReadHeader(reply).requestId == ib::kDqCommonReply) {
            const auto common = ib::DqCommonReply::Decode(reply, hostCcsid_);
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
            status = Unreadable(dtaq_.link->channel, e.what());
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
