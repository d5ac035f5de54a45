#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Backend.h"
#include "Channel.h"
#include "IbmiConnection.h"
#include "Messages.h"
#include "PasswordSubstitute.h"
#include "Prefetched.h"

namespace cwb {

// An IBM i at ibmi://HOST[:PORT] or, over TLS, ibmis://HOST[:PORT] (or a tavo400-hostd
// serving its datastreams), reached through the host servers: the sign-on server checks
// the user and says which password substitute the host wants, and the remote command and
// data queue servers each get a connection of their own. The connection a caller will use
// is reached while the sign-on runs; the other opens on first use. Connections outlive the
// backend: the next one for the same system and user takes them over, so a process signs
// on and opens each server once. A connection the host has closed is opened again before a
// request goes out, as with tcp://; but unlike tcp://, a request that was sent is never
// sent again, since the host servers cannot tell a repeat from a new request.
class IbmiBackend final : public Backend {
  public:
    explicit IbmiBackend(SystemConfig system);
    ~IbmiBackend() override;
    Status Connect(Use use) override;
    Status CallProgram(std::string_view program, std::string_view library,
                       std::span<BoundParm> parms) override;
    Status QueueExists(std::string_view queue, std::string_view library) override;
    // Keeps several reads in flight, more as a list proves long, and hands the entries
    // out one by one in the order the host sent them.
    Status TakeEntry(std::string_view queue, std::string_view library, std::string_view key,
                     std::string& entry) override;
    // Through the sign-on server alone, at the password level it asks for.
    Status ChangePassword(std::string_view user, std::string_view oldPassword,
                          std::string_view newPassword) override;
    std::uint32_t HostCcsid() const override { return hostCcsid_; }

  private:
    struct Service {
        std::uint16_t serverId;
        std::string_view name; // what the port mapper knows it by
        unsigned short fixedPort;
        std::unique_ptr<IbmiConnection> link;
    };

    Status SignOn(Deadline deadline);
    // A connection to the sign-on server with attributes exchanged: its seeds and level.
    Status OpenSignon(IbmiConnection& signon, tavo::ibmi::Seed& clientSeed,
                      tavo::ibmi::SignonXchgAttributesReply& attributes, Deadline deadline);
    // Connects to the service's server and trades seeds: nothing that needs the password.
    Status Reach(const Service& service, IbmiConnection& link, Deadline deadline);
    // Proves the password with those seeds and starts the server.
    Status Start(const Service& service, IbmiConnection& link, Deadline deadline);
    Status EnsureOpen(Service& service);
    std::unique_ptr<IbmiConnection> NewLink(std::uint16_t serverId) const;
    // `count` reads sent back to back; the entries that came, in order. `drained` tells
    // whether the host ran out of entries before the last read.
    Status ReadAhead(const tavo::ibmi::DqReadRequest& read, std::size_t count,
                     std::deque<std::string>& entries, bool& drained);
    Status SignOnRefused(std::uint32_t code,
                         const std::vector<tavo::ibmi::HostMessage>& messages = {}) const;
    std::string PoolKey(const Service& service) const;

    SystemConfig system_;
    Peer peer_;
    std::shared_ptr<TlsContext> tlsContext_;
    Service rmtcmd_;
    Service dtaq_;
    tavo::ibmi::PasswordScheme scheme_ = tavo::ibmi::PasswordScheme::Sha1;
    tavo::ibmi::Bytes token_; // the password's equivalent for this host's level
    int passwordLevel_ = -1;
    std::uint32_t hostCcsid_ = 37; // the sign-on server's; the data queue's messages are in it
    Prefetched prefetched_;
};

// Eight random bytes for a seed of ours.
tavo::ibmi::Seed NewSeed();

// Forgets the sign-ons this process has made and closes the connections it keeps
// (tests: a fresh process).
void ForgetIbmiSignOns();

// The days a signed-on password has left when the host's warning period has begun
// (the host's own period, else 7 days); nullopt when no warning is due.
std::optional<int> ExpiryWarning(const tavo::ibmi::SignonInfoReply& info);

} // namespace cwb
