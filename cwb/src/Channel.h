#pragma once

#include <asio.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "Backend.h"
#ifdef _WIN32
#include "SchannelStream.h"
#else
#include <asio/ssl.hpp>
#endif

namespace cwb {

// TLS is the platform's own: Schannel on Windows, OpenSSL elsewhere. A context holds what a
// client of one system trusts; a stream is one connection over it.
#ifdef _WIN32
using TlsContext = const SchannelContext;
using TlsStream = SchannelStream;
#else
using TlsContext = asio::ssl::context;
using TlsStream = asio::ssl::stream<asio::ip::tcp::socket>;
#endif

using Deadline = std::chrono::steady_clock::time_point;

// Whom a connection reaches, as its failures name it: "SYSA (as400.example.com)".
struct Peer {
    std::string where;
    unsigned timeoutSeconds;

    // The system's name and host, and its port when `withPort`.
    static Peer Of(const SystemConfig& system, bool withPort = false);
    // Each exchange has the system's timeout from when it starts.
    Deadline Next() const {
        return std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    }
};

// A client's connection to one server, in the clear or under TLS; every wait on it has a
// deadline. It has an io_context of its own, so that connections can be used at the same
// time on different threads and handed from one backend to the next.
class Channel {
  public:
    using Socket = asio::ip::tcp::socket;

    Channel() : plain_(io_) {}
    Channel(const Channel&) = delete;
    Channel& operator=(const Channel&) = delete;

    // Connects to `host`, then, with `tls`, shakes hands and checks that the certificate
    // is trusted and names `host`: CWB_CERTIFICATE_ERROR names what failed.
    Status Dial(const std::string& host, unsigned short port, std::shared_ptr<TlsContext> tls,
                Deadline deadline, const Peer& peer);
    // Runs the io_context until its work is done, or, at the deadline, closes the
    // connection (and cancels `resolver`) and returns false.
    bool RunUntil(Deadline deadline, asio::ip::tcp::resolver* resolver = nullptr);
    // Whether a connection kept between requests can still carry one. Our servers never
    // speak unasked, so something to read means the other end closed; under TLS a server
    // may send session tickets unasked, so there only a hang-up counts.
    bool StillOpen();
    void Close();

    Socket& Lowest() { return tls_ ? tls_->next_layer() : plain_; }
    // Calls `f` with the stream to read and write: the TLS one or the socket.
    template <class F> void With(F&& f) {
        if (tls_)
            f(*tls_);
        else
            f(plain_);
    }

  private:
    asio::io_context io_;
    std::shared_ptr<TlsContext> tlsContext_; // what tls_ was made with
    Socket plain_;
    std::unique_ptr<TlsStream> tls_;
};

// What a TLS client of `system` trusts: TLS 1.2 or later, the system's trust store and
// its ca_file. Made once, before any thread dials, so that threads only read it; nothing
// for a system in the clear.
Status ClientTlsContext(const SystemConfig& system, std::shared_ptr<TlsContext>& context);

// A TLS stream, over `plain` or a new socket of `io` as the platform's TLS has it, set to
// check that the certificate names `host`.
std::unique_ptr<TlsStream> NewTlsStream(asio::io_context& io, Channel::Socket& plain,
                                        const std::shared_ptr<TlsContext>& context,
                                        const std::string& host);
void StartHandshake(TlsStream& stream, const std::string& host,
                    std::function<void(std::error_code)> done);
// Why the certificate of a failed handshake was not accepted, in words a user can act on;
// empty when the failure was not the certificate's.
std::string CertificateProblem(TlsStream& stream);

Status TimedOut(const Peer& peer);

// Connections a backend has finished with, kept for the next backend of this process
// that reaches the same server as the same user, so that a process signs on and opens
// each connection once: a few at most, the newest taken first.
template <class Connection> class IdleConnections {
  public:
    // This process's; never destroyed, so none is closed behind a thread at exit.
    static IdleConnections& OfProcess() {
        static auto* idle = new IdleConnections;
        return *idle;
    }

    void Keep(std::string key, std::unique_ptr<Connection> connection) {
        std::unique_ptr<Connection> oldest; // closed once the lock is let go
        std::lock_guard lock(mutex_);
        if (idle_.size() >= kMost) {
            oldest = std::move(idle_.front().second);
            idle_.erase(idle_.begin());
        }
        idle_.emplace_back(std::move(key), std::move(connection));
    }
    std::unique_ptr<Connection> Take(const std::string& key) {
        std::lock_guard lock(mutex_);
        for (auto it = idle_.rbegin(); it != idle_.rend(); ++it)
            if (it->first == key) {
                auto connection = std::move(it->second);
                idle_.erase(std::next(it).base());
                return connection;
            }
        return nullptr;
    }
    // One the server has not closed meanwhile; the others are let go.
    std::unique_ptr<Connection> TakeOpen(const std::string& key) {
        while (auto connection = Take(key))
            if (connection->StillOpen())
                return connection;
        return nullptr;
    }
    void Clear() {
        decltype(idle_) closing;
        std::lock_guard lock(mutex_);
        closing.swap(idle_);
    }

  private:
    static constexpr std::size_t kMost = 8;
    std::mutex mutex_;
    std::vector<std::pair<std::string, std::unique_ptr<Connection>>> idle_;
};

} // namespace cwb
