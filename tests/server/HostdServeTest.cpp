#include <gtest/gtest.h>

#include <algorithm>
#include <asio.hpp>
#include <random>
#include <sys/socket.h>

#include "Ccsid37.h"
#include "HostProtocol.h"
#include "HostdProcess.h"

using namespace hostdtest;
namespace pr = tavo::protocol;

namespace {

// A client that speaks the protocol by hand, or misbehaves on purpose.
class RawClient {
  public:
    // `from`: the loopback address the client appears to come from, as another workstation.
    explicit RawClient(int port, const char* from = nullptr) : socket_(io_) {
        if (from) {
            socket_.open(asio::ip::tcp::v4());
            socket_.bind({asio::ip::make_address(from), 0});
        }
        socket_.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
        timeval limit{10, 0}; // a broken daemon fails the test instead of hanging it
        ::setsockopt(socket_.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    void SendRaw(const std::string& bytes) { asio::write(socket_, asio::buffer(bytes)); }
    void Send(const pr::Message& m) { SendRaw(pr::Encode(m)); }
    // The next reply; nullopt when the daemon closed the connection.
    std::optional<pr::Message> Receive() {
        for (;;) {
            if (auto body = decoder_.Next())
                return pr::Decode(*body);
            std::array<std::uint8_t, 4096> buffer;
            std::error_code ec;
            const auto n = socket_.read_some(asio::buffer(buffer), ec);
            if (ec)
                return std::nullopt;
            decoder_.Feed(std::span(buffer.data(), n));
        }
    }
    pr::Message Ask(const pr::Message& m) {
        Send(m);
        auto reply = Receive();
        if (!reply)
            throw std::runtime_error("the daemon closed the connection");
        return *reply;
    }
    bool SignOn(const std::string& password = "secret", const std::string& user = "oper") {
        if (!std::holds_alternative<pr::HelloOk>(Ask(pr::Hello{})))
            return false;
        return std::holds_alternative<pr::Ok>(Ask(pr::SignOn{user, password}));
    }
    bool Closed() { return !Receive(); }
    // No more requests; the replies still come.
    void HangUp() { socket_.shutdown(asio::ip::tcp::socket::shutdown_send); }

  private:
    asio::io_context io_;
    asio::ip::tcp::socket socket_;
    pr::FrameDecoder decoder_;
};

// "*CRTDTAQ" or a list request, as TVOCGET's two parameters.
pr::Call ListCall(const std::string& code) {
    std::string request(124, '\x40');
    for (std::size_t i = 0; i < code.size(); ++i)
        request[i] =
            static_cast<char>(tavo::codepage::kLatin1ToEbcdic[static_cast<unsigned char>(code[i])]);
    return {"TVOCGET",
            "TAVO400",
            {{pr::Direction::Input, 124, request},
             {pr::Direction::InOut, 32000, std::string(32000, '\0')}}};
}

class HostdServeTest : public ::testing::Test {
  protected:
    // A well-behaved client can still sign on and use the queue.
    void ExpectServed() {
        RawClient good(daemon->Port());
        ASSERT_TRUE(good.SignOn());
        const auto reply = good.Ask(pr::QueueExists{"#TVOCGET", "TAVO400"});
        ASSERT_TRUE(std::holds_alternative<pr::Error>(reply)); // nobody created it yet
        EXPECT_EQ(std::get<pr::Error>(reply).code, pr::ErrorCode::QueueNotFound);
    }

    ScratchDir dir{"hostd-serve"};
    std::filesystem::path db = DemoDatabase(dir);
    std::unique_ptr<Daemon> daemon =
        std::make_unique<Daemon>(dir, db, std::vector<std::string>{"--frame-timeout", "1"});
};

} // namespace

TEST_F(HostdServeTest, BadInputClosesOnlyThatConnection) {
    RawClient idle(daemon->Port()); // stays connected through it all
    ASSERT_TRUE(idle.SignOn());

    RawClient garbage(daemon->Port());
    garbage.SendRaw("GET / HTTP/1.0\r\n\r\n");
    EXPECT_TRUE(garbage.Closed());

    RawClient oversized(daemon->Port());
    oversized.SendRaw(std::string("\x7f\xff\xff\xff", 4));
    EXPECT_TRUE(oversized.Closed());

    RawClient badBody(daemon->Port());
    badBody.SendRaw(std::string("\0\0\0\x02\x63\x00", 6));
    EXPECT_TRUE(badBody.Closed());

    RawClient half(daemon->Port());
    const std::string hello = pr::Encode(pr::Hello{});
    half.SendRaw(hello.substr(0, hello.size() - 3));
    EXPECT_TRUE(half.Closed()); // after the one-second frame time-out

    RawClient skipsSignOn(daemon->Port());
    ASSERT_TRUE(std::holds_alternative<pr::HelloOk>(skipsSignOn.Ask(pr::Hello{})));
    const auto refused = skipsSignOn.Ask(pr::QueueExists{"#TVOCGET", "TAVO400"});
    EXPECT_EQ(std::get<pr::Error>(refused).code, pr::ErrorCode::NotSignedOn);
    EXPECT_TRUE(skipsSignOn.Closed());

    ExpectServed();
    EXPECT_TRUE(
        std::holds_alternative<pr::Entries>(idle.Ask(pr::Take{"#TVOCGET", "TAVO400", "k", 5})));

    const std::string log = daemon->Log();
    EXPECT_NE(log.find("bad frame: frame length 2147483647 is not 1 to 1048576"), std::string::npos)
        << log;
    EXPECT_NE(log.find("bad frame: unknown message type 99"), std::string::npos) << log;
    EXPECT_NE(log.find("no complete sign-on within 1 s"), std::string::npos) << log;
}

TEST_F(HostdServeTest, WrongPasswordOrVersionIsRefusedWithText) {
    RawClient wrong(daemon->Port());
    ASSERT_TRUE(std::holds_alternative<pr::HelloOk>(wrong.Ask(pr::Hello{})));
    const auto reply = wrong.Ask(pr::SignOn{"OPER", "guess"});
    ASSERT_TRUE(std::holds_alternative<pr::Error>(reply));
    EXPECT_EQ(std::get<pr::Error>(reply).code, pr::ErrorCode::SignOnRefused);
    EXPECT_EQ(std::get<pr::Error>(reply).text,
              "Sign-on as OPER refused: the user or password is not valid.");
    EXPECT_TRUE(wrong.Closed());

    RawClient stranger(daemon->Port());
    ASSERT_TRUE(std::holds_alternative<pr::HelloOk>(stranger.Ask(pr::Hello{})));
    EXPECT_TRUE(std::holds_alternative<pr::Error>(stranger.Ask(pr::SignOn{"NOBODY", "secret"})));

    RawClient future(daemon->Port());
    const auto version = future.Ask(pr::Hello{2});
    ASSERT_TRUE(std::holds_alternative<pr::Error>(version));
    EXPECT_EQ(std::get<pr::Error>(version).code, pr::ErrorCode::VersionNotSupported);
    ExpectServed();
}

TEST_F(HostdServeTest, StopFinishesTheCallInFlightAndExitsCleanly) {
    RawClient client(daemon->Port());
    ASSERT_TRUE(client.SignOn());
    RawClient idle(daemon->Port());
    ASSERT_TRUE(idle.SignOn());
    const pr::Call create = ListCall("*CRTDTAQ");
    const std::string scratch(32000, '\0');
    client.Send(create);
    const int status = daemon->Stop(SIGTERM);
    const auto reply = client.Receive();
    ASSERT_TRUE(reply);
    EXPECT_TRUE(std::get<pr::CallReply>(*reply).ok);
    EXPECT_EQ(std::get<pr::CallReply>(*reply).outputs, std::vector<std::string>{scratch});
    EXPECT_TRUE(idle.Closed());
    EXPECT_EQ(status, 0);
    const std::string log = daemon->Log();
    EXPECT_NE(log.find("database closed"), std::string::npos) << log;

    // the queue it created is in the database for the next run
    daemon = std::make_unique<Daemon>(dir, db);
    RawClient after(daemon->Port());
    ASSERT_TRUE(after.SignOn());
    EXPECT_TRUE(std::holds_alternative<pr::Ok>(after.Ask(pr::QueueExists{"#TVOCGET", "TAVO400"})));
}

// Workstations that open the picker at the same moment send equal keys; each still gets
// one whole list of its own, told apart by who signed on and where from.
TEST_F(HostdServeTest, EqualKeysOfDifferentClientsAreKeptApart) {
    ASSERT_EQ(RunHostd(dir, {"user", "add", "CLERK", "--db", db.string()}, "secret\n").status, 0);
    RawClient oper(daemon->Port()), clerk(daemon->Port()), elsewhere(daemon->Port(), "127.0.0.2");
    ASSERT_TRUE(oper.SignOn());
    ASSERT_TRUE(clerk.SignOn("secret", "clerk"));
    ASSERT_TRUE(elsewhere.SignOn());
    ASSERT_TRUE(std::get<pr::CallReply>(oper.Ask(ListCall("*CRTDTAQ"))).ok);
    const pr::Call list = ListCall("*RCPL     12612061200000");
    for (RawClient* client : {&oper, &clerk, &elsewhere})
        ASSERT_TRUE(std::get<pr::CallReply>(client->Ask(list)).ok);

    const pr::Take take{"#TVOCGET", "TAVO400", list.parms[0].data.substr(0, 24),
                        static_cast<std::uint32_t>(pr::kMaxEntriesPerReply)};
    const char endMarker = static_cast<char>(tavo::codepage::kLatin1ToEbcdic['X']);
    std::vector<std::string> first;
    for (RawClient* client : {&oper, &clerk, &elsewhere}) {
        const auto entries = std::get<pr::Entries>(client->Ask(take)).entries;
        ASSERT_GT(entries.size(), 1u);
        EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                                [&](const std::string& e) { return e[0] == endMarker; }),
                  1);
        EXPECT_EQ(entries.back()[0], endMarker);
        if (first.empty())
            first = entries;
        EXPECT_EQ(entries, first);
    }
}

