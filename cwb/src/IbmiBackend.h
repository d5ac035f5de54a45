#pragma once

#include <asio.hpp>
#include <asio/ssl.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <string>

#include "Backend.h"
#include "Channel.h"
#include "Messages.h"
#include "PasswordSubstitute.h"

namespace cwb {

// An IBM i at ibmi://HOST[:PORT] or, over TLS, ibmis://HOST[:PORT] (or a tavo400-hostd
// serving its datastreams), reached through the host servers: the port mapper names each
// server's port, the sign-on server checks the user and says which password substitute
// the host wants, and the remote command and data queue servers each get a connection of
// their own. The connection a caller will use is reached while the sign-on runs; the other
// opens on first use. Connections outlive the backend: the next one for the same system
// and user takes them over, so a process signs on and opens each server once. Every
// exchange has a deadline. As with tcp://, a connection the host has closed is opened
// again before a request goes out, and a request that was sent is never resent.
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
  public:
    // One server's connection with what it needs of its own: an io_context, so that
    // connections can be reached at the same time on different threads and handed from
    // one backend to the next.
    struct Link {
        explicit Link(std::uint16_t server) : serverId(server), channel(io) {}
        Link(const Link&) = delete;
        Link& operator=(const Link&) = delete;
        // Ends the remote command server's job, as it asks, and closes.
        ~Link();
        bool started = false; // a server never started has no job to end
        std::uint16_t serverId;
        asio::io_context io;
        std::shared_ptr<asio::ssl::context> tlsContext; // what the channel's TLS was made with
        Channel channel;
        std::uint32_t correlation = 0;
        std::uint16_t serverLevel = 0;
        std::uint32_t ccsid = 37;                    // the job's, which its messages come in
        tavo::ibmi::Seed clientSeed{}, serverSeed{}; // from reaching it to starting it
    };

  private:
    struct Service {
        std::uint16_t serverId;
        std::string_view name; // what the port mapper knows it by
        unsigned short fixedPort;
        std::unique_ptr<Link> link;
    };

    struct Prefetch {
        std::deque<std::string> entries;
        std::size_t window = 0; // reads to send next time
    };

    Status SignOn(Deadline deadline);
    // A connection to the sign-on server with attributes exchanged: its seeds and level.
    Status OpenSignon(Link& signon, tavo::ibmi::Seed& clientSeed,
                      tavo::ibmi::SignonXchgAttributesReply& attributes, Deadline deadline);
    // Connects to the service's server and trades seeds: nothing that needs the password.
    Status Reach(const Service& service, Link& link, Deadline deadline);
    // Proves the password with those seeds and starts the server.
    Status Start(const Service& service, Link& link, Deadline deadline);
    Status EnsureOpen(Service& service);
    Status TlsReady();
    // A request and its reply on an open service connection, correlation checked.
    // `sent`, when given, tells whether the whole request went out.
    Status Request(Link& link, tavo::ibmi::Bytes request, tavo::ibmi::Bytes& reply,
                   bool* sent = nullptr);
    // `count` reads sent back to back; the entries that came, in order. `drained` tells
    // whether the host ran out of entries before the last read.
    Status ReadAhead(const tavo::ibmi::DqReadRequest& read, std::size_t count,
                     std::deque<std::string>& entries, bool& drained);

    Status PortOf(asio::io_context& io, std::string_view name, unsigned short fixed,
                  unsigned short& port, Deadline deadline);
    Status Dial(Channel& channel, unsigned short port, Deadline deadline);
    // Writes `request` (when given) while reading as many whole datastreams as `replies`
    // has room for, each of at most `most` bytes.
    Status Transfer(Channel& channel, const tavo::ibmi::Bytes* request,
                    std::vector<tavo::ibmi::Bytes>& replies, Deadline deadline,
                    bool* sent = nullptr, std::uint32_t most = tavo::ibmi::kMaxDatastreamLength);
    // Sends `request`; then, unless `reply` is null, reads one whole datastream.
    Status Exchange(Channel& channel, const tavo::ibmi::Bytes& request, tavo::ibmi::Bytes* reply,
                    Deadline deadline, bool* sent = nullptr);
    Status Broken(Channel& channel, std::error_code error);
    // A reply that cannot be read: the connection is closed, since nothing after it can be
    // trusted.
    Status Unreadable(Channel& channel, const std::string& why);
    Status SignOnRefused(std::uint32_t code, const std::vector<tavo::ibmi::HostMessage>& messages);
    Peer ThePeer() const;
    Deadline NextDeadline() const;
    std::string Where() const;
    std::string PoolKey(const Service& service) const;

    SystemConfig system_;
    bool tls_ = false;
    std::string host_;
    std::string mapperPort_;
    std::shared_ptr<asio::ssl::context> tlsContext_;
    Service rmtcmd_;
    Service dtaq_;
    tavo::ibmi::PasswordScheme scheme_ = tavo::ibmi::PasswordScheme::Sha1;
    tavo::ibmi::Bytes token_; // the password's equivalent for this host's level
    int passwordLevel_ = -1;
    std::uint32_t hostCcsid_ = 37; // the sign-on server's; the data queue's messages are in it
    std::map<std::string, Prefetch, std::less<>> prefetched_;
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
