#include <gtest/gtest.h>

#include <asio/ssl.hpp>
#include <set>
#include <tuple>

#include "HostdClients.h"
#include "TestCerts.h"

using namespace hostdtest;

namespace {

// TLS to a port of the daemon, trusting the test CA and checking the name "localhost";
// `maxVersion` caps the protocol version (0: no cap).
class TlsLink : public BasicLink<asio::ssl::stream<asio::ip::tcp::socket>> {
  public:
    explicit TlsLink(int port, int maxVersion = 0)
        : BasicLink([&](asio::io_context& io) {
              return asio::ssl::stream<asio::ip::tcp::socket>(Connect(io, port), Trusting());
          }) {
        stream.set_verify_mode(asio::ssl::verify_peer);
        stream.set_verify_callback(asio::ssl::host_name_verification("localhost"));
        SSL_set_tlsext_host_name(stream.native_handle(), "localhost");
        if (maxVersion)
            SSL_set_max_proto_version(stream.native_handle(), maxVersion);
    }
    std::error_code Handshake() {
        std::error_code ec;
        stream.handshake(asio::ssl::stream_base::client, ec);
        return ec;
    }
    std::string Version() { return SSL_get_version(stream.native_handle()); }

  private:
    static asio::ssl::context& Trusting() {
        static asio::ssl::context context = [] {
            asio::ssl::context c(asio::ssl::context::tls_client);
            c.load_verify_file(certtest::Shared().ca.string());
            return c;
        }();
        return context;
    }
};

// A datastream cut short, its length field telling the truth about it.
ib::Bytes Cut(ib::Bytes bytes, std::size_t length) {
    bytes.resize(length);
    bytes[2] = static_cast<std::uint8_t>(length >> 8);
    bytes[3] = static_cast<std::uint8_t>(length);
    return bytes;
}

// The daemon serves the host servers in the clear and under TLS.
class IbmiServeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* user : {"LOCKED", "STALE"})
            ASSERT_EQ(Admin({"user", "add", user}, "secret42\n").status, 0);
        ASSERT_EQ(Admin({"user", "disable", "LOCKED"}).status, 0);
        ASSERT_EQ(Admin({"user", "expire", "STALE"}).status, 0);
        auto args = TlsArgs(certs.localhost.cert, certs.localhost.key);
        args.insert(args.end(), {"--frame-timeout", "1"});
        daemon = std::make_unique<Daemon>(dir, db, args);
        signon = daemon->ServicePort("as-signon");
        rmtcmd = daemon->ServicePort("as-rmtcmd");
        dtaq = daemon->ServicePort("as-dtaq");
        signonTls = daemon->ServicePort("as-signon-s");
    }
    Result Admin(std::vector<std::string> args, const std::string& input = {}) {
        args.insert(args.end(), {"--db", db.string()});
        return RunHostd(dir, args, input);
    }
    // What the port mapper says: the reply's bytes.
    std::string LookUp(const std::string& name) {
        Link mapper(daemon->IbmiPort());
        mapper.Send(ib::Bytes(name.begin(), name.end()));
        return mapper.Rest();
    }
    std::uint32_t SignOn(const std::string& user, const std::string& password) {
        Link link(signon);
        return hostdtest::SignOn(link, user, password);
    }

    const certtest::Certs& certs = certtest::Shared();
    ScratchDir dir{"ibmi-serve"};
    std::filesystem::path db = DemoDatabase(dir);
    std::unique_ptr<Daemon> daemon;
    int signon = 0, rmtcmd = 0, dtaq = 0, signonTls = 0;
};

} // namespace

