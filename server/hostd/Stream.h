#pragma once

#include <asio.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace asio::ssl {
class context;
}

namespace tavo::hostd {

// The bytes of one accepted connection, in the clear or under TLS, so that a session
// speaks its datastreams the same way over either. Used on the io thread only.
class Stream {
  public:
    using Opened = std::function<void(std::error_code)>;
    using Transferred = std::function<void(std::error_code, std::size_t)>;

    virtual ~Stream() = default;
    // Before anything is read: the TLS handshake. `done` may run before Open returns.
    virtual void Open(Opened done) = 0;
    virtual void ReadSome(asio::mutable_buffer buffer, Transferred done) = 0;
    // All of `buffer`, which must live until `done` runs.
    virtual void Write(asio::const_buffer buffer, Transferred done) = 0;
    // Ends the connection; what is pending completes with an error. Safe to repeat.
    virtual void Close() = 0;
    virtual bool Secure() const = 0;
    virtual asio::ip::tcp::socket& Socket() = 0;
};

// A reply the client has not taken within `writeLimit` ends the connection: its Write
// completes with asio::error::timed_out.
inline constexpr std::chrono::milliseconds kWriteLimit{30000};
std::shared_ptr<Stream> PlainStream(asio::ip::tcp::socket socket,
                                    std::chrono::milliseconds writeLimit = kWriteLimit);
std::shared_ptr<Stream> TlsStream(asio::ip::tcp::socket socket, asio::ssl::context& tls,
                                  std::chrono::milliseconds writeLimit = kWriteLimit);

// The certificate (PEM, the chain after it if any) and the private key (PEM, not
// encrypted) that every TLS listener of the daemon presents.
struct TlsFiles {
    std::string certificate;
    std::string key;
};

// A server context of TLS 1.2 at least, 1.3 when the client has it. Throws
// std::runtime_error naming the file when one cannot be read or the two do not match.
std::shared_ptr<asio::ssl::context> ServerTlsContext(const TlsFiles& files);

} // namespace tavo::hostd
