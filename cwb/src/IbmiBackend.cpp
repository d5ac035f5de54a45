#include "IbmiBackend.h"

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

IdleConnections<IbmiConnection>& IdleLinks() {
    return IdleConnections<IbmiConnection>::OfProcess();
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

IbmiBackend::IbmiBackend(SystemConfig system)
    : system_(std::move(system)),
      peer_(Peer::Of(system_)), rmtcmd_{ib::kRemoteCommandServer, ib::kRemoteCommandService,
                                        system_.rmtcmdPort, nullptr},
      dtaq_{ib::kDataQueueServer, ib::kDataQueueService, system_.dtaqPort, nullptr} {}

IbmiBackend::~IbmiBackend() {
    for (Service* service : {&rmtcmd_, &dtaq_})
        if (service->link && service->link->IsOpen())
            IdleLinks().Keep(PoolKey(*service), std::move(service->link));
}

std::string IbmiBackend::PoolKey(const Service& service) const {
    return SignOnKey(system_) + '\0' + std::to_string(service.serverId);
}

std::unique_ptr<IbmiConnection> IbmiBackend::NewLink(std::uint16_t serverId) const {
    return std::make_unique<IbmiConnection>(serverId, system_, tlsContext_);
}

Status IbmiBackend::SignOnRefused(std::uint32_t code,
                                  const std::vector<ib::HostMessage>& messages) const {
    const std::string who = "Sign-on as " + system_.user + " to " + peer_.where + " refused: ";
    const std::string host = messages.empty() ? "" : " " + ibmireplies::Joined(messages);
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
    if (auto status = ClientTlsContext(system_, tlsContext_); !status.ok())
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
    auto link = NewLink(early.serverId);
    const Deadline deadline = peer_.Next();
    std::future<Status> reaching;
    try {
        reaching = std::async(std::launch::async, [this, &early, &link, deadline] {
            // An exception would surface only at get(), far from any handler.
            try {
                return Reach(early, *link, deadline);
            } catch (const std::exception& e) {
                link->Close();
                return Status::Fail(CWB_COMMUNICATIONS_ERROR,
                                    "Cannot reach " + peer_.where + ": " + e.what() + ".");
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
    IbmiConnection signon(ib::kSignonServer, system_, tlsContext_);
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
            signon.Close();
            return Status::Fail(CWB_PASSWORD_INCORRECT,
                                "The password for " + system_.user + " cannot be used with " +
                                    peer_.where + ", whose password level is " +
                                    std::to_string(passwordLevel_) + ": " + e.what());
        }
        ib::SignonInfoRequest info;
        info.authenticationType = ib::AuthenticationType(scheme_);
        info.substitute = ib::SubstituteFromToken(scheme_, system_.user, token_,
                                                  attributes.serverSeed, hello.clientSeed);
        info.user = system_.user;
        info.returnMessages = attributes.serverLevel >= 5;
        if (auto status = signon.Exchange(info.Encode(), &reply, deadline); !status.ok())
            return status;
        const auto signedOn = ib::SignonInfoReply::Decode(reply);
        if (signedOn.correlation != info.correlation)
            return signon.Unreadable("a reply to another request");
        signon.Exchange(ib::EncodeSignonEnd(2), nullptr, deadline);
        signon.Close();
        if (signedOn.returnCode != 0)
            return SignOnRefused(signedOn.returnCode, signedOn.messages);
        if (signedOn.serverCcsid == 0)
            return signon.Unreadable("no CCSID");
        hostCcsid_ = signedOn.serverCcsid;
        if (auto kept = PasswordLevels::OfUser().Remember(system_, system_.user, passwordLevel_);
            !kept.ok())
            return kept;
        NotePasswordExpiry(system_.name, ExpiryWarning(signedOn));
    } catch (const ib::DatastreamError& e) {
        return signon.Unreadable(e.what());
    } catch (const ib::SubstituteError& e) {
        signon.Close();
        return Status::Fail(CWB_SECURITY_ERROR,
                            "Cannot sign on to " + peer_.where + ": " + e.what());
    }
    return Status::Ok();
}

Status IbmiBackend::Reach(const Service& service, IbmiConnection& link, Deadline deadline) {
    if (auto status = link.Dial(service.name, service.fixedPort, deadline); !status.ok())
        return status;
    try {
        ib::SeedsRequest seeds{service.serverId, 3, NewSeed()};
        ib::Bytes reply;
        if (auto status = link.Exchange(seeds.Encode(), &reply, deadline); !status.ok())
            return status;
        const auto serverSeeds = ib::SeedsReply::Decode(reply);
        if (serverSeeds.returnCode != 0) {
            link.Close();
            return SignOnRefused(serverSeeds.returnCode);
        }
        link.clientSeed = seeds.clientSeed;
        link.serverSeed = serverSeeds.serverSeed;
    } catch (const ib::DatastreamError& e) {
        return link.Unreadable(e.what());
    }
    return Status::Ok();
}

Status IbmiBackend::Start(const Service& service, IbmiConnection& link, Deadline deadline) {
    try {
        ib::StartServerRequest start{service.serverId, ib::AuthenticationType(scheme_),
                                     ib::SubstituteFromToken(scheme_, system_.user, token_,
                                                             link.serverSeed, link.clientSeed),
                                     system_.user};
        ib::Bytes reply;
        if (auto status = link.Exchange(start.Encode(), &reply, deadline); !status.ok())
            return status;
        if (const auto started = ib::StartServerReply::Decode(reply); started.returnCode != 0) {
            link.Close();
            return SignOnRefused(started.returnCode);
        }
        link.Started();
        if (service.serverId == ib::kRemoteCommandServer) {
            if (auto status =
                    link.Exchange(ib::RcXchgAttributesRequest{}.Encode(), &reply, deadline);
                !status.ok())
                return status;
            if (auto read = ibmireplies::ReadRcAttributes(reply, peer_.where, link.serverLevel);
                !read.ok()) {
                link.Close();
                return read;
            }
            link.ccsid = ib::RcXchgAttributesReply::Decode(reply).ccsid;
        } else {
            if (auto status =
                    link.Exchange(ib::DqXchgAttributesRequest{}.Encode(), &reply, deadline);
                !status.ok())
                return status;
            if (auto read = ibmireplies::ReadDqAttributes(reply, peer_.where); !read.ok()) {
                link.Close();
                return read;
            }
        }
    } catch (const ib::DatastreamError& e) {
        return link.Unreadable(e.what());
    } catch (const ib::CryptoError& e) {
        link.Close();
        return Status::Fail(CWB_SECURITY_ERROR,
                            "Cannot sign on to " + peer_.where + ": " + e.what());
    }
    return Status::Ok();
}

// A connection this backend holds, else one an earlier backend left open, else a new one.
Status IbmiBackend::EnsureOpen(Service& service) {
    if (service.link && service.link->StillOpen())
        return Status::Ok();
    service.link.reset();
    if (auto idle = IdleLinks().TakeOpen(PoolKey(service))) {
        service.link = std::move(idle);
        return Status::Ok();
    }
    if (auto status = ClientTlsContext(system_, tlsContext_); !status.ok())
        return status;
    auto link = NewLink(service.serverId);
    const Deadline deadline = peer_.Next();
    if (auto status = Reach(service, *link, deadline); !status.ok())
        return status;
    if (auto status = Start(service, *link, deadline); !status.ok())
        return status;
    service.link = std::move(link);
    return Status::Ok();
}

Status IbmiBackend::CallProgram(std::string_view program, std::string_view library,
                                std::span<BoundParm> parms) {
    if (auto status = EnsureOpen(rmtcmd_); !status.ok())
        return status;
    IbmiConnection& link = *rmtcmd_.link;
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
    if (auto status = link.Request(std::move(bytes), reply, &sent); !status.ok())
        return sent ? ibmireplies::ReplyLost(program, peer_.where, status.text) : status;
    bool closeLink = false;
    auto status = ibmireplies::ReadCallReply(reply, parms, program, library, peer_.where, closeLink,
                                             link.ccsid);
    if (closeLink)
        link.Close();
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
        if (auto status = dtaq_.link->Request(
                ib::DqQueryAttributesRequest{0, std::string(queue), std::string(library)}.Encode(),
                reply);
            !status.ok())
            return status;
        if (ib::ReadHeader(reply).requestId == ib::kDqCommonReply)
            return QueueProblem(ib::DqCommonReply::Decode(reply, hostCcsid_), peer_.where);
        const auto attributes = ib::DqQueryAttributesReply::Decode(reply);
        if (attributes.queueType != 2)
            return Status::Fail(CWBDQ_QUEUE_NOT_FOUND, "Data queue " + std::string(queue) +
                                                           " in library " + std::string(library) +
                                                           " is not a keyed queue.");
    } catch (const ib::DatastreamError& e) {
        return dtaq_.link->Unreadable(e.what());
    }
    return Status::Ok();
}

Status IbmiBackend::ReadAhead(const ib::DqReadRequest& read, std::size_t count,
                              std::deque<std::string>& entries, bool& drained) {
    std::vector<ib::Bytes> replies;
    // Many reads are in flight, so each answer is held to what an entry of the reply queue
    // can be (a directory record of 61 bytes; the API's area is 600), not to what any
    // datastream may be: a hostile host cannot make a list cost gigabytes.
    constexpr std::uint32_t kMostReadReply = 20 + 2 + 36 + 6 + 1024 + 6 + CWBDQ_MAX_KEY_LENGTH;
    if (auto status = dtaq_.link->RequestMany(read.Encode(), count, replies, kMostReadReply);
        !status.ok())
        return status;

    drained = false;
    Status problem = Status::Ok();
    for (std::size_t i = 0; i < count; ++i) {
        const ib::Bytes& reply = replies[i];
        if (ib::ReadHeader(reply).requestId == ib::kDqCommonReply) {
            const auto common = ib::DqCommonReply::Decode(reply, hostCcsid_);
            if (common.returnCode == ib::kDqNoEntry)
                drained = true;
            else if (problem.ok())
                problem = QueueProblem(common, peer_.where);
            continue;
        }
        const auto entry = ib::DqReadReply::Decode(reply);
        entries.emplace_back(entry.entry.begin(), entry.entry.end());
    }
    return problem;
}

Status IbmiBackend::TakeEntry(std::string_view queue, std::string_view library,
                              std::string_view key, std::string& entry) {
    if (prefetched_.Take(queue, library, key, entry))
        return Status::Ok();
    if (auto status = EnsureOpen(dtaq_); !status.ok())
        return status;
    Prefetched::List& ahead = prefetched_.ToFill(queue, library, key);
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
        status = dtaq_.link->Unreadable(e.what());
    }
    ahead.window = drained ? 0 : std::min(ahead.window * 2, most);
    if (ahead.entries.empty()) {
        prefetched_.Forget(queue, library, key);
        return status.ok() ? NoEntry(queue, library) : status;
    }
    prefetched_.Take(queue, library, key, entry);
    return Status::Ok();
}

} // namespace cwb