TEST(HostdLimits, ConnectionsAndQueueAreBounded) {
    ScratchDir dir("hostd-limits");
    const auto db = DemoDatabase(dir);
    Daemon daemon(dir, db, {"--max-connections", "2", "--queue-cap", "5"});
    RawClient first(daemon.Port()), second(daemon.Port());
    ASSERT_TRUE(first.SignOn());
    RawClient third(daemon.Port());
    EXPECT_TRUE(third.Closed());
    ASSERT_TRUE(second.SignOn());

    ASSERT_TRUE(std::get<pr::CallReply>(first.Ask(ListCall("*CRTDTAQ"))).ok);
    // the demo's twelve recipients and the end marker do not fit under a cap of five
    const auto list = std::get<pr::CallReply>(first.Ask(ListCall("*RCPL")));
    EXPECT_FALSE(list.ok);
    EXPECT_NE(list.message.find("at most 5"), std::string::npos) << list.message;
    EXPECT_NE(daemon.Log().find("already serving 2 connections"), std::string::npos);
    EXPECT_EQ(daemon.Stop(SIGINT), 0); // Ctrl-C stops it as cleanly as SIGTERM
    EXPECT_TRUE(first.Closed());
}

namespace {

// Messages of every kind with random fields, some sensible, most not.
class RandomTraffic {
  public:
    explicit RandomTraffic(unsigned seed) : random_(seed) {}