TEST_F(IbmiServeTest, PortMapperGivesOutBothFormsOfItsThreeServicesOnly) {
    std::set<int> ports{daemon->Port(), daemon->IbmiPort()};
    for (const std::string service : {"as-signon", "as-rmtcmd", "as-dtaq"})
        for (const std::string form : {"", "-s"}) {
            EXPECT_NE(daemon->ServicePort(service + form), 0) << service + form;
            ports.insert(daemon->ServicePort(service + form));
        }
    EXPECT_EQ(ports.size(), 8u); // all apart
    for (const char* refused : {"as-file", "as-file-s", "GET / HTTP/1.0\r\n\r\n"})
        EXPECT_EQ(LookUp(refused), "-") << refused;
    // no framing: a name that arrives in pieces is still one name
    Link mapper(daemon->IbmiPort());
    mapper.Send({'a', 's', '-', 'r', 'm'});
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    mapper.Send({'t', 'c', 'm', 'd'});
    const std::string reply = mapper.Rest();
    ASSERT_EQ(reply.size(), 5u);
    EXPECT_EQ(((reply[3] & 0xFF) << 8) | (reply[4] & 0xFF), rmtcmd);

    // half a name and then silence is refused after a pause, not held for ever
    Link silent(daemon->IbmiPort());
    silent.Send({'a', 's', '-'});
    EXPECT_EQ(silent.Rest(), "-");
}

