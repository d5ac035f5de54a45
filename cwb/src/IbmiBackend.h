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
#include "Messages.h"
#include "PasswordSubstitute.h"

namespace cwb {

// An IBM i at ibmi://HOST[:PORT] or, over TLS, ibmis://HOST[:PORT] (or a tavo400-hostd
// serving its datastreams), reached through the host servers: the port mapper names each
// server's port, the sign-on server checks the user and says which password substitute
// the host wants, and the remote command and data queue servers each get a connection of
// their own on first use. Every exchange has a deadline. As with tcp://, a connection the
// host has closed is opened again before a request goes out, and a request that was sent
// is never resent.
class IbmiBackend final : public Backend {
  public:
    explicit IbmiBackend(SystemConfig system);
    ~IbmiBackend() override;
    Status Connect() override;
    Status CallProgram(std::string_view program, std::string_view library,
                       std::span<BoundParm> parms) override;
    Status QueueExists(std::string_view queue, std::string_view library) override;
    // Keeps several reads in flight, more as a list proves long, and hands the entries
    // out one by one in the order the host sent them.
    Status TakeEntry(std::string_view queue, std::string_view library, std::string_view key,
                     std::string& entry) override;

  private:
    using Deadline = std::chrono::steady_clock::time_point;
    using Socket = asio::ip::tcp::socket;

    // A connection to one server, plain or TLS.
    struct Channel {
        explicit Channel(asio::io_context& io) : plain(io) {}
        Socket plain;
        std::unique_ptr<asio::ssl::stream<Socket>> tls;
        Socket& Lowest() { return tls ? tls->next_layer() : plain; }
        template <class F> void With(F&& f) {
            if (tls)
                f(*tls);
            else
                f(plain);
        }
    };

    struct Service {
        std::uint16_t serverId;
        std::string_view name; // what the port mapper knows it by
        unsigned short fixedPort;
        Channel channel;
        std::uint32_t correlation = 0;
    };

    struct Prefetch {
        std::deque<std::string> entries;
        std::size_t window = 0; // reads to send next time
    };

    Status SignOn(Deadline deadline);
    Status Open(Service& service, Deadline deadline);
    Status EnsureOpen(Service& service);
    // A request and its reply on an open service connection, correlation checked.
    Status Request(Service& service, tavo::ibmi::Bytes request, tavo::ibmi::Bytes& reply);
    // `count` reads sent back to back; the entries that came, in order. `drained` tells
    // whether the host ran out of entries before the last read.
    Status ReadAhead(const tavo::ibmi::DqReadRequest& read, std::size_t count,
                     std::deque<std::string>& entries, bool& drained);

    Status PortOf(std::string_view name, unsigned short fixed, unsigned short& port,
                  Deadline deadline);
    Status Dial(Channel& channel, const std::string& port, bool tls, Deadline deadline);
    // Writes `request` (when given) while reading as many whole datastreams as `replies`
    // has room for.
    Status Transfer(Channel& channel, const tavo::ibmi::Bytes* request,
                    std::vector<tavo::ibmi::Bytes>& replies, Deadline deadline);
    // Sends `request`; then, unless `reply` is null, reads one whole datastream.
    Status Exchange(Channel& channel, const tavo::ibmi::Bytes& request, tavo::ibmi::Bytes* reply,
                    Deadline deadline);
    bool RunUntil(Deadline deadline, Socket& socket, asio::ip::tcp::resolver* resolver = nullptr);
    Status Broken(Channel& channel, std::error_code error);
    // A reply that cannot be read: the connection is closed, since nothing after it can be
    // trusted.
    Status Unreadable(Channel& channel, const std::string& why);
    Status SignOnRefused(std::uint32_t code, const std::vector<tavo::ibmi::HostMessage>& messages);
    Status TimedOut() const;
    static void Close(Channel& channel);
    Deadline NextDeadline() const;
    std::string Where() const;

    SystemConfig system_;
    bool tls_ = false;
    std::string host_;
    std::string mapperPort_;
    asio::io_context io_;
    std::unique_ptr<asio::ssl::context> tlsContext_;
    Service rmtcmd_;
    Service dtaq_;
    tavo::ibmi::PasswordScheme scheme_ = tavo::ibmi::PasswordScheme::Sha1;
    tavo::ibmi::Bytes token_; // the password's equivalent for this host's level
    int passwordLevel_ = -1;
    std::uint16_t rmtcmdLevel_ = 0;
    std::map<std::string, Prefetch, std::less<>> prefetched_;
};

// Forgets the sign-ons this process has made (tests: a fresh process).
void ForgetIbmiSignOns();

} // namespace cwb
