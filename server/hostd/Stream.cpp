#include "Stream.h"

#include <asio/ssl.hpp>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <stdexcept>

namespace tavo::hostd {

namespace {

// A write the client does not take within the time ends the connection: a client that
// never reads must not hold the daemon's buffers. `abort` closes the socket; `done` then
// hears timed_out.
template <class Self, class Do, class Abort>
void WriteWithin(std::shared_ptr<Self> self, std::chrono::milliseconds limit, Do write, Abort abort,
                 Stream::Transferred done) {
    self->writeTimer_.expires_after(limit);
    self->writeTimer_.async_wait([self, abort](std::error_code ec) {
        if (ec)
            return;
        self->writeExpired_ = true;
        abort(*self);
    });
    write([self, done = std::move(done)](std::error_code ec, std::size_t n) {
        self->writeTimer_.cancel();
        done(self->writeExpired_ ? asio::error::timed_out : ec, n);
    });
}

class Plain final : public Stream, public std::enable_shared_from_this<Plain> {
  public:
    Plain(asio::ip::tcp::socket socket, std::chrono::milliseconds writeLimit)
        : socket_(std::move(socket)), writeLimit_(writeLimit), writeTimer_(socket_.get_executor()) {
    }
    void Open(Opened done) override { done({}); }
    void ReadSome(asio::mutable_buffer buffer, Transferred done) override {
        socket_.async_read_some(buffer, std::move(done));
    }
    void Write(asio::const_buffer buffer, Transferred done) override {
        WriteWithin(
            shared_from_this(), writeLimit_,
            [this, buffer](auto then) { asio::async_write(socket_, buffer, std::move(then)); },
            [](Plain& self) { self.Close(); }, std::move(done));
    }
    void Close() override {
        std::error_code ignored;
        socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        socket_.close(ignored);
    }
    bool Secure() const override { return false; }
    asio::ip::tcp::socket& Socket() override { return socket_; }

  private:
    template <class Self, class Do, class Abort>
    friend void WriteWithin(std::shared_ptr<Self>, std::chrono::milliseconds, Do, Abort,
                            Stream::Transferred);
    asio::ip::tcp::socket socket_;
    std::chrono::milliseconds writeLimit_;
    asio::steady_timer writeTimer_;
    bool writeExpired_ = false;
};

// How long a client has to answer our close_notify before the socket goes anyway.
constexpr auto kGoodbye = std::chrono::seconds(1);

class Tls final : public Stream, public std::enable_shared_from_this<Tls> {
  public:
    Tls(asio::ip::tcp::socket socket, asio::ssl::context& context,
        std::chrono::milliseconds writeLimit)
        : stream_(std::move(socket), context), goodbye_(stream_.get_executor()),
          writeLimit_(writeLimit), writeTimer_(stream_.get_executor()) {}
    void Open(Opened done) override {
        stream_.async_handshake(
            asio::ssl::stream_base::server,
            [self = shared_from_this(), done = std::move(done)](std::error_code ec) {
                self->open_ = !ec && !self->closing_;
                done(ec);
            });
    }
    void ReadSome(asio::mutable_buffer buffer, Transferred done) override {
        stream_.async_read_some(buffer, std::move(done));
    }
    void Write(asio::const_buffer buffer, Transferred done) override {
        WriteWithin(
            shared_from_this(), writeLimit_,
            [this, buffer](auto then) { asio::async_write(stream_, buffer, std::move(then)); },
            [](Tls& self) { self.Drop(); }, std::move(done));
    }
    void Close() override {
        if (closing_)
            return;
        closing_ = true;
        if (!open_)
            return Drop();
        // A clean end tells the client that nothing was cut off. The read that may be
        // pending goes first, so the shutdown can read the client's close_notify.
        std::error_code ignored;
        stream_.next_layer().cancel(ignored);
        goodbye_.expires_after(kGoodbye);
        goodbye_.async_wait([self = shared_from_this()](std::error_code ec) {
            if (!ec)
                self->Drop();
        });
        stream_.async_shutdown([self = shared_from_this()](std::error_code) {
            self->goodbye_.cancel();
            self->Drop();
        });
    }
    bool Secure() const override { return true; }
    asio::ip::tcp::socket& Socket() override { return stream_.next_layer(); }

  private:
    void Drop() {
        std::error_code ignored;
        stream_.next_layer().shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
        stream_.next_layer().close(ignored);
    }

    template <class Self, class Do, class Abort>
    friend void WriteWithin(std::shared_ptr<Self>, std::chrono::milliseconds, Do, Abort,
                            Stream::Transferred);
    asio::ssl::stream<asio::ip::tcp::socket> stream_;
    asio::steady_timer goodbye_;
    std::chrono::milliseconds writeLimit_;
    asio::steady_timer writeTimer_;
    bool writeExpired_ = false;
    bool open_ = false;
    bool closing_ = false;
};

// The reason OpenSSL gave last, and a clean error queue for whoever comes next.
std::string OpenSslReason() {
    const unsigned long code = ERR_peek_last_error();
    ERR_clear_error();
    const char* reason = code ? ERR_reason_error_string(code) : nullptr;
    return reason ? reason : "not in PEM form";
}

void MustRead(const std::string& file, const char* what) {
    std::ifstream in(file);
    if (!in)
        throw std::runtime_error(std::string("cannot read the TLS ") + what + " " + file + ": " +
                                 std::strerror(errno));
}

// No pass phrase: OpenSSL would otherwise ask for one on the terminal.
int NoPassPhrase(char*, int, int, void*) {
    return 0;
}

} // namespace

std::shared_ptr<Stream> PlainStream(asio::ip::tcp::socket socket,
                                    std::chrono::milliseconds writeLimit) {
    return std::make_shared<Plain>(std::move(socket), writeLimit);
}

std::shared_ptr<Stream> TlsStream(asio::ip::tcp::socket socket, asio::ssl::context& tls,
                                  std::chrono::milliseconds writeLimit) {
    return std::make_shared<Tls>(std::move(socket), tls, writeLimit);
}

std::shared_ptr<asio::ssl::context> ServerTlsContext(const TlsFiles& files) {
    MustRead(files.certificate, "certificate");
    MustRead(files.key, "key");
    auto context = std::make_shared<asio::ssl::context>(asio::ssl::context::tls_server);
    SSL_CTX* ctx = context->native_handle();
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_options(ctx, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION |
                                 SSL_OP_CIPHER_SERVER_PREFERENCE);
    SSL_CTX_set_default_passwd_cb(ctx, NoPassPhrase);

    ERR_clear_error();
    if (SSL_CTX_use_certificate_chain_file(ctx, files.certificate.c_str()) != 1)
        throw std::runtime_error("the TLS certificate " + files.certificate +
                                 " cannot be used: " + OpenSslReason());
    BIO* in = BIO_new_file(files.key.c_str(), "r");
    EVP_PKEY* key = in ? PEM_read_bio_PrivateKey(in, nullptr, NoPassPhrase, nullptr) : nullptr;
    BIO_free(in);
    if (!key)
        throw std::runtime_error("the TLS key " + files.key + " cannot be used: " +
                                 OpenSslReason() + " (it must be a PEM key without a pass phrase)");
    const bool matches = X509_check_private_key(SSL_CTX_get0_certificate(ctx), key) == 1 &&
                         SSL_CTX_use_PrivateKey(ctx, key) == 1;
    EVP_PKEY_free(key);
    if (!matches) {
        ERR_clear_error();
        throw std::runtime_error("the TLS key " + files.key +
                                 " is not the key of the certificate " + files.certificate);
    }
    return context;
}

} // namespace tavo::hostd