// A name longer than a profile's is refused before the guard counts it or the log shows it.
TEST_F(IbmiServeTest, AUserNameNoProfileCanHaveIsRefusedUnseen) {
    Link link(signon);
    ib::SignonXchgAttributesRequest hello;
    hello.clientSeed = SeedOf(1);
    link.Ask(hello.Encode());
    ib::SignonInfoRequest info;
    info.substitute = ib::Bytes(20, 1);
    info.user = "ABCDEFGHIJ";
    ib::Bytes request = info.Encode();
    const ib::Bytes item{0, 0, 0x00, 16, 0x11, 0x04}; // the user's: 6 bytes, then 10
    const auto at = std::search(request.begin(), request.end(), item.begin(), item.end());
    ASSERT_NE(at, request.end());
    const std::size_t offset = at - request.begin();
    request.insert(request.erase(at + 6, at + 16), 8000, 0xC1); // 'A' in EBCDIC
    for (const auto& [where, length] :
         {std::pair<std::size_t, std::size_t>{offset, 8006}, {0, request.size()}})
        for (int i = 0; i < 4; ++i)
            request[where + i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
    EXPECT_EQ(ib::SignonInfoReply::Decode(link.Ask(request)).returnCode,
              ib::kSignonUserIdLengthNotValid);
    const std::string log = daemon->Log();
    EXPECT_NE(log.find("sign-on refused: a user name of 8000 bytes"), std::string::npos) << log;
    EXPECT_EQ(log.find("AAAAAAAAAAA"), std::string::npos);
}

TEST_F(IbmiServeTest, ServiceConnectionsSignOnWithTheirOwnSeeds) {
    // a substitute made for other seeds is a replay, however right the password
    Link replay(rmtcmd);
    const ib::Seed other = SeedOf(9);
    EXPECT_EQ(Start(replay, ib::kRemoteCommandServer, "secret42", &other).returnCode,
              ib::kSignonPasswordIncorrect);
    EXPECT_TRUE(replay.Closed());

    Link command(rmtcmd);
    const auto started = Start(command, ib::kRemoteCommandServer, "secret42");
    ASSERT_EQ(started.returnCode, 0u);
    EXPECT_EQ(started.user, "OPER");
    ASSERT_EQ(started.jobName.size(), 20u) << started.jobName;
    EXPECT_EQ(started.jobName.substr(6), "/OPER/QZRCSRVS");

    // TVOCGET makes the reply queue; its in/out area comes back compressed when allowed
    auto call = ListProgramCall("*CRTDTAQ", 5);
    const auto created = ib::CallProgramReply::Decode(command.Ask(call.Encode()));
    EXPECT_EQ(created.correlation, 5u);
    ASSERT_EQ(created.returnCode, 0) << created.messages.size();
    ASSERT_EQ(created.outputs.size(), 1u);
    EXPECT_EQ(ib::ExpandParm(created.outputs[0]), ib::Bytes(32000, 0));
    EXPECT_LT(created.outputs[0].data.size(), 10u);
    call.parms[1] = {32000, ib::kUsageInOut, {}}; // a client that takes no compressed data
    const auto plain = ib::CallProgramReply::Decode(command.Ask(call.Encode()));
    ASSERT_EQ(plain.outputs.size(), 1u);
    EXPECT_EQ(ib::ParmDirection(plain.outputs[0].usage), 2);
    EXPECT_NE(plain.outputs[0].usage, ib::kUsageOutputRleOk);
    EXPECT_EQ(ib::ExpandParm(plain.outputs[0]), ib::Bytes(32000, 0));

    call.parms[0].usage = 99;
    EXPECT_EQ(ib::CallProgramReply::Decode(command.Ask(call.Encode())).returnCode, 0x0302);

    Link queue(dtaq);
    EXPECT_EQ(Start(queue, ib::kDataQueueServer, "secret42").jobName.substr(6), "/OPER/QZHQSSRV");
    queue.Ask(ib::DqXchgAttributesRequest{}.Encode());
    // a read of any other kind than one key exactly, which IBM's clients never send
    ib::DqReadRequest read{4, "#TVOCGET", "TAVO400", true, "GE", 0, false, ib::Bytes(24, 0xC1)};
    EXPECT_EQ(ib::DqCommonReply::Decode(queue.Ask(read.Encode())).messageId, "CPF9898");
}

// Workstations that open the picker at the same moment send equal keys; each reads one
// whole list of its own, told apart by who signed on and where from, in either protocol.
// Over the host servers the request and the reads come on different connections.
TEST_F(IbmiServeTest, EqualKeysOfDifferentClientsAreKeptApart) {
    ASSERT_EQ(Admin({"user", "add", "CLERK"}, "secret42\n").status, 0);
    const std::string request = "*RCPL     12612061200000";
    std::vector<std::unique_ptr<Link>> commands, queues;
    std::vector<std::unique_ptr<RawClient>> ours;
    for (const auto& [user, n] : {std::pair{"oper", 1}, {"clerk", 1}, {"oper", 2}}) {
        const std::string ibmi = "127.0.0." + std::to_string(n),
                          tcp = "127.0.0." + std::to_string(n + 2);
        auto& command = *commands.emplace_back(std::make_unique<Link>(rmtcmd, ibmi.c_str()));
        auto& queue = *queues.emplace_back(std::make_unique<Link>(dtaq, ibmi.c_str()));
        ASSERT_EQ(Start(command, ib::kRemoteCommandServer, "secret42", nullptr, user).returnCode,
                  0u);
        ASSERT_EQ(Start(queue, ib::kDataQueueServer, "secret42", nullptr, user).returnCode, 0u);
        for (const std::string& code : {std::string("*CRTDTAQ"), request})
            ASSERT_EQ(ib::CallProgramReply::Decode(command.Ask(ListProgramCall(code).Encode()))
                          .returnCode,
                      0);
        auto& client = *ours.emplace_back(std::make_unique<RawClient>(daemon->Port(), tcp.c_str()));
        ASSERT_TRUE(client.SignOn("secret42", user));
        ASSERT_TRUE(std::get<pr::CallReply>(client.Ask(ListCall(request))).ok);
    }
    // Flag and name of each entry: read one by one to the end marker, with nothing of
    // another's list behind it, or taken all at once.
    const auto text = [](auto entry) {
        return tavo::codepage::ToLatin1(std::string(entry.begin(), entry.begin() + 11));
    };
    std::vector<std::vector<std::string>> lists;
    const ib::DqReadRequest read{2,    "#TVOCGET", "TAVO400", true,
                                 "EQ", 0,          false,     ib::ToEbcdic(request)};
    for (auto& queue : queues) {
        auto& list = lists.emplace_back();
        while (list.empty() || list.back()[0] != 'X')
            list.push_back(text(ib::DqReadReply::Decode(queue->Ask(read.Encode())).entry));
        EXPECT_EQ(ib::DqCommonReply::Decode(queue->Ask(read.Encode())).returnCode, ib::kDqNoEntry);
    }
    const pr::Take take{"#TVOCGET", "TAVO400", tavo::codepage::ToEbcdic(request),
                        static_cast<std::uint32_t>(pr::kMaxEntriesPerReply)};
    for (auto& client : ours) {
        const auto taken = std::get<pr::Entries>(client->Ask(take)).entries;
        auto& list = lists.emplace_back();
        for (const auto& entry : taken)
            list.push_back(text(entry));
    }
    ASSERT_GT(lists[0].size(), 1u);
    for (std::size_t i = 1; i < lists.size(); ++i)
        EXPECT_EQ(lists[i], lists[0]) << "workstation " << i;
}

// Bad input in either protocol closes that connection alone, and the log tells why.
TEST_F(IbmiServeTest, BadInputClosesOnlyThatConnection) {
    RawClient ours(daemon->Port()); // signed on, each stays connected through it all
    ASSERT_TRUE(ours.SignOn());
    Link idle(rmtcmd);
    ASSERT_EQ(Start(idle, ib::kRemoteCommandServer, "secret42").returnCode, 0u);

    const ib::Bytes good = ib::SignonXchgAttributesRequest{}.Encode();
    const auto bent = [&good](std::size_t at, std::vector<std::uint8_t> bytes) {
        ib::Bytes out = good;
        std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
        return out;
    };
    const auto frame = [](std::string_view bytes) { return ib::Bytes(bytes.begin(), bytes.end()); };
    struct Case {
        const char* what;
        int port;
        ib::Bytes bytes;
        const char* logged;
    };
    const ib::Bytes call = ib::CallProgramRequest{1, "TVOCGET", "TAVO400", 0, {}}.Encode();
    const int tcp = daemon->Port();
    for (const Case& c : {
             Case{"not our protocol", tcp, frame("GET / HTTP/1.0\r\n\r\n"), "bad frame"},
             Case{"large before sign-on", tcp, frame(std::string("\0\0\x40\0", 4)),
                  "bad frame: frame length 16384 is not 1 to 8192"},
             Case{"bad body", tcp, frame(std::string("\0\0\0\x02\x63\x00", 6)),
                  "bad frame: unknown message type 99"},
             Case{"too short", signon, bent(0, {0, 0, 0, 8}), "datastream length 8 is not 20"},
             Case{"too long", signon, bent(0, {0x7F, 0, 0, 0}), "datastream length 2130706432"},
             Case{"not a host server", signon, bent(6, {0xE1}),
                  "server ID 0xE109 on the as-signon"},
             Case{"another server", signon, bent(6, {0xE0, 0x08}), "server ID 0xE008"},
             Case{"unknown request", signon, bent(18, {0x77, 0x77}), "unknown request ID 0x7777"},
             Case{"no client seed", signon, Cut(good, 38), "bad datastream"},
             Case{"call before start", rmtcmd, call, "request ID 0x1003 before a successful start"},
         }) {
        Link bad(c.port);
        bad.Send(c.bytes);
        EXPECT_EQ(bad.Rest(), "") << c.what;
        EXPECT_NE(daemon->Log().find(c.logged), std::string::npos) << c.what;
    }
    RawClient skipsSignOn(tcp);
    ASSERT_TRUE(std::holds_alternative<pr::HelloOk>(skipsSignOn.Ask(pr::Hello{})));
    const auto refused = skipsSignOn.Ask(pr::QueueExists{"#TVOCGET", "TAVO400"});
    EXPECT_EQ(std::get<pr::Error>(refused).code, pr::ErrorCode::NotSignedOn);
    EXPECT_TRUE(skipsSignOn.Closed());

    EXPECT_TRUE(RawClient(tcp).SignOn());
    EXPECT_EQ(SignOn("OPER", "secret42"), 0u);
    EXPECT_TRUE(std::holds_alternative<pr::Error>(ours.Ask(pr::QueueExists{"#NOSUCH", "TAVO400"})));
    EXPECT_EQ(ib::RcXchgAttributesReply::Decode(idle.Ask(ib::RcXchgAttributesRequest{}.Encode()))
                  .returnCode,
              0);
}

// Our own protocol refuses as the IBM i sign-on does, telling why only to whoever knows the
// password; a user who keeps failing waits, and a client of another version is told so.
TEST_F(IbmiServeTest, OurOwnProtocolRefusesWithItsReasons) {
    for (const auto& [user, password, why] : {
             std::tuple{"LOCKED", "secret42", "the user is disabled."},
             std::tuple{"LOCKED", "wrong", "the user or password is not valid."},
             std::tuple{"STALE", "secret42", "the password has expired."},
         })
        EXPECT_EQ(RawClient(daemon->Port()).SignOnRefusal(password, user),
                  "Sign-on as " + std::string(user) + " refused: " + why);
    for (int i = 0; i < 4; ++i)
        RawClient(daemon->Port()).SignOn("guess", "NOBODY");
    pr::ErrorCode code{};
    EXPECT_EQ(RawClient(daemon->Port()).SignOnRefusal("guess", "NOBODY", &code),
              "Sign-on as NOBODY refused: too many failed sign-ons for this user; try again in "
              "1 s.");
    EXPECT_EQ(code, pr::ErrorCode::SignOnDelay);
    RawClient future(daemon->Port());
    EXPECT_EQ(std::get<pr::Error>(future.Ask(pr::Hello{pr::kVersion + 1})).code,
              pr::ErrorCode::VersionNotSupported);
}

TEST_F(IbmiServeTest, WhatIsNotTlsOrTooSlowIsClosedAndTheDaemonServesOn) {
    Link plain(signonTls);
    plain.Send(ib::SignonXchgAttributesRequest{}.Encode());
    const std::string answer = plain.Rest();
    // at most a TLS alert: never a datastream
    EXPECT_TRUE(answer.empty() || answer[0] == 0x15) << answer.size();
    EXPECT_NE(daemon->Log().find("as-signon-s: TLS handshake failed"), std::string::npos)
        << daemon->Log();

    // the handshake counts against the sign-on's time
    Link silent(signonTls);
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(silent.Rest(), "");
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(5));
    EXPECT_NE(daemon->Log().find("as-signon-s: no TLS handshake within 1 s"), std::string::npos);

    // once under TLS, the daemon ends the connection cleanly, with close_notify
    TlsLink mute(signonTls);
    ASSERT_FALSE(mute.Handshake());
    EXPECT_EQ(mute.Version(), "TLSv1.3");
    EXPECT_FALSE(mute.Receive());
    EXPECT_EQ(mute.Ended(), asio::error::eof) << mute.Ended().message();
    EXPECT_NE(daemon->Log().find("as-signon-s: no complete sign-on within 1 s"), std::string::npos);

    TlsLink link(signonTls, TLS1_2_VERSION); // for clients that have no TLS 1.3
    ASSERT_FALSE(link.Handshake());
    EXPECT_EQ(link.Version(), "TLSv1.2");
    EXPECT_EQ(hostdtest::SignOn(link, "OPER", "secret42"), 0u);
    EXPECT_NE(daemon->Log().find("as-signon-s: OPER signed on"), std::string::npos);
}

TEST(IbmiTlsStart, RefusesToServeWithoutAGoodCertificateAndKey) {
    const auto& certs = certtest::Shared();
    ScratchDir dir("ibmi-tls-start");
    const auto db = DemoDatabase(dir);
    const std::string cert = certs.localhost.cert.string(), key = certs.localhost.key.string();
    const std::string shared = (dir / "shared.key").string(); // the key, for a group to read
    std::filesystem::copy_file(key, shared);
    std::filesystem::permissions(shared, std::filesystem::perms::group_read,
                                 std::filesystem::perm_options::add);
    struct Case {
        std::vector<std::string> args;
        std::string error;
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
             Case{{"--ibmi-tls", "--tls-cert", cert, "--tls-key", shared}, "chmod 600 " + shared},
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
    Daemon clear(dir, db, {"--ibmi", "0"}); // and without TLS, no TLS servers
    for (const char* service : {"as-signon-s", "as-rmtcmd-s", "as-dtaq-s"})
        EXPECT_EQ(clear.ServicePort(service), 0) << service;
    clear.Stop();
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
