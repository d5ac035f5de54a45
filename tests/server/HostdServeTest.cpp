#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <random>
#include <sys/resource.h>

#include "HostdClients.h"
#include "SendRecord.h"

using namespace hostdtest;

namespace {

// "*CRTDTAQ" or a list request, as TVOCGET's two parameters.
pr::Call ListCall(std::string code) {
    code.resize(124, ' ');
    return {"TVOCGET",
            "TAVO400",
            {{pr::Direction::Input, 124, tavo::codepage::ToEbcdic(code)},
             {pr::Direction::InOut, 32000, std::string(32000, '\0')}},
            ""};
}

// One message to the demo recipient OPS, as the window sends it: TVOCUPD's six areas.
pr::Call SendCall(const std::string& latin1Text) {
    const auto area = [](std::string latin1, std::uint32_t size) {
        latin1.resize(size, ' ');
        return pr::Parm{pr::Direction::Input, size, tavo::codepage::ToEbcdic(latin1)};
    };
    const auto record = testsupport::SendRecord({"OPS"}, latin1Text, "*RCP", "Y");
    return {"TVOCUPD",
            "TAVO400",
            {area("*CA", 10), area("*SNDTVO", 10), area("", 10), area("", 30), area(record, 32000),
             pr::Parm{pr::Direction::Output, 32000, ""}},
            ""};
}

// The reply area of a send, in Latin-1: "N00000" when the message was accepted.
std::string SendReply(RawClient& client, const std::string& latin1Text,
                      const std::string& requestId = {}) {
    auto call = SendCall(latin1Text);
    call.requestId = requestId;
    const auto reply = client.Ask(call);
    const auto* done = std::get_if<pr::CallReply>(&reply);
    if (!done || !done->ok || done->outputs.size() != 1)
        return "no reply";
    return tavo::codepage::ToLatin1(done->outputs[0]);
}

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
        pr::Call call{Pick({"TVOCGET", "TVOCUPD", "NOSUCH"}), Pick({"TAVO400", "QGPL"}), {}, ""};
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

class HostdServeTest : public ::testing::Test {
  protected:
    // A well-behaved client can still sign on and use the queue.
    void ExpectServed() {
        RawClient good(daemon->Port());
        ASSERT_TRUE(good.SignOn());
        const auto reply = good.Ask(pr::QueueExists{"#TVOCGET", "TAVO400"});
        EXPECT_EQ(std::get<pr::Error>(reply).code, pr::ErrorCode::QueueNotFound); // not made yet
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
    const std::string hello = pr::Encode(pr::Hello{});
    const struct {
        const char* name;
        std::string bytes;
        const char* logged;
    } cases[] = {
        {"not our protocol", "GET / HTTP/1.0\r\n\r\n", "bad frame"},
        {"oversized", std::string("\x7f\xff\xff\xff", 4),
         "bad frame: frame length 2147483647 is not 1 to 8192"},
        {"large before sign-on", std::string("\0\0\x40\0", 4),
         "bad frame: frame length 16384 is not 1 to 8192"},
        {"bad body", std::string("\0\0\0\x02\x63\x00", 6), "bad frame: unknown message type 99"},
        {"half a frame", hello.substr(0, hello.size() - 3), "no complete sign-on within 1 s"},
    };
    for (const auto& c : cases) {
        RawClient bad(daemon->Port());
        bad.SendRaw(c.bytes);
        EXPECT_TRUE(bad.Closed()) << c.name;
    }
    RawClient skipsSignOn(daemon->Port());
    ASSERT_TRUE(std::holds_alternative<pr::HelloOk>(skipsSignOn.Ask(pr::Hello{})));
    const auto refused = skipsSignOn.Ask(pr::QueueExists{"#TVOCGET", "TAVO400"});
    EXPECT_EQ(std::get<pr::Error>(refused).code, pr::ErrorCode::NotSignedOn);
    EXPECT_TRUE(skipsSignOn.Closed());

    ExpectServed();
    EXPECT_TRUE(
        std::holds_alternative<pr::Entries>(idle.Ask(pr::Take{"#TVOCGET", "TAVO400", "k", 5})));
    const std::string log = daemon->Log();
    for (const auto& c : cases)
        EXPECT_NE(log.find(c.logged), std::string::npos) << c.name << "\n" << log;
}

TEST_F(HostdServeTest, WrongPasswordOrVersionIsRefusedWithText) {
    RawClient wrong(daemon->Port());
    ASSERT_TRUE(std::holds_alternative<pr::HelloOk>(wrong.Ask(pr::Hello{})));
    const auto refused = std::get<pr::Error>(wrong.Ask(pr::SignOn{"OPER", "guess"}));
    EXPECT_EQ(refused.code, pr::ErrorCode::SignOnRefused);
    EXPECT_EQ(refused.text, "Sign-on as OPER refused: the user or password is not valid.");
    EXPECT_TRUE(wrong.Closed());
    EXPECT_FALSE(RawClient(daemon->Port()).SignOn("secret42", "NOBODY"));
    for (int i = 0; i < 3; ++i)
        RawClient(daemon->Port()).SignOn("guess", "NOBODY");
    pr::ErrorCode code{};
    EXPECT_EQ(RawClient(daemon->Port()).SignOnRefusal("guess", "NOBODY", &code),
              "Sign-on as NOBODY refused: too many failed sign-ons for this user; try again in "
              "1 s.");
    EXPECT_EQ(code, pr::ErrorCode::SignOnDelay);

    RawClient future(daemon->Port());
    EXPECT_EQ(std::get<pr::Error>(future.Ask(pr::Hello{pr::kVersion + 1})).code,
              pr::ErrorCode::VersionNotSupported);
    ExpectServed();
}

TEST_F(HostdServeTest, StopFinishesTheCallInFlightAndExitsCleanly) {
    RawClient client(daemon->Port()), idle(daemon->Port());
    ASSERT_TRUE(client.SignOn());
    ASSERT_TRUE(idle.SignOn());
    client.Send(ListCall("*CRTDTAQ"));
    EXPECT_EQ(daemon->Stop(SIGTERM), 0);
    const auto reply = client.Receive();
    ASSERT_TRUE(reply);
    EXPECT_TRUE(std::get<pr::CallReply>(*reply).ok);
    EXPECT_EQ(std::get<pr::CallReply>(*reply).outputs,
              std::vector<std::string>{std::string(32000, '\0')});
    EXPECT_TRUE(idle.Closed());

    // the queue it created is in the database for the next run
    daemon = std::make_unique<Daemon>(dir, db);
    RawClient after(daemon->Port());
    ASSERT_TRUE(after.SignOn());
    EXPECT_TRUE(std::holds_alternative<pr::Ok>(after.Ask(pr::QueueExists{"#TVOCGET", "TAVO400"})));
}

// Workstations that open the picker at the same moment send equal keys; each still gets
// one whole list of its own, told apart by who signed on and where from.
TEST_F(HostdServeTest, EqualKeysOfDifferentClientsAreKeptApart) {
    ASSERT_EQ(RunHostd(dir, {"user", "add", "CLERK", "--db", db.string()}, "secret42\n").status, 0);
    RawClient oper(daemon->Port()), clerk(daemon->Port()), elsewhere(daemon->Port(), "127.0.0.2");
    ASSERT_TRUE(oper.SignOn());
    ASSERT_TRUE(clerk.SignOn("secret42", "clerk"));
    ASSERT_TRUE(elsewhere.SignOn());
    ASSERT_TRUE(std::get<pr::CallReply>(oper.Ask(ListCall("*CRTDTAQ"))).ok);
    const pr::Call list = ListCall("*RCPL     12612061200000");
    for (RawClient* client : {&oper, &clerk, &elsewhere})
        ASSERT_TRUE(std::get<pr::CallReply>(client->Ask(list)).ok);

    const pr::Take take{"#TVOCGET", "TAVO400", list.parms[0].data.substr(0, 24),
                        static_cast<std::uint32_t>(pr::kMaxEntriesPerReply)};
    const auto first = std::get<pr::Entries>(oper.Ask(take)).entries;
    const char endMarker = tavo::codepage::ToEbcdic("X")[0];
    ASSERT_GT(first.size(), 1u);
    EXPECT_EQ(std::count_if(first.begin(), first.end(),
                            [&](const std::string& e) { return e[0] == endMarker; }),
              1);
    EXPECT_EQ(first.back()[0], endMarker);
    for (RawClient* client : {&clerk, &elsewhere})
        EXPECT_EQ(std::get<pr::Entries>(client->Ask(take)).entries, first);
}

TEST(HostdLimits, ConnectionsAndQueueAreBounded) {
    ScratchDir dir("hostd-limits");
    const auto db = DemoDatabase(dir);
    Daemon daemon(dir, db, {"--max-connections", "2", "--queue-cap", "5"});
    RawClient first(daemon.Port()), second(daemon.Port());
    ASSERT_TRUE(first.SignOn());
    // Full: the stranger makes room for a newcomer, the one signed on never does; once all
    // are signed on, a newcomer is refused.
    RawClient third(daemon.Port());
    EXPECT_TRUE(second.Closed());
    ASSERT_TRUE(third.SignOn());
    EXPECT_TRUE(RawClient(daemon.Port()).Closed());

    ASSERT_TRUE(std::get<pr::CallReply>(first.Ask(ListCall("*CRTDTAQ"))).ok);
    // the demo's twelve recipients and the end marker do not fit under a cap of five
    const auto list = std::get<pr::CallReply>(first.Ask(ListCall("*RCPL")));
    EXPECT_FALSE(list.ok);
    EXPECT_NE(list.message.find("at most 5"), std::string::npos) << list.message;
    EXPECT_NE(daemon.Log().find("already serving 2 signed-on connections"), std::string::npos);
    EXPECT_EQ(daemon.Stop(SIGINT), 0); // Ctrl-C stops it as cleanly as SIGTERM
    EXPECT_TRUE(first.Closed());
}

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

// The administration commands wait their turn while clients keep the daemon writing.
TEST_F(HostdServeTest, AdministrationWorksWhileClientsSend) {
    std::ofstream(dir / "groups.csv") << "TEAM,The team,OPS\n";
    std::atomic<bool> done{false};
    std::atomic<int> accepted{0}, refused{0};
    std::vector<std::unique_ptr<RawClient>> clients;
    for (int s = 0; s < 8; ++s) {
        clients.push_back(std::make_unique<RawClient>(daemon->Port()));
        ASSERT_TRUE(clients.back()->SignOn());
    }
    // Several calls in flight on each connection keep the daemon committing back to back.
    const std::string calls = pr::Encode(SendCall("load@@busy")) +
                              pr::Encode(SendCall("load@@busy")) +
                              pr::Encode(SendCall("load@@busy"));
    std::vector<std::thread> senders;
    for (auto& client : clients)
        senders.emplace_back([&, &client = *client] {
            while (!done) {
                client.SendRaw(calls);
                for (int i = 0; i < 3; ++i) {
                    const auto reply = client.Receive();
                    const auto* call = reply ? std::get_if<pr::CallReply>(&*reply) : nullptr;
                    const bool ok = call && call->ok && !call->outputs.empty() &&
                                    tavo::codepage::ToLatin1(call->outputs[0]).starts_with("N");
                    ++(ok ? accepted : refused);
                }
            }
        });
    const std::vector<std::vector<std::string>> commands = {
        {"outbox"},
        {"directory", "list"},
        {"directory", "import", "--groups", (dir / "groups.csv").string()},
        {"user", "add", "CLERK"}};
    for (int round = 0; round < 5; ++round)
        for (auto args : commands) {
            args.insert(args.end(), {"--db", db.string()});
            const auto result = RunHostd(dir, args, "long enough\n");
            EXPECT_EQ(result.status, 0) << args[0] << ": " << result.err;
        }
    done = true;
    for (auto& t : senders)
        t.join();
    EXPECT_GT(accepted, 0);
    EXPECT_EQ(refused, 0);
}

// A field can neither clear the administrator's screen nor forge a line of the outbox or
// of the daemon's log; JSON carries the same text escaped its own way.
TEST_F(HostdServeTest, ControlCharactersAreShownEscaped) {
    RawClient client(daemon->Port());
    ASSERT_TRUE(client.SignOn());
    const std::string text = std::string("Hi\x1b[2J@@x\r\n#9  forged\x9b") + "1m";
    ASSERT_EQ(SendReply(client, text).substr(0, 6), "N00000");
    RawClient forger(daemon->Port());
    ASSERT_TRUE(std::holds_alternative<pr::HelloOk>(forger.Ask(pr::Hello{})));
    forger.Ask(pr::SignOn{"OPER\n2026-01-01T00:00:00Z signed on as ROOT", "guess"});

    const auto outbox = RunHostd(dir, {"outbox", "--db", db.string()}).out;
    EXPECT_NE(outbox.find("    Hi\\x1b[2J: x\\x0d\\x0a#9  forged\\x9b1m\n"), std::string::npos)
        << outbox;
    EXPECT_EQ(std::count(outbox.begin(), outbox.end(), '\n'), 2) << outbox;
    const auto json = RunHostd(dir, {"outbox", "--json", "--db", db.string()}).out;
    EXPECT_NE(json.find(R"("subject": "Hi\u001b[2J", "body": "x\r\n#9  forged\u009b1m")"),
              std::string::npos)
        << json;
    const std::string log = daemon->Log();
    EXPECT_NE(log.find("'OPER\\x0a2026-01-01T00:00:00Z signed on as ROOT'"), std::string::npos)
        << log;
    EXPECT_EQ(log.find("\n2026-01-01T00:00:00Z"), std::string::npos) << log;
}

// A disk that refuses to grow the journal fails every send: the daemon says so once, then
// how many more there were.
TEST(HostdFullDisk, FailedStoresAreLoggedAndRepeatsCounted) {
    ScratchDir dir("hostd-full");
    const auto db = DemoDatabase(dir);
    // The daemon inherits a file size limit just past its shared-memory file: writes past
    // it fail with EFBIG, as writes fail on a full disk, instead of raising SIGXFSZ.
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const rlimit small{40 << 10, saved.rlim_max};
    const auto handler = std::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &small);
    std::unique_ptr<Daemon> daemon;
    std::string notStarted;
    try {
        daemon = std::make_unique<Daemon>(dir, db);
    } catch (const std::exception& e) {
        notStarted = e.what();
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, handler);
    ASSERT_TRUE(daemon) << notStarted;
    RawClient client(daemon->Port());
    ASSERT_TRUE(client.SignOn());
    int accepted = 0;
    while (accepted < 100 && SendReply(client, "fill@@the journal").starts_with("N"))
        ++accepted;
    for (int i = 0; i < 4; ++i)
        EXPECT_NE(SendReply(client, "full@@disk").find("could not be stored"), std::string::npos);
    daemon->Stop();
    const std::string log = daemon->Log();
    const std::string line = "A message could not be stored: Host database error: ";
    const auto first = log.find(line);
    ASSERT_NE(first, std::string::npos) << log;
    const std::string repeated =
        log.substr(first, log.find('\n', first) - first) + " (repeated 4 more times)\n";
    EXPECT_NE(log.find(repeated), std::string::npos) << accepted << " accepted\n" << log;
}

// A flood from one address, of connections that never sign on or of sign-ons that guess,
// shuts out only that address and the user it guesses at: another user still gets in.
TEST_F(HostdServeTest, FloodsShutOutOnlyTheirSenders) {
    ASSERT_EQ(RunHostd(dir, {"user", "add", "CLERK", "--db", db.string()}, "clerk-pass\n").status,
              0);
    const auto realUserSends = [&] {
        RawClient real(daemon->Port());
        return real.SignOn() && SendReply(real, "through@@the flood").starts_with("N");
    };
    std::vector<std::unique_ptr<RawClient>> idle;
    for (int i = 0; i < 300; ++i)
        idle.push_back(std::make_unique<RawClient>(daemon->Port(), "127.0.0.2"));
    EXPECT_TRUE(realUserSends()) << "with 300 connections held open that never sign on";
    idle.clear();

    std::atomic<bool> flooding{true};
    std::vector<std::thread> guessers;
    for (int t = 0; t < 8; ++t)
        guessers.emplace_back([&, t] {
            while (flooding) {
                RawClient guess(daemon->Port(), "127.0.0.3");
                try {
                    guess.SignOn("guess-" + std::to_string(t), "clerk");
                } catch (const std::exception&) {
                    // refused before the greeting: the daemon's answer to a flood
                }
            }
        });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(realUserSends()) << "during a sign-on flood, attempt " << i;
    flooding = false;
    for (auto& t : guessers)
        t.join();
    EXPECT_EQ(daemon->Stop(), 0);
}

// Guesses sent together are checked no faster than one by one: the free failures at once,
// then one at a time; the rest are told the host is busy.
TEST_F(HostdServeTest, ABurstOfGuessesIsNotCheckedAllAtOnce) {
    std::vector<std::unique_ptr<RawClient>> guesses;
    for (int i = 0; i < 16; ++i)
        guesses.push_back(std::make_unique<RawClient>(daemon->Port()));
    for (auto& guess : guesses)
        guess->SendRaw(pr::Encode(pr::Hello{}) + pr::Encode(pr::SignOn{"OPER", "guess"}));
    std::map<pr::ErrorCode, int> answers;
    for (auto& guess : guesses)
        guess->Receive(), ++answers[std::get<pr::Error>(guess->Receive().value()).code];
    EXPECT_LE(answers[pr::ErrorCode::SignOnRefused], 4);
    EXPECT_GE(answers[pr::ErrorCode::HostBusy], 1);
}

// A send that comes again under its request id, as after a lost reply, gets the first
// answer and is stored once, from another connection and after a kill -9 alike.
TEST_F(HostdServeTest, ASendRepeatedUnderItsRequestIdIsStoredOnce) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (attempt == 2)
            daemon->Restart();
        RawClient client(daemon->Port());
        ASSERT_TRUE(client.SignOn());
        EXPECT_EQ(SendReply(client, "once@@only", "7f3a9c").substr(0, 6), "N00000") << attempt;
    }
    const auto outbox = RunHostd(dir, {"outbox", "--json", "--db", db.string()}).out;
    EXPECT_EQ(outbox.find("\"once\""), outbox.rfind("\"once\"")) << outbox;
    EXPECT_NE(outbox.find("\"once\""), std::string::npos) << outbox;
}

// A failed call hands back none of the areas it declared, however large.
TEST_F(HostdServeTest, AFailedCallReturnsNoAreas) {
    RawClient client(daemon->Port());
    ASSERT_TRUE(client.SignOn());
    const pr::Call call{"NOSUCH", "TAVO400", {{pr::Direction::Output, 512 * 1024, ""}}, ""};
    const auto reply = std::get<pr::CallReply>(client.Ask(call));
    EXPECT_FALSE(reply.ok);
    EXPECT_TRUE(reply.outputs.empty());
}

// Many workstations share a user, each from its own address; one address gets its share.
TEST(HostdLimits, AUserHoldsAtMostItsShareOfConnectionsFromOneAddress) {
    ScratchDir dir("hostd-user-cap");
    Daemon daemon(dir, DemoDatabase(dir), {"--max-user-connections", "1"});
    auto first = std::make_unique<RawClient>(daemon.Port());
    ASSERT_TRUE(first->SignOn());
    EXPECT_FALSE(RawClient(daemon.Port()).SignOn());
    EXPECT_TRUE(RawClient(daemon.Port(), "127.0.0.2").SignOn());
    first.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // the daemon sees it close
    EXPECT_TRUE(RawClient(daemon.Port()).SignOn());
}
