#include <gtest/gtest.h>

#include <asio.hpp>
#include <asio/ssl.hpp>
#include <optional>
#include <set>

#include "HostdProcess.h"
#include "Messages.h"
#include "PasswordSubstitute.h"
#include "TestCerts.h"

using namespace hostdtest;
namespace ib = tavo::ibmi;
namespace ssl = asio::ssl;

namespace {

// One connection to a port of the daemon as a TLS client that trusts the test CA and
// checks the name "localhost"; every wait has a deadline, so a broken daemon fails the
// test instead of hanging it.
class TlsLink {
  public:
    explicit TlsLink(int port, int maxVersion = 0) {
        stream_.set_verify_mode(ssl::verify_peer);
        if (maxVersion)
            SSL_set_max_proto_version(stream_.native_handle(), maxVersion);
        stream_.set_verify_callback(ssl::host_name_verification("localhost"));
        SSL_set_tlsext_host_name(stream_.native_handle(), "localhost");
        stream_.next_layer().connect(
            {asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
    }
    std::error_code Handshake() {
        return Await(
            [this](auto done) { stream_.async_handshake(ssl::stream_base::client, done); });
    }
    std::string Version() { return SSL_get_version(stream_.native_handle()); }
    void Send(const ib::Bytes& bytes) {
        const auto ec =
            Await([&](auto done) { asio::async_write(stream_, asio::buffer(bytes), done); });
        if (ec)
            throw std::runtime_error("cannot send: " + ec.message());
    }
    // One whole datastream; nullopt when the connection ended, and Ended() tells how.
    std::optional<ib::Bytes> Receive() {
        ib::Bytes data(ib::kHeaderLength);
        if ((ended_ =
                 Await([&](auto done) { asio::async_read(stream_, asio::buffer(data), done); })))
            return std::nullopt;
        const auto length = ib::ReadHeader(data).length;
        if (length < ib::kHeaderLength || length > (1u << 20))
            throw std::runtime_error("the daemon sent length " + std::to_string(length));
        data.resize(length);
        ended_ = Await([&](auto done) {
            asio::async_read(stream_, asio::buffer(data.data() + 20, length - 20), done);
        });
        if (ended_)
            return std::nullopt;
        return data;
    }
    ib::Bytes Ask(const ib::Bytes& request) {
        Send(request);
        auto reply = Receive();
        if (!reply)
            throw std::runtime_error("the daemon closed the connection: " + ended_.message());
        return *reply;
    }
    std::error_code Ended() const { return ended_; }

  private:
    template <typename Start> std::error_code Await(Start start) {
        std::optional<std::error_code> result;
        io_.restart();
        start([&result](std::error_code ec, auto&&...) { result = ec; });
        io_.run_for(std::chrono::seconds(10));
        if (!result)
            throw std::runtime_error("no answer from the daemon within 10 s");
        return *result;
    }

    static ssl::context Trusting(const std::filesystem::path& ca) {
        ssl::context context(ssl::context::tls_client);
        context.load_verify_file(ca.string());
        return context;
    }

    asio::io_context io_;
    ssl::context context_ = Trusting(certtest::Shared().ca);
    ssl::stream<asio::ip::tcp::socket> stream_{io_, context_};
    std::error_code ended_;
};

// A plain TCP connection, to send a TLS port what is not TLS.
struct PlainLink {
    explicit PlainLink(int port) {
        socket.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
    }
    // Reads until the daemon closes; what came, or nullopt after `limit`.
    std::optional<std::string> Rest(std::chrono::seconds limit = std::chrono::seconds(10)) {
        std::string out;
        std::array<char, 256> buffer;
        bool closed = false;
        std::function<void()> next = [&] {
            socket.async_read_some(asio::buffer(buffer), [&](std::error_code ec, std::size_t n) {
                out.append(buffer.data(), n);
                if (ec)
                    closed = true;
                else
                    next();
            });
        };
        next();
        io.run_for(limit);
        if (!closed)
            return std::nullopt;
        return out;
    }
    asio::io_context io;
    asio::ip::tcp::socket socket{io};
};

ib::Seed SeedOf(std::uint8_t first) {
    return {first, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
}

class IbmiTlsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto args = TlsArgs(certs.localhost.cert, certs.localhost.key);
        args.insert(args.end(), {"--frame-timeout", "1"});
        daemon = std::make_unique<Daemon>(dir, db, args);
        signonTls = daemon->ServicePort("as-signon-s");
        ASSERT_NE(signonTls, 0);
    }

    // A whole sign-on over `link`, its handshake done; the sign-on server's return code.
    static std::uint32_t SignOn(TlsLink& link, const std::string& password) {
        ib::SignonXchgAttributesRequest hello;
        hello.clientSeed = SeedOf(1);
        const auto attributes = ib::SignonXchgAttributesReply::Decode(link.Ask(hello.Encode()));
        const auto scheme = ib::SchemeForLevel(attributes.passwordLevel);
        ib::SignonInfoRequest info;
        info.authenticationType = ib::AuthenticationType(scheme);
        info.substitute =
            ib::Substitute(scheme, "OPER", password, attributes.serverSeed, hello.clientSeed);
        info.user = "OPER";
        const auto reply = ib::SignonInfoReply::Decode(link.Ask(info.Encode()));
        link.Send(ib::EncodeSignonEnd(2));
        EXPECT_FALSE(link.Receive());
        return reply.returnCode;
    }

    const certtest::Certs& certs = certtest::Shared();
    ScratchDir dir{"ibmi-tls"};
    std::filesystem::path db = DemoDatabase(dir);
    std::unique_ptr<Daemon> daemon;
    int signonTls = 0;
};

} // namespace

TEST_F(IbmiTlsTest, PortMapperGivesOutBothFormsOfEachServer) {
    std::set<int> ports{daemon->Port(), daemon->IbmiPort()};
    for (const std::string service : {"as-signon", "as-rmtcmd", "as-dtaq"}) {
        const int plain = daemon->ServicePort(service);
        const int tls = daemon->ServicePort(service + "-s");
        EXPECT_NE(plain, 0) << service;
        EXPECT_NE(tls, 0) << service;
        ports.insert({plain, tls});
    }
    EXPECT_EQ(ports.size(), 8u); // all apart
    EXPECT_EQ(daemon->ServicePort("as-file-s"), 0);
}

TEST_F(IbmiTlsTest, TheHostServersWorkUnderTls) {
    for (const int maxVersion : {0, TLS1_2_VERSION}) {
        TlsLink link(signonTls, maxVersion);
        ASSERT_FALSE(link.Handshake()) << maxVersion;
        EXPECT_EQ(link.Version(), maxVersion ? "TLSv1.2" : "TLSv1.3");
        EXPECT_EQ(SignOn(link, "secret42"), 0u);
    }
    TlsLink wrong(signonTls);
    ASSERT_FALSE(wrong.Handshake());
    EXPECT_EQ(SignOn(wrong, "Secret42"), ib::kSignonPasswordIncorrect);
    const std::string log = daemon->Log();
    EXPECT_NE(log.find("as-signon-s: OPER signed on"), std::string::npos) << log;
    EXPECT_NE(log.find("as-signon-s: sign-on as OPER refused: wrong password"), std::string::npos);

    // a service connection, with a reply of several TLS records
    TlsLink command(daemon->ServicePort("as-rmtcmd-s"));
    ASSERT_FALSE(command.Handshake());
    ib::SeedsRequest seeds;
    seeds.serverId = ib::kRemoteCommandServer;
    seeds.clientSeed = SeedOf(2);
    const auto serverSeed = ib::SeedsReply::Decode(command.Ask(seeds.Encode())).serverSeed;
    ib::StartServerRequest start;
    start.serverId = ib::kRemoteCommandServer;
    start.user = "OPER";
    start.substitute =
        ib::Substitute(ib::PasswordScheme::Sha1, "OPER", "secret42", serverSeed, seeds.clientSeed);
    ASSERT_EQ(ib::StartServerReply::Decode(command.Ask(start.Encode())).returnCode, 0u);
    std::vector<std::uint8_t> request(124, 0x40);
    const auto code = ib::ToEbcdic("*CRTDTAQ");
    std::copy(code.begin(), code.end(), request.begin());
    ib::CallProgramRequest call{5, "TVOCGET", "TAVO400", 0, {}};
    call.parms.push_back(ib::MakeCallParm(1, request, 2));
    call.parms.push_back({32000, ib::kUsageInOut, {}});
    const auto created = ib::CallProgramReply::Decode(command.Ask(call.Encode()));
    ASSERT_EQ(created.returnCode, 0);
    ASSERT_EQ(created.outputs.size(), 1u);
    EXPECT_EQ(ib::ExpandParm(created.outputs[0]), ib::Bytes(32000, 0));
}

TEST_F(IbmiTlsTest, WhatIsNotTlsOrTooSlowIsClosedAndTheDaemonServesOn) {
    PlainLink plain(signonTls);
    asio::write(plain.socket, asio::buffer(ib::SignonXchgAttributesRequest{}.Encode()));
    const auto answer = plain.Rest();
    ASSERT_TRUE(answer) << "the daemon kept a plain-text client on its TLS port";
    // at most a TLS alert: never a datastream
    EXPECT_TRUE(answer->empty() || (*answer)[0] == 0x15) << answer->size();
    EXPECT_NE(daemon->Log().find("as-signon-s: TLS handshake failed"), std::string::npos)
        << daemon->Log();

    // the handshake counts against the sign-on's time
    PlainLink silent(signonTls);
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(silent.Rest(), "");
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
    EXPECT_NE(daemon->Log().find("as-signon-s: no TLS handshake within 1 s"), std::string::npos);

    // once under TLS, the daemon ends the connection cleanly, with close_notify
    TlsLink mute(signonTls);
    ASSERT_FALSE(mute.Handshake());
    EXPECT_FALSE(mute.Receive());
    EXPECT_EQ(mute.Ended(), asio::error::eof) << mute.Ended().message();
    EXPECT_NE(daemon->Log().find("as-signon-s: no complete sign-on within 1 s"), std::string::npos);

    TlsLink link(signonTls);
    ASSERT_FALSE(link.Handshake());
    EXPECT_EQ(SignOn(link, "secret42"), 0u);
}

TEST(IbmiTlsStart, RefusesToServeWithoutAGoodCertificateAndKey) {
    const auto& certs = certtest::Shared();
    ScratchDir dir("ibmi-tls-start");
    const auto db = DemoDatabase(dir);
    const std::string cert = certs.localhost.cert.string(), key = certs.localhost.key.string();
    struct Case {
        std::vector<std::string> args;
        const char* error;
    };
    for (const Case& c : {
             Case{{"--ibmi-tls"}, "--tls-cert"},
             Case{{"--ibmi-tls", "--tls-cert", cert}, "--tls-key"},
             Case{{"--ibmi-tls", "--tls-cert", cert, "--tls-key", certs.wrongHost.key.string()},
                  "is not the key of the certificate"},
             Case{{"--ibmi-tls", "--tls-cert", (dir / "none.pem").string(), "--tls-key", key},
                  "cannot read the TLS certificate"},
             Case{{"--ibmi-tls", "--tls-cert", cert, "--tls-key", cert}, "cannot be used"},
             Case{{"--ibmi-tls", "--tls-cert", key, "--tls-key", key}, "cannot be used"},
         }) {
        std::vector<std::string> args{"serve",       "--db",   db.string(), "--listen",
                                      "127.0.0.1:0", "--ibmi", "0"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto result = RunHostd(dir, args);
        EXPECT_NE(result.status, 0) << c.error;
        EXPECT_NE(result.err.find(c.error), std::string::npos) << result.err;
    }
}

// Passwords never cross the network in plain text unless the operator says so by name.
TEST(TlsStart, PlainTextIsServedOnTheNetworkOnlyWhenAskedFor) {
    const auto& certs = certtest::Shared();
    ScratchDir dir("tls-plain");
    const auto db = DemoDatabase(dir);
    for (const auto& args :
         {std::vector<std::string>{"--listen", "0.0.0.0:0"},
          std::vector<std::string>{"--listen", "127.0.0.1:0", "--ibmi", "0.0.0.0:0"}}) {
        std::vector<std::string> serve{"serve", "--db", db.string()};
        serve.insert(serve.end(), args.begin(), args.end());
        const auto result = RunHostd(dir, serve);
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.err.find("give --insecure-plaintext"), std::string::npos) << result.err;
    }
    // under TLS on the network, the port mapper gives out the TLS servers only
    auto tls = TlsArgs(certs.localhost.cert, certs.localhost.key);
    tls[1] = "0.0.0.0:0";
    Daemon secure(dir, db, tls);
    EXPECT_EQ(secure.ServicePort("as-signon"), 0);
    EXPECT_NE(secure.ServicePort("as-signon-s"), 0);
    secure.Stop();
    tls.push_back("--insecure-plaintext");
    Daemon both(dir, db, tls);
    EXPECT_NE(both.ServicePort("as-signon"), 0);
}
