#pragma once

// TLS on Windows, over Schannel: a client stream shaped like asio::ssl::stream, so that
// asio::async_read and asio::async_write work on it as on the OpenSSL one.

#include <asio.hpp>
#include <cstddef>
#include <memory>
#include <string>
#include <system_error>
#include <type_traits>
#include <vector>

#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
// For SCH_CREDENTIALS, which alone brings TLS 1.3.
#ifndef SCHANNEL_USE_BLACKLISTS
#define SCHANNEL_USE_BLACKLISTS
#endif
#include <windows.h>

#include <subauth.h>

#include <schannel.h>
#include <security.h>
#include <wincrypt.h>

namespace cwb {

// What a TLS client trusts beyond the Windows store: the certificates of a ca_file.
class SchannelContext {
  public:
    // Without `caFile`, the Windows store alone. Null, and why in `error` (to follow
    // "cannot be read: "), when the file cannot be read or holds no PEM certificate.
    static std::shared_ptr<const SchannelContext> Make(const std::string& caFile,
                                                       std::string& error);
    SchannelContext(const SchannelContext&) = delete;
    SchannelContext& operator=(const SchannelContext&) = delete;
    ~SchannelContext();

    HCERTSTORE CaFile() const { return store_; } // null without a ca_file

  private:
    explicit SchannelContext(HCERTSTORE store) : store_(store) {}
    HCERTSTORE store_;
};

// A TLS 1.2 or later client over a connected socket. One read and one write may be under
// way at a time; a renegotiation answered from within a read waits for the write to end,
// so that records never interleave on the socket.
class SchannelStream {
  public:
    using Socket = asio::ip::tcp::socket;
    using executor_type = Socket::executor_type;

    SchannelStream(Socket& socket, std::shared_ptr<const SchannelContext> context);
    SchannelStream(const SchannelStream&) = delete;
    SchannelStream& operator=(const SchannelStream&) = delete;
    ~SchannelStream();

    Socket& next_layer() { return socket_; }
    executor_type get_executor() { return socket_.get_executor(); }
    CtxtHandle* native_handle() { return &ctx_; }
    // "" while the server's certificate is accepted, else why not, in a user's words.
    const std::string& CertificateProblem() const { return problem_; }

    // Shakes hands with `host` (its name goes in SNI and must be on its certificate).
    template <class Token> auto async_handshake(const std::string& host, Token&& token) {
        host_ = host;
        return Run<void(std::error_code)>(Kind::Handshake, {}, std::forward<Token>(token));
    }
    // A close_notify from the server ends the stream with asio::error::eof.
    template <class Buffers, class Token>
    auto async_read_some(const Buffers& buffers, Token&& token) {
        asio::mutable_buffer into;
        for (auto it = asio::buffer_sequence_begin(buffers);
             it != asio::buffer_sequence_end(buffers) && !into.size(); ++it)
            into = *it;
        return Run<void(std::error_code, std::size_t)>(Kind::Read, into,
                                                       std::forward<Token>(token));
    }
    template <class Buffers, class Token>
    auto async_write_some(const Buffers& buffers, Token&& token) {
        const std::size_t size = asio::buffer_copy(PlainRoom(), buffers);
        return Run<void(std::error_code, std::size_t)>(
            Kind::Write, asio::mutable_buffer(nullptr, size), std::forward<Token>(token));
    }

  private:
    enum class Kind { Handshake, Read, Write };
    struct Next {
        enum What { None, Read, Send, Done } what;
        std::error_code ec;
        std::size_t bytes;
        Next(What w = None, std::error_code e = {}, std::size_t n = 0) : what(w), ec(e), bytes(n) {}
    };

    // Runs Advance until it is done, doing the socket's reading and writing it asks for.
    template <class Signature, class Token>
    auto Run(Kind kind, asio::mutable_buffer data, Token&& token) {
        return asio::async_compose<Token, Signature>(
            [this, kind, data, sealed = false, parked = false,
             last = Next()](auto& self, std::error_code ec = {}, std::size_t n = 0) mutable {
                const bool first = last.what == Next::None;
                if (parked) {
                    parked = false; // the other write is done: ours may go
                } else if (last.what != Next::Done) {
                    if (last.what == Next::Read)
                        inLen_ += ec ? 0 : n;
                    if (last.what == Next::Send) {
                        writing_ = false;
                        gate_.cancel();
                        if (kind != Kind::Write && !ec)
                            out_.clear();
                    }
                    last = ec ? Next(Next::Done, ec) : Advance(kind, data, sealed);
                }
                if (last.what == Next::Read)
                    return socket_.async_read_some(ReadRoom(), std::move(self));
                if (last.what == Next::Send && writing_) {
                    parked = true;
                    return gate_.async_wait(std::move(self));
                }
                if (last.what == Next::Send) {
                    writing_ = true;
                    auto sending = kind == Kind::Write ? asio::buffer(sealed_) : asio::buffer(out_);
                    return asio::async_write(socket_, sending, std::move(self));
                }
                if (first) // never complete from within the initiating call
                    return asio::post(socket_.get_executor(), std::move(self));
                if constexpr (std::is_same_v<Signature, void(std::error_code)>)
                    self.complete(last.ec);
                else
                    self.complete(last.ec, last.bytes);
            },
            token, socket_);
    }
    Next Advance(Kind kind, asio::mutable_buffer data, bool& sealed);
    Next Shake();
    Next Open();
    Next Seal(std::size_t size, bool& sealed);
    std::error_code Verify();
    asio::mutable_buffer ReadRoom();
    asio::mutable_buffer PlainRoom();

    Socket& socket_;
    asio::steady_timer gate_{socket_.get_executor(), asio::steady_timer::time_point::max()};
    bool writing_ = false;
    std::shared_ptr<const SchannelContext> context_;
    std::string host_;
    std::wstring wideHost_;
    CredHandle cred_{};
    CtxtHandle ctx_{};
    bool haveCred_ = false;
    bool begun_ = false;    // ctx_ exists
    bool shaking_ = true;   // InitializeSecurityContext has more to do
    bool reshake_ = false;  // call it once more before reading
    bool reverify_ = false; // a renegotiation may have changed the certificate
    bool ready_ = false;    // handshake done, certificate accepted
    bool closed_ = false;   // close_notify received
    unsigned long flags_;
    std::error_code failed_; // once set, the stream is unusable
    std::string problem_;
    SecPkgContext_StreamSizes sizes_{};
    std::vector<char> in_; // from the server, not yet used: in_[0, inLen_)
    std::size_t inLen_ = 0;
    std::vector<char> plain_; // decrypted, not yet read: plain_[plainAt_, end)
    std::size_t plainAt_ = 0;
    std::vector<char> out_;    // handshake messages to send
    std::vector<char> sealed_; // one record of ours to send
};

} // namespace cwb
