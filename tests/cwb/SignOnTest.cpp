// The sign-on prompt against a real tavo400-hostd: its tcp sign-on and its IBM i
// sign-on server refuse a wrong password, each in its own words.
#include <gtest/gtest.h>

#include <asio.hpp>
#include <cstdio>
#include <deque>
#include <thread>

#include "CwbTestSupport.h"
#include "HostdProcess.h"
#include "cwbsignon.h"

using namespace cwbtesting;
using namespace hostdtest;

namespace {

// Answers the prompt from a script of answers and remembers what it was shown.
class TestPrompt {
  public:
    struct Answer {
        bool ok;
        std::string user, password;
    };
    struct Shown {
        std::string system, user, reason;
    };

    void Register() { cwbCO_SetSignOnPrompt(&TestPrompt::Ask, this); }

    std::deque<Answer> answers;
    std::vector<Shown> shown;

  private:
    static int Ask(const char* system, const char* reason, char* user, unsigned long userSize,
                   char* password, unsigned long passwordSize, void* context) {
        auto* self = static_cast<TestPrompt*>(context);
        self->shown.push_back({system, user, reason});
        if (self->answers.empty())
            return 0;
        const auto answer = self->answers.front();
        self->answers.pop_front();
        std::snprintf(user, userSize, "%s", answer.user.c_str());
        std::snprintf(password, passwordSize, "%s", answer.password.c_str());
        return answer.ok;
    }
};

const TestPrompt::Answer kRight{true, "OPER", "secret42"};
const TestPrompt::Answer kWrong{true, "OPER", "wrong"};
const TestPrompt::Answer kCancel{false, "", ""};

class SignOnTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetProcessState();
        prompt.Register();
    }
    void TearDown() override { ResetProcessState(); }
    // SYSA at `address`, with `more` lines in its section.
    static void UseSystem(const std::string& address, const std::string& more = "user = OPER") {
        cwbtest::UseSystems("[SYSA]\naddress = " + address + "\ntimeout = 10\n" + more + "\n");
    }
    static unsigned Connect() {
        cwbRC_SysHandle connection = 0;
        return cwbRC_StartSys("Sysa", 0, &connection);
    }
    // A data-queue open signs on too, but never asks; its error handle says why it failed.
    static unsigned OpenQueue(const ErrHandle& errors) {
        cwbDQ_QueueHandle queue = 0;
        return cwbDQ_Open(kReplyQueue, kLibrary, "SYSA", &queue, errors);
    }

    static inline ScratchDir* dir = nullptr;
    static inline Daemon* daemon = nullptr;
    static void SetUpTestSuite() {
        dir = new ScratchDir("signon");
        daemon = new Daemon(*dir, DemoDatabase(*dir), {"--ibmi", "127.0.0.1:0"});
    }
    static void TearDownTestSuite() {
        delete daemon;
        delete dir;
    }

    TestPrompt prompt;
    ScratchDir stateDir{"signon-state"}; // the password levels hosts used, this test's own
    ScopedEnv state{"XDG_STATE_HOME", stateDir.path().string()};
};

} // namespace

TEST_F(SignOnTest, AskedOnceARunAndTheAcceptedPasswordServesLaterConnects) {
    UseSystem(daemon->Address());
    prompt.answers = {kRight};
    ASSERT_EQ(Connect(), CWB_OK);
    ASSERT_EQ(prompt.shown.size(), 1u);
    EXPECT_EQ(prompt.shown[0].system, "Sysa");
    EXPECT_EQ(prompt.shown[0].user, "OPER") << "the systems file's user, prefilled";
    EXPECT_EQ(prompt.shown[0].reason, "");
    EXPECT_EQ(Connect(), CWB_OK);
    // signed on with the cached password; the queue is simply not there yet
    EXPECT_EQ(OpenQueue(ErrHandle()), CWBDQ_QUEUE_NOT_FOUND);
    EXPECT_EQ(prompt.shown.size(), 1u);

    ResetProcessState(); // a new run: nothing cached, no prompt
    UseSystem(daemon->Address());
    ErrHandle errors;
    EXPECT_EQ(OpenQueue(errors), CWB_SECURITY_ERROR);
    EXPECT_EQ(OnlyError(errors),
              "The systems file gives no password for SYSA, and none was given in this run.");
    EXPECT_EQ(Connect(), CWB_SECURITY_ERROR);
    prompt.Register();
    prompt.answers = {kCancel, kRight};
    EXPECT_EQ(Connect(), CWB_SIGNON_CANCELLED) << "Cancel fails the connect";
    EXPECT_EQ(OpenQueue(errors), CWB_SECURITY_ERROR) << "and caches nothing";
    EXPECT_EQ(Connect(), CWB_OK);
    EXPECT_EQ(prompt.shown.size(), 3u);
}

