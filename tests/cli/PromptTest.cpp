// tavo400-send and a system whose password is not configured: asked at a terminal only.
#include "CliFixture.h"

using namespace hostdtest;

namespace {

const std::string kNoPassword =
    "tavo400-send: no password for Sysa: give its section in the systems file a password or a "
    "password_command, or run at a terminal without --no-prompt to be asked for it\n";

class PromptTest : public CliFixture {
  protected:
    void SetUp() override {
        CliFixture::SetUp();
        db = DemoDatabase(daemonDir);
        daemon = std::make_unique<Daemon>(daemonDir, db);
        cwbtest::UseSystems("[SYSA]\naddress = " + daemon->Address() + "\nuser = OPER\n");
    }
    // As Run, with stdin and stderr each a terminal or not.
    CommandRun RunAt(const Args& args, const std::string& typed, bool inTerminal,
                     bool errTerminal) {
        Restart();
        std::istringstream in(typed);
        std::ostringstream out, err;
        const int code = tavo::cli::RunSendCommand(args, {in, out, err, inTerminal, errTerminal});
        return {code, out.str(), err.str()};
    }

    std::filesystem::path db;
    std::unique_ptr<Daemon> daemon;
};

} // namespace

TEST_F(PromptTest, AsksOnlyAtATerminalAndNeverWithNoPrompt) {
    const Args send = {"--to", "ops", "--body", "b", "-q"};
    const Args noPrompt = {"--to", "ops", "--body", "b", "--no-prompt"};
    struct Case {
        const char* what;
        Args args;
        bool inTerminal, errTerminal;
    } refusals[] = {
        {"stdin a pipe", send, false, true},
        {"stderr a file", send, true, false},
        {"--no-prompt", noPrompt, true, true},
        {"a list too", {"--list", "groups", "--json"}, false, false},
    };
    for (const auto& c : refusals) {
        SCOPED_TRACE(c.what);
        const auto r = RunAt(c.args, "secret42\n", c.inTerminal, c.errTerminal);
        EXPECT_EQ(r.code, kExitUnreachable);
        EXPECT_TRUE(r.err.ends_with(kNoPassword)) << r.err;
        EXPECT_FALSE(Contains(r.err, "Password for")) << r.err;
    }
    EXPECT_TRUE(tavo::server::HostEngine(db.string()).Outbox().empty());
}

TEST_F(PromptTest, TerminalAnswerIsAskedAgainAfterARefusalAndNeverShown) {
    const auto r = RunAt({"--to", "ops", "--body", "b", "--json"}, "wrong\nsecret42\n", true, true);
    ASSERT_EQ(r.code, kExitAccepted) << r.err;
    EXPECT_EQ(r.err, "Password for OPER on Sysa: \n"
                     "tavo400-send: Sign-on as OPER refused: the user or password is not valid.\n"
                     "Password for OPER on Sysa: \n");
    EXPECT_FALSE(Contains(r.out, "secret42") || Contains(r.out, "wrong")) << r.out;
    EXPECT_EQ(tavo::server::HostEngine(db.string()).Outbox().size(), 1u);

    // a new process, with no user configured: asked for too; the end of input is a Cancel
    cwbtest::UseSystems("[SYSA]\naddress = " + daemon->Address() + "\n");
    const auto cancelled = RunAt({"--to", "ops", "--body", "b"}, "OPER\n", true, true);
    EXPECT_EQ(cancelled.code, kExitUnreachable);
    EXPECT_TRUE(
        cancelled.err.starts_with("User ID for Sysa: Password for OPER on Sysa: \n"
                                  "Unable to obtain connection to Sysa, return code 4103\n"))
        << cancelled.err;
}
