#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

#include "HostdClients.h"
#include "SendRecord.h"

using namespace hostdtest;

namespace {

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

class HostdServeTest : public ::testing::Test {
  protected:
    ScratchDir dir{"hostd-serve"};
    std::filesystem::path db = DemoDatabase(dir);
    std::unique_ptr<Daemon> daemon =
        std::make_unique<Daemon>(dir, db, std::vector<std::string>{"--frame-timeout", "1"});
};

} // namespace

TEST_F(HostdServeTest, StopFinishesTheCallInFlightAndExitsCleanly) {
    RawClient client(daemon->Port()), idle(daemon->Port());
    ASSERT_TRUE(client.SignOn());
    ASSERT_TRUE(idle.SignOn());
    client.Send(ListCall("*CRTDTAQ"));
    EXPECT_EQ(daemon->Stop(SIGINT), 0); // Ctrl-C stops it as cleanly as SIGTERM
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

// A field can neither clear the administrator's screen nor forge a line of the outbox; JSON
// carries the same text escaped its own way.
TEST_F(HostdServeTest, ControlCharactersAreShownEscaped) {
    RawClient client(daemon->Port());
    ASSERT_TRUE(client.SignOn());
    const std::string text = std::string("Hi\x1b[2J@@x\r\n#9  forged\x9b") + "1m";
    ASSERT_EQ(SendReply(client, text).substr(0, 6), "N00000");

    const auto outbox = RunHostd(dir, {"outbox", "--db", db.string()}).out;
    EXPECT_NE(outbox.find("    Hi\\x1b[2J: x\\x0d\\x0a#9  forged\\x9b1m\n"), std::string::npos)
        << outbox;
    EXPECT_EQ(std::count(outbox.begin(), outbox.end(), '\n'), 2) << outbox;
    const auto json = RunHostd(dir, {"outbox", "--json", "--db", db.string()}).out;
    EXPECT_NE(json.find(R"("subject": "Hi\u001b[2J", "body": "x\r\n#9  forged\u009b1m")"),
              std::string::npos)
        << json;
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
