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
        // Serving the IBM i too, it keeps a changed password's token for the IBM i sign-on.
        daemon = std::make_unique<Daemon>(daemonDir, db,
                                          std::vector<std::string>{"--ibmi", "127.0.0.1:0"});
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
    EXPECT_EQ(cancelled.err, "User ID for Sysa: Password for OPER on Sysa: \n"
                             "tavo400-send: Sign-on to Sysa cancelled; nothing was sent.\n");
}

TEST_F(PromptTest, ChangePasswordAsksAtATerminalAndExitsByWhatTheHostSaid) {
    const Args change = {"--change-password", "--system", "sysa"};
    const auto piped = RunAt(change, "secret42\nnewpass99\nnewpass99\n", false, true);
    EXPECT_EQ(piped.code, kExitBadInput);
    EXPECT_TRUE(Contains(piped.err, "asks for the passwords at a terminal")) << piped.err;
    EXPECT_EQ(RunAt({"--change-password", "--to", "ops"}, "", true, true).code, kExitBadInput);

    const std::string dbPath = db.string();
    ASSERT_EQ(RunHostd(daemonDir, {"user", "expire", "OPER", "--db", dbPath}).status, 0);
    const auto expired = RunAt({"--to", "ops", "--body", "b"}, "secret42\n", true, true);
    EXPECT_EQ(expired.code, kExitUnreachable);
    EXPECT_TRUE(Contains(expired.err, "run: tavo400-send --change-password --system Sysa"))
        << expired.err;

    const struct {
        const char* typed;
        int code;
        const char* says;
    } answers[] = {
        {"secret42\nnewpass99\nnewpass98\n", kExitBadInput, "confirmation differ"},
        {"secret42\nshort\nshort\n", kExitRefused, "at least 8 characters"},
        {"secret42\nnewpass99\nnewpass99\n", kExitAccepted, "was changed"},
    };
    for (const auto& a : answers) {
        const auto r = RunAt(change, a.typed, true, true);
        EXPECT_EQ(r.code, a.code) << r.err;
        EXPECT_TRUE(Contains(r.out + r.err, a.says)) << r.out << r.err;
        EXPECT_TRUE(r.err.starts_with("Current password for OPER on Sysa: \nNew password for "
                                      "OPER on Sysa: \nNew password again: \n"))
            << r.err;
        EXPECT_FALSE(Contains(r.out + r.err, "newpass99")) << "never echoed";
    }
    cwbtest::UseSystems("[SYSA]\naddress = tcp://127.0.0.1:1\nuser = OPER\n");
    EXPECT_EQ(RunAt(change, "a\nnewpass99\nnewpass99\n", true, true).code, kExitUnreachable);

    // The IBM i sign-on tells when a password expires: a warning line unless -q.
    Daemon ibmi(daemonDir, db, {"--ibmi", "127.0.0.1:0"});
    ASSERT_EQ(RunHostd(daemonDir, {"user", "expire", "OPER", "--in", "2", "--db", dbPath}).status,
              0);
    for (const bool quiet : {false, true}) {
        cwbtest::UseSystems("[SYSA]\naddress = " + ibmi.IbmiAddress() +
                            "\nuser = OPER\npassword = newpass99\n");
        Args list = {"--list", "groups"};
        if (quiet)
            list.push_back("-q");
        const auto r = RunAt(list, "", false, false);
        EXPECT_EQ(r.code, kExitAccepted) << r.err;
        EXPECT_EQ(Contains(r.err, "tavo400-send: the password on Sysa expires in 2 days; change "
                                  "it with: tavo400-send --change-password --system Sysa"),
                  !quiet)
            << r.err;
    }
}
