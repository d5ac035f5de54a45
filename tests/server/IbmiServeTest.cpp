#include <gtest/gtest.h>

#include <asio.hpp>
#include <cctype>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <tuple>

#include "HostProtocol.h"
#include "HostdProcess.h"
#include "Messages.h"
#include "PasswordSubstitute.h"

using namespace hostdtest;
namespace ib = tavo::ibmi;

namespace {

// One connection to a port of the daemon, spoken to by hand as IBM's client would, or
// not at all as it would.
class Link {
  public:
    // `from`: the loopback address the link appears to come from, as another workstation.
    explicit Link(int port, const char* from = nullptr) : socket_(io_) {
        if (from) {
            socket_.open(asio::ip::tcp::v4());
            socket_.bind({asio::ip::make_address(from), 0});
        }
        socket_.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
        timeval limit{10, 0}; // a broken daemon fails the test instead of hanging it
        ::setsockopt(socket_.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    void Send(const ib::Bytes& bytes) { asio::write(socket_, asio::buffer(bytes)); }
    // One whole datastream; nullopt when the daemon closed the connection.
    std::optional<ib::Bytes> Receive() {
        ib::Bytes data(ib::kHeaderLength);
        std::error_code ec;
        asio::read(socket_, asio::buffer(data), ec);
        if (ec)
            return std::nullopt;
        const auto length = ib::ReadHeader(data).length;
        if (length < ib::kHeaderLength || length > (1u << 20))
            throw std::runtime_error("the daemon sent length " + std::to_string(length));
        data.resize(length);
        asio::read(socket_, asio::buffer(data.data() + ib::kHeaderLength, length - 20), ec);
        if (ec)
            return std::nullopt;
        return data;
    }
    ib::Bytes Ask(const ib::Bytes& request) {
        Send(request);
        auto reply = Receive();
        if (!reply)
            throw std::runtime_error("the daemon closed the connection");
        return *reply;
    }
    // Whatever comes before the daemon closes the connection.
    std::string Rest() {
        std::string out;
        std::array<char, 64> buffer;
        std::error_code ec;
        while (!ec)
            out.append(buffer.data(), socket_.read_some(asio::buffer(buffer), ec));
        return out;
    }
    bool Closed() { return !Receive(); }
    // The bytes that came next; empty when the daemon closed the connection.
    std::vector<std::uint8_t> ReadSome() {
        std::vector<std::uint8_t> buffer(4096);
        std::error_code ec;
        buffer.resize(socket_.read_some(asio::buffer(buffer), ec));
        return buffer;
    }

  private:
    asio::io_context io_;
    asio::ip::tcp::socket socket_;
};

ib::Seed SeedOf(std::uint8_t first) {
    return {first, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
}

// A datastream cut short, its length field telling the truth about it.
ib::Bytes Cut(ib::Bytes bytes, std::size_t length) {
    bytes.resize(length);
    bytes[2] = static_cast<std::uint8_t>(length >> 8);
    bytes[3] = static_cast<std::uint8_t>(length);
    return bytes;
}

// The request bytes with the correlation ID set, as a client numbers its requests.
ib::Bytes WithCorrelation(ib::Bytes bytes, std::uint32_t correlation) {
    for (int i = 0; i < 4; ++i)
        bytes[12 + i] = static_cast<std::uint8_t>(correlation >> (24 - 8 * i));
    return bytes;
}

class IbmiServeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* user : {"LOCKED", "STALE"})
            ASSERT_EQ(Admin({"user", "add", user}, "secret42\n").status, 0);
        ASSERT_EQ(Admin({"user", "disable", "LOCKED"}).status, 0);
        ASSERT_EQ(Admin({"user", "expire", "STALE"}).status, 0);
        daemon = std::make_unique<Daemon>(
            dir, db, std::vector<std::string>{"--ibmi", "0", "--frame-timeout", "1"});
        signon = Service("as-signon");
        rmtcmd = Service("as-rmtcmd");
        dtaq = Service("as-dtaq");
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
    int Service(const std::string& name) {
        const std::string reply = LookUp(name);
        const auto port = ib::DecodePortMapperReply(
            ib::ByteView(reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()));
        if (!port)
            throw std::runtime_error("the port mapper refused " + name);
        return *port;
    }

    // A whole sign-on as IBM's client makes it; the sign-on server's return code.
    std::uint32_t SignOn(const std::string& user, const std::string& password) {
        Link link(signon);
        ib::SignonXchgAttributesRequest hello;
        hello.clientSeed = SeedOf(1);
        const auto attributes = ib::SignonXchgAttributesReply::Decode(link.Ask(hello.Encode()));
        EXPECT_EQ(attributes.passwordLevel, 3);
        const auto scheme = ib::SchemeForLevel(attributes.passwordLevel);
        ib::SignonInfoRequest info;
        info.authenticationType = ib::AuthenticationType(scheme);
        info.substitute =
            ib::Substitute(scheme, user, password, attributes.serverSeed, hello.clientSeed);
        info.user = user;
        const auto reply = ib::SignonInfoReply::Decode(link.Ask(WithCorrelation(info.Encode(), 7)));
        EXPECT_EQ(reply.correlation, 7u);
        EXPECT_EQ(reply.serverCcsid, 37u);
        link.Send(ib::EncodeSignonEnd(2));
        EXPECT_TRUE(link.Closed());
        return reply.returnCode;
    }

    // Seeds and a start request on `link`; the start reply.
    ib::StartServerReply Start(Link& link, std::uint16_t server, const std::string& password,
                               const ib::Seed* otherServerSeed = nullptr,
                               const std::string& user = "oper") {
        ib::SeedsRequest seeds;
        seeds.serverId = server;
        seeds.clientSeed = SeedOf(2);
        const ib::Bytes seedsReply = link.Ask(seeds.Encode());
        EXPECT_EQ(seedsReply.size(), 32u); // a current Toolbox reads items past 32 bytes
        const auto serverSeed = ib::SeedsReply::Decode(seedsReply).serverSeed;
        ib::StartServerRequest start;
        start.serverId = server;
        start.user = user;
        std::string upper = user;
        for (char& c : upper)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        start.substitute =
            ib::Substitute(ib::PasswordScheme::Sha1, upper, password,
                           otherServerSeed ? *otherServerSeed : serverSeed, seeds.clientSeed);
        return ib::StartServerReply::Decode(link.Ask(start.Encode()));
    }

    ScratchDir dir{"ibmi-serve"};
    std::filesystem::path db = DemoDatabase(dir);
    std::unique_ptr<Daemon> daemon;
    int signon = 0, rmtcmd = 0, dtaq = 0;
};

} // namespace

TEST_F(IbmiServeTest, PortMapperAnswersItsThreeServicesOnly) {
    EXPECT_EQ(std::set<int>({signon, rmtcmd, dtaq, daemon->Port(), daemon->IbmiPort()}).size(), 5u);
    for (const char* refused :
         {"as-signon-s", "as-rmtcmd-s", "as-dtaq-s", "as-file", "GET / HTTP/1.0\r\n\r\n"})
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

TEST_F(IbmiServeTest, RefusalsTellNothingBeforeTheRightPassword) {
    struct Case {
        const char* user;
        const char* password;
        std::uint32_t returnCode;
    };
    for (const Case& c : {
             Case{"OPER", "secret42", 0},
             Case{"OPER", "Secret42", ib::kSignonPasswordIncorrect},
             Case{"NOBODY", "secret42", ib::kSignonPasswordIncorrect},
             Case{"LOCKED", "wrong", ib::kSignonPasswordIncorrect},
             Case{"LOCKED", "secret42", ib::kSignonUserDisabled},
             Case{"STALE", "secret42", ib::kSignonPasswordExpired},
         })
        EXPECT_EQ(SignOn(c.user, c.password), c.returnCode) << c.user << "/" << c.password;

    // a new password: not expired
    ASSERT_EQ(Admin({"user", "add", "STALE"}, "freshpass\n").status, 0);
    ASSERT_EQ(Admin({"user", "enable", "LOCKED"}).status, 0);
    EXPECT_EQ(SignOn("STALE", "freshpass"), 0u);
    EXPECT_EQ(SignOn("LOCKED", "secret42"), 0u);

    const std::string log = daemon->Log();
    EXPECT_NE(log.find("as-signon: sign-on as NOBODY refused: unknown user"), std::string::npos)
        << log;
    EXPECT_NE(log.find("as-signon: sign-on as OPER refused: wrong password"), std::string::npos);
    EXPECT_NE(log.find("as-signon: OPER signed on"), std::string::npos);
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

    const auto attributes =
        ib::RcXchgAttributesReply::Decode(command.Ask(ib::RcXchgAttributesRequest{}.Encode()));
    EXPECT_EQ(attributes.ccsid, 37u);
    EXPECT_LT(attributes.serverLevel, 5);

    // TVOCGET makes the reply queue; its in/out area comes back compressed when allowed
    std::vector<std::uint8_t> request(124, 0x40);
    const auto code = ib::ToEbcdic("*CRTDTAQ");
    std::copy(code.begin(), code.end(), request.begin());
    ib::CallProgramRequest call{5, "TVOCGET", "TAVO400", 0, {}};
    call.parms.push_back(ib::MakeCallParm(1, request, 2));
    call.parms.push_back(ib::MakeCallParm(3, ib::Bytes(32000, 0), 2));
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

    call.program = "NOSUCH";
    const auto missing = ib::CallProgramReply::Decode(command.Ask(call.Encode()));
    EXPECT_EQ(missing.returnCode, 0x0500);
    ASSERT_EQ(missing.messages.size(), 1u);
    EXPECT_EQ(missing.messages[0].Display(),
              "CPF9811 Program NOSUCH in library TAVO400 not found.");

    call.parms[0].usage = 99;
    EXPECT_EQ(ib::CallProgramReply::Decode(command.Ask(call.Encode())).returnCode, 0x0302);

    Link queue(dtaq);
    EXPECT_EQ(Start(queue, ib::kDataQueueServer, "secret42").jobName.substr(6), "/OPER/QZHQSSRV");
    queue.Ask(ib::DqXchgAttributesRequest{}.Encode());
    const auto found = ib::DqQueryAttributesReply::Decode(
        queue.Ask(ib::DqQueryAttributesRequest{2, "#TVOCGET", "TAVO400"}.Encode()));
    EXPECT_EQ(found.queueType, 2);
    EXPECT_EQ(found.keyLength, 24);
    const auto absent = ib::DqCommonReply::Decode(
        queue.Ask(ib::DqQueryAttributesRequest{3, "#NOSUCH", "TAVO400"}.Encode()));
    EXPECT_EQ(absent.returnCode, ib::kDqCommandCheck);
    EXPECT_EQ(absent.messageId, "CPF9801");
    EXPECT_EQ(absent.text, "Object #NOSUCH in library TAVO400 not found.");

    ib::DqReadRequest read{4, "#TVOCGET", "TAVO400", true, "EQ", 0, false, ib::Bytes(24, 0xC1)};
    EXPECT_EQ(ib::DqCommonReply::Decode(queue.Ask(read.Encode())).returnCode, ib::kDqNoEntry);
    read.search = "GE";
    EXPECT_EQ(ib::DqCommonReply::Decode(queue.Ask(read.Encode())).messageId, "CPF9898");
}

// Over the host servers the request and the reads come on different connections of one
// workstation; workstations that ask at the same moment with equal keys each read one
// whole list of their own, even when their reads interleave.
TEST_F(IbmiServeTest, EqualKeysOfDifferentClientsAreKeptApart) {
    ASSERT_EQ(Admin({"user", "add", "CLERK"}, "secret42\n").status, 0);
    struct Workstation {
        std::string user;
        const char* from;
        Link command, queue;
        std::vector<std::string> entries; // flag and name of each, as text
        bool done = false;
    };
    std::vector<std::unique_ptr<Workstation>> stations;
    for (const auto& [user, from] : {std::pair<std::string, const char*>{"oper", "127.0.0.1"},
                                     {"clerk", "127.0.0.1"},
                                     {"oper", "127.0.0.2"}}) {
        stations.push_back(std::unique_ptr<Workstation>(
            new Workstation{user, from, Link(rmtcmd, from), Link(dtaq, from), {}}));
        auto& w = *stations.back();
        ASSERT_EQ(Start(w.command, ib::kRemoteCommandServer, "secret42", nullptr, user).returnCode,
                  0u);
        ASSERT_EQ(Start(w.queue, ib::kDataQueueServer, "secret42", nullptr, user).returnCode, 0u);
    }
    const auto call = [](Link& command, const std::string& request) {
        std::vector<std::uint8_t> area(124, 0x40);
        const auto text = ib::ToEbcdic(request);
        std::copy(text.begin(), text.end(), area.begin());
        ib::CallProgramRequest program{1, "TVOCGET", "TAVO400", 0, {}};
        program.parms.push_back(ib::MakeCallParm(1, area, 2));
        program.parms.push_back(ib::MakeCallParm(3, ib::Bytes(32000, 0), 2));
        return ib::CallProgramReply::Decode(command.Ask(program.Encode())).returnCode;
    };
    ASSERT_EQ(call(stations[0]->command, "*CRTDTAQ"), 0);
    const std::string request = "*RCPL     12612061200000";
    for (auto& w : stations)
        ASSERT_EQ(call(w->command, request), 0);

    const auto key = ib::ToEbcdic(request);
    for (bool reading = true; reading;) {
        reading = false;
        for (auto& w : stations) {
            if (w->done)
                continue;
            const ib::Bytes reply = w->queue.Ask(
                ib::DqReadRequest{2, "#TVOCGET", "TAVO400", true, "EQ", 0, false, key}.Encode());
            ASSERT_EQ(ib::ReadHeader(reply).requestId, ib::kDqReadReply)
                << w->user << "@" << w->from << " found no entry after " << w->entries.size();
            const auto entry = ib::DqReadReply::Decode(reply).entry;
            w->entries.push_back(ib::FromEbcdic(ib::ByteView(entry).first(11)));
            w->done = w->entries.back()[0] == 'X';
            reading = true;
        }
    }
    for (auto& w : stations)
        EXPECT_EQ(w->entries, stations[0]->entries) << w->user << "@" << w->from;
    EXPECT_GT(stations[0]->entries.size(), 1u);
}

TEST_F(IbmiServeTest, MalformedInputClosesOnlyThatConnection) {
    Link idle(rmtcmd); // signed on, stays connected through it all
    ASSERT_EQ(Start(idle, ib::kRemoteCommandServer, "secret42").returnCode, 0u);

    const ib::Bytes good = ib::SignonXchgAttributesRequest{}.Encode();
    const auto bent = [&good](std::size_t at, std::vector<std::uint8_t> bytes) {
        ib::Bytes out = good;
        std::copy(bytes.begin(), bytes.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
        return out;
    };
    struct Case {
        const char* what;
        int port;
        ib::Bytes bytes;
        const char* logged;
    };
    const ib::Bytes call = ib::CallProgramRequest{1, "TVOCGET", "TAVO400", 0, {}}.Encode();
    for (const Case& c : {
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
        EXPECT_TRUE(bad.Closed()) << c.what;
        EXPECT_NE(daemon->Log().find(c.logged), std::string::npos) << c.what;
    }

    Link half(signon);
    half.Send(ib::Bytes(good.begin(), good.end() - 5));
    EXPECT_TRUE(half.Closed()); // after the one-second frame time-out
    EXPECT_NE(daemon->Log().find("no complete sign-on within 1 s"), std::string::npos);

    EXPECT_EQ(SignOn("OPER", "secret42"), 0u);
    EXPECT_EQ(ib::RcXchgAttributesReply::Decode(idle.Ask(ib::RcXchgAttributesRequest{}.Encode()))
                  .returnCode,
              0);
}

TEST_F(IbmiServeTest, OurOwnProtocolRefusesDisabledAndExpiredUsersToo) {
    namespace pr = tavo::protocol;
    const std::string invalid = "the user or password is not valid.";
    for (const auto& [user, password, why] : {
             std::tuple{"LOCKED", "secret42", "the user is disabled."},
             std::tuple{"LOCKED", "wrong", invalid.c_str()},
             std::tuple{"STALE", "secret42", "the password has expired."},
         }) {
        Link link(daemon->Port());
        pr::FrameDecoder decoder;
        const auto ask = [&](const pr::Message& m) -> pr::Message {
            const std::string frame = pr::Encode(m);
            link.Send(ib::Bytes(frame.begin(), frame.end()));
            for (;;) {
                if (auto body = decoder.Next())
                    return pr::Decode(*body);
                const auto more = link.ReadSome();
                if (more.empty())
                    throw std::runtime_error("the daemon closed the connection");
                decoder.Feed(more);
            }
        };
        ASSERT_TRUE(std::holds_alternative<pr::HelloOk>(ask(pr::Hello{})));
        const auto refused = ask(pr::SignOn{user, password});
        ASSERT_TRUE(std::holds_alternative<pr::Error>(refused));
        EXPECT_EQ(std::get<pr::Error>(refused).text,
                  "Sign-on as " + std::string(user) + " refused: " + why);
    }
}

TEST(IbmiUsers, TokensAreKeptPrivateAndTheirLimitsTold) {
    ScratchDir dir("ibmi-users");
    const std::string db = (dir / "host.db").string();
    const auto hostd = [&](std::vector<std::string> args, const std::string& input = {}) {
        args.insert(args.end(), {"--db", db});
        return RunHostd(dir, args, input);
    };
    ::umask(022); // a lax one: the mode must come from the daemon, not from the test
    ASSERT_EQ(hostd({"init"}).status, 0);
    struct stat info {};
    ASSERT_EQ(::stat(db.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const auto longer = hostd({"user", "add", "OPER"}, "correct horse battery\n");
    EXPECT_EQ(longer.status, 0);
    EXPECT_NE(longer.err.find("cannot be used at password levels 0 and 1"), std::string::npos)
        << longer.err;
    const auto classic = hostd({"user", "add", "OPER"}, "SECRET12\n");
    EXPECT_EQ(classic.status, 0);
    EXPECT_EQ(classic.err, "");

    for (const char* change : {"disable", "enable", "expire"}) {
        const auto unknown = hostd({"user", change, "NOBODY"});
        EXPECT_EQ(unknown.status, 1) << change;
        EXPECT_NE(unknown.err.find("no user NOBODY"), std::string::npos) << unknown.err;
    }
}