TEST_F(SignOnTest, RefusalIsAskedAgainWithItsReasonUntilAcceptedOrCancelled) {
    struct Case {
        std::string address;
        std::deque<TestPrompt::Answer> answers;
        unsigned rc;
        std::vector<std::string> reasons; // shown at each ask
        std::string lastUser;
    };
    const std::string tcpRefusal = "Sign-on as OPER refused: the user or password is not valid.";
    const std::string ibmiRefusal = "the password is not correct.";
    const Case cases[] = {
        {daemon->Address(), {kWrong, kCancel}, CWB_SIGNON_CANCELLED, {"", tcpRefusal}, "OPER"},
        {daemon->IbmiAddress(),
         {kWrong, kWrong, kRight},
         CWB_OK,
         {"", ibmiRefusal, ibmiRefusal},
         "OPER"},
        {daemon->IbmiAddress(), {kWrong, kCancel}, CWB_SIGNON_CANCELLED, {"", ibmiRefusal}, "OPER"},
        // the user typed is shown again; an empty one is not sent to the host
        {daemon->Address(),
         {{true, "NOBODY", "x"}, {true, "", "x"}, kRight},
         CWB_OK,
         {"", "refused", "A user ID is needed."},
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address + " " + std::to_string(c.answers.size()));
        ResetProcessState();
        prompt = {};
        prompt.Register();
        prompt.answers = c.answers;
        UseSystem(c.address, "");
        EXPECT_EQ(Connect(), c.rc);
        ASSERT_EQ(prompt.shown.size(), c.reasons.size());
        EXPECT_EQ(prompt.shown.front().user, "");
        for (std::size_t i = 0; i < c.reasons.size(); ++i)
            EXPECT_NE(prompt.shown[i].reason.find(c.reasons[i]), std::string::npos)
                << i << ": " << prompt.shown[i].reason;
        EXPECT_EQ(prompt.shown.back().user, c.lastUser);
        EXPECT_TRUE(prompt.shown.front().reason.empty());
    }
}

// The queue open signs on too, and its error handle says why it failed.
TEST_F(SignOnTest, ConfiguredPasswordsAreUsedAndNeverAsked) {
    const struct {
        const char* name;
        std::string section;
        unsigned rc;
        std::string says;
    } cases[] = {
        {"password", "user = OPER\npassword = secret42", CWB_OK, ""},
        {"command", "user = OPER\npassword_command = printf secret42", CWB_OK, ""},
        {"wrong password", "user = oper\npassword = wrong", CWB_SECURITY_ERROR,
         "Sign-on as oper refused: the user or password is not valid."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UseSystem(daemon->Address(), c.section);
        cwbRC_SysHandle connection = 0;
        EXPECT_EQ(cwbRC_StartSys("Sysa", 0, &connection), c.rc); // no second chance when wrong
        EXPECT_EQ(connection != 0, c.rc == CWB_OK);
        const ErrHandle errors;
        EXPECT_EQ(OpenQueue(errors), c.rc == CWB_OK ? CWBDQ_QUEUE_NOT_FOUND : c.rc);
        if (c.rc != CWB_OK) {
            EXPECT_EQ(OnlyError(errors), c.says);
        }
    }
    UseSystem(daemon->Address(), ""); // nor a user: the host is told of none
    const ErrHandle errors;
    EXPECT_EQ(OpenQueue(errors), CWB_SECURITY_ERROR);
    EXPECT_EQ(OnlyError(errors),
              "The systems file gives no user for SYSA; its host needs a user and a password.");
    EXPECT_TRUE(prompt.shown.empty());
}

// The port mapper answers in plain TCP even under TLS, so anyone on the path can.
TEST_F(SignOnTest, APortMapperAnswerIsAReturnCodeNeverACrash) {
    for (const auto& answer :
         {std::string("+\0\0\0\0", 5), std::string("+\xff\xff\xff\xff"), std::string("+\0\1", 3)}) {
        asio::io_context io;
        asio::ip::tcp::acceptor mapper(io, {asio::ip::address_v4::loopback(), 0});
        std::thread answering([&] {
            for (int i = 0; i < 2; ++i) { // the sign-on server's and the service's lookups
                auto peer = mapper.accept();
                std::array<char, 16> name;
                std::error_code ignored;
                peer.read_some(asio::buffer(name), ignored);
                asio::write(peer, asio::buffer(answer), ignored);
            }
        });
        UseSystem("ibmi://127.0.0.1:" + std::to_string(mapper.local_endpoint().port()),
                  "user = OPER\npassword = secret42");
        const ErrHandle errors;
        EXPECT_EQ(OpenQueue(errors), CWB_COMMUNICATIONS_ERROR);
        EXPECT_NE(OnlyError(errors).find("port mapper"), std::string::npos);
        answering.join();
    }
}

// Someone on the path rewrites the level the sign-on server announces, to get a DES
// substitute of the password: below the level the host used before, nothing is sent.
TEST_F(SignOnTest, ALoweredPasswordLevelIsRefusedBeforeTheSignOnUntilAccepted) {
    const std::string section = "user = OPER\npassword = secret42";
    UseSystem(daemon->IbmiAddress(), section);
    ASSERT_EQ(OpenQueue(ErrHandle()), CWBDQ_QUEUE_NOT_FOUND); // signed on at level 3
    ScratchDir lowDir("signon-level0");
    Daemon low(lowDir, DemoDatabase(lowDir, 0), {"--ibmi", "127.0.0.1:0", "--password-level", "0"});
    const std::string refusal = "SYSA announced password level 0, lower than the level 3 it used "
                                "before: someone on the network may be trying";
    for (const bool accepted : {false, true}) {
        ResetProcessState(); // a new run
        UseSystem(low.IbmiAddress(), section);
        EXPECT_EQ(accepted ? cwbCO_AcceptPasswordLevel("sysa") : CWB_OK, CWB_OK);
        const ErrHandle errors;
        EXPECT_EQ(OpenQueue(errors), accepted ? CWBDQ_QUEUE_NOT_FOUND : CWB_PASSWORD_LEVEL_LOWERED);
        EXPECT_EQ(OnlyError(errors).starts_with(refusal), !accepted) << OnlyError(errors);
        // the host saw a sign-on only once its level was accepted
        EXPECT_EQ(low.Log().find("signed on") != std::string::npos, accepted) << low.Log();
        EXPECT_EQ(low.Log().find("sign-on as"), std::string::npos) << low.Log();
    }
    ResetProcessState(); // level 0 is the one remembered now
    UseSystem(low.IbmiAddress(), section);
    EXPECT_EQ(OpenQueue(ErrHandle()), CWBDQ_QUEUE_NOT_FOUND);
}