    std::string Frame() {
        switch (Below(10)) {
        case 0: // bytes with no framing at all
            return Bytes(Below(64));
        case 1:
            return pr::Encode(pr::Hello{static_cast<std::uint16_t>(Below(3))});
        case 2:
            return pr::Encode(pr::SignOn{Pick({"OPER", "oper", "", "X"}), Bytes(Below(12))});
        case 3:
        case 4:
        case 5:
            return pr::Encode(RandomCall());
        case 6:
            return pr::Encode(pr::QueueExists{Pick({"#TVOCGET", "Q", ""}), Pick({"TAVO400", ""})});
        case 7:
            return pr::Encode(pr::Take{"#TVOCGET", "TAVO400", Bytes(Below(30)),
                                       static_cast<std::uint32_t>(random_())});
        case 8: // what only the host may send
            return pr::Encode(pr::Entries{{Bytes(5)}});
        default: { // a good frame cut or bent
            std::string frame = pr::Encode(RandomCall());
            frame.resize(Below(frame.size() + 1));
            if (!frame.empty())
                frame[Below(frame.size())] = static_cast<char>(random_());
            return frame;
        }
        }
    }
    bool Coin() { return Below(2) == 0; }

  private:
    pr::Call RandomCall() {
        pr::Call call{Pick({"TVOCGET", "TVOCUPD", "NOSUCH"}), Pick({"TAVO400", "QGPL"}), {}};
        const bool shaped = Coin(); // the parameter list the program expects
        const std::vector<std::uint32_t> sizes =
            call.program == "TVOCUPD" ? std::vector<std::uint32_t>{10, 10, 10, 30, 32000, 32000}
                                      : std::vector<std::uint32_t>{124, 32000};
        const std::size_t count = shaped ? sizes.size() : Below(5);
        for (std::size_t i = 0; i < count; ++i) {
            const auto direction = static_cast<pr::Direction>(1 + Below(3));
            const std::uint32_t length =
                shaped ? sizes[i] : static_cast<std::uint32_t>(Below(40000));
            call.parms.push_back(
                {direction, length, direction == pr::Direction::Output ? "" : Bytes(length)});
        }
        return call;
    }
    std::string Bytes(std::size_t n) {
        std::string out(n, '\0');
        for (char& c : out)
            c = static_cast<char>(Below(4) == 0 ? 0x40 : random_()); // blanks are common
        return out;
    }
    std::string Pick(std::initializer_list<const char*> choices) {
        return *(choices.begin() + Below(choices.size()));
    }
    std::size_t Below(std::size_t n) { return n == 0 ? 0 : random_() % n; }
    std::mt19937 random_;
};

} // namespace

TEST_F(HostdServeTest, RandomTrafficNeverTakesTheDaemonDown) {
    RandomTraffic traffic(20261206);
    for (int connection = 0; connection < 80; ++connection) {
        RawClient client(daemon->Port());
        if (traffic.Coin()) {
            ASSERT_TRUE(client.SignOn());
        }
        std::string burst;
        for (int n = 0; n < 4; ++n)
            burst += traffic.Frame();
        try {
            client.SendRaw(burst);
            client.HangUp();
            while (client.Receive()) {
            }
        } catch (const std::exception&) {
            // the daemon may close first and the rest of the burst then bounces: fine
        }
    }
    EXPECT_EQ(::kill(daemon->Pid(), 0), 0);
    ExpectServed();
    if (::testing::Test::HasFailure())
        std::printf("%s", daemon->Log().c_str());
}
