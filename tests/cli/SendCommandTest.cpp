// tavo400-send in this process on embedded hosts: the command line, the body's sources,
// the checks before any host call, the choice of system and modes, and the dry run.
#include "CliFixture.h"

#include "Strings.h"

using tavo::cli::kExitAccepted;
using tavo::cli::kExitBadInput;
using tavo::cli::kExitRefused;
using tavo::cli::kExitUnreachable;

namespace {

using Args = std::vector<std::string>;

class SendCommandTest : public EmbeddedCliFixture {};

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST_F(SendCommandTest, UsageErrorsExitTwoAndSendNothing) {
    struct Case {
        Args args;
        const char* said;
    } cases[] = {
        {{}, "--to NAMES"},
        {{"--subject", "hi"}, "--to NAMES"},
        {{"--to", "jsmith", "--bogus"}, "--bogus"},
        {{"--subject", "s", "stray", "--to", "jsmith"}, "stray"},
        {{"--list", "printers"}, "printers"},
        {{"--list", "recipients", "--to", "jsmith"}, "--to"},
        {{"--to", "jsmith", "--quiet", "--verbose"}, "--verbose"},
        {{"--to", "jsmith", "--body", "a", "--body", "b"}, "--body"},
        {{"--to", "jsmith", "--config", "no-such.ini"}, "no-such.ini"},
    };
    for (const auto& c : cases) {
        const auto r = Run(c.args);
        EXPECT_EQ(r.code, kExitBadInput) << c.args.size() << " " << r.err;
        EXPECT_TRUE(Contains(r.err, c.said)) << r.err;
    }
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 0);
    EXPECT_TRUE(Outbox().empty());
}

TEST_F(SendCommandTest, HelpAndVersionGoToStdoutAndExitZero) {
    const auto help = Run({"--help"});
    EXPECT_EQ(help.code, kExitAccepted);
    for (const char* part : {"--to", "--body-file", "--dry-run", "--list", "Exit status:",
                             "Accepted is not delivered", "Examples:", "tavo400-send --list"})
        EXPECT_TRUE(Contains(help.out, part)) << part;
    EXPECT_TRUE(help.err.empty());

    const auto version = Run({"--version"});
    EXPECT_EQ(version.code, kExitAccepted);
    EXPECT_TRUE(version.out.starts_with("tavo400-send ")) << version.out;
}

TEST_F(SendCommandTest, BodyComesFromOneSourceOnly) {
    WriteFile("body.txt", "from the file\n");
    struct Case {
        Args args;
        std::string input;
        bool terminal;
        std::string body; // as the host stores it
    } cases[] = {
        {{"--body", "from the option"}, "from stdin", false, "from the option"},
        {{"--body-file", "body.txt"}, "from stdin", false, "from the file"},
        {{"--body-file", "-"}, "dash\r\nmeans stdin\r\n", true, "dash means stdin"},
        {{}, "piped\n\nin\n", false, "piped in"},
        {{}, "a terminal is never read unasked", true, ""},
    };
    for (const auto& c : cases) {
        Args args{"--to", "jsmith", "--subject", "s"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = Run(args, c.input, c.terminal);
        ASSERT_EQ(r.code, kExitAccepted) << r.err;
        EXPECT_EQ(Outbox().front().body, c.body);
    }
}

TEST_F(SendCommandTest, BadBodiesAreRefusedBeforeTheHost) {
    struct Case {
        Args args;
        std::string input;
        const char* said;
    } cases[] = {
        {{"--body", "x", "--body-file", "-"}, "", "the body is given twice"},
        {{"--body-file", "missing.txt"}, "", "cannot read --body-file missing.txt"},
        {{"--body-file", "."}, "", "is a directory"},
        {{"--body-file", "-"}, std::string(64 * 1024 + 1, 'x'), "more than 65536 bytes"},
        {{"--body-file", "-"}, std::string("before\0after", 12), "NUL byte at character 7"},
        {{"--body", "caf\xc3"}, "", "not valid UTF-8 (byte 4)"},
        {{"--body", "price 5 \xe2\x82\xac"}, "", "(U+20AC) at character 9"},
        {{"--subject", "\xed\xa0\x80"}, "", "not valid UTF-8"}, // a surrogate
    };
    for (const auto& c : cases) {
        Args args{"--to", "jsmith"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = Run(args, c.input, false);
        EXPECT_EQ(r.code, kExitBadInput) << c.said;
        EXPECT_TRUE(Contains(r.err, c.said)) << r.err;
    }
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 0);
    EXPECT_TRUE(Outbox().empty());
}

TEST_F(SendCommandTest, AFullSizedBodyWithItsFinalLineBreakStillFits) {
    const auto r = Run({"--to", "jsmith"}, std::string(kBodyLimit, 'b') + "\n", false);
    ASSERT_EQ(r.code, kExitAccepted) << r.err;
    EXPECT_EQ(Outbox().front().body, std::string(kBodyLimit, 'b'));
}

TEST_F(SendCommandTest, DeliveryModesComeFromTheSettingsFileOrTheCommandLine) {
    struct Case {
        std::string settings; // flag bytes after the name; empty: no file
        Args modes;
        std::string sent; // the seven mode bytes of the record
    } cases[] = {
        {"", {}, "YYYYYYY"},
        {"N       ", {}, "YYYYYYY"},                  // not saved: all seven
        {"YY Y    ", {}, "Y Y    "},                  // saved: pager and fax
        {"Y       ", {}, "       "},                  // saved with none on
        {"YY Y    ", {"--modes", "msgq"}, "    Y  "}, // the command line wins
        {"", {"--modes", "phone,PAGER", "--modes", "spool"}, "Y    YY"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove("dftsys.ini");
        if (!c.settings.empty())
            WriteSettings("Sysa", c.settings);
        Args args{"--to", "jsmith", "--body", "b"};
        args.insert(args.end(), c.modes.begin(), c.modes.end());
        const auto r = Run(args);
        // With no mode on the host refuses; the record still shows what was sent.
        ASSERT_EQ(r.code, c.sent == "       " ? kExitRefused : kExitAccepted) << r.err;
        if (r.code == kExitAccepted)
            EXPECT_EQ(Outbox().front().modes, c.sent) << c.settings;
        else
            EXPECT_TRUE(Contains(r.err, "No delivery mode selected.")) << r.err;
    }
}

TEST_F(SendCommandTest, BadModeListsAreRefused) {
    const auto unknown = Run({"--to", "jsmith", "--modes", "pager,pigeon"});
    EXPECT_EQ(unknown.code, kExitBadInput);
    EXPECT_TRUE(Contains(unknown.err, "unknown delivery mode \"pigeon\"")) << unknown.err;

    const auto none = Run({"--to", "jsmith", "--modes", ""});
    EXPECT_EQ(none.code, kExitBadInput);
    EXPECT_EQ(none.err, LoadString(IDS_SELECT_DELIVERY_MODE) + "\n");
    EXPECT_TRUE(Outbox().empty());
}

TEST_F(SendCommandTest, SystemIsChosenAsTheWindowStartsOrByName) {
    struct Case {
        std::string stored; // in dftsys.ini; empty: no file
        Args args;
        const char* lands; // the host that gets the message
    } cases[] = {
        {"", {}, "SYSA"},                       // the default
        {"Sysb", {}, "SYSB"},                   // stored and configured
        {"Sysc", {}, "SYSA"},                   // stored but gone: the default
        {"Sysb", {"--system", "sysa"}, "SYSA"}, // by name, in any case
        {"", {"--system", "SYSB"}, "SYSB"},
    };
    int sent = 0;
    for (const auto& c : cases) {
        std::filesystem::remove("dftsys.ini");
        if (!c.stored.empty())
            WriteSettings(c.stored, "N");
        Args args{"--to", "jsmith", "--body", std::to_string(sent)};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = Run(args);
        ASSERT_EQ(r.code, kExitAccepted) << r.err;
        EXPECT_EQ(Outbox(c.lands).front().body, std::to_string(sent++)) << c.stored;
    }
    EXPECT_EQ(Outbox("SYSA").size() + Outbox("SYSB").size(), 5u);
}

TEST_F(SendCommandTest, UnknownSystemExitsThreeNamingWhatIsConfigured) {
    const auto r = Run({"--system", "nosuch", "--to", "jsmith", "--body", "b"});
    EXPECT_EQ(r.code, kExitUnreachable);
    EXPECT_EQ(r.err, "tavo400-send: no system named \"nosuch\" is configured (configured: Sysa, "
                     "Sysb); nothing was sent\n");
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 0);
}

TEST_F(SendCommandTest, NamingASystemNeedsNoDefault) {
    cwbtest::UseSystems("[SYSB]\naddress = embedded\ndatabase = :memory:\n");
    const auto none = Run({"--to", "jsmith", "--body", "b"});
    EXPECT_EQ(none.code, kExitUnreachable);
    EXPECT_TRUE(Contains(none.err, LoadString(IDS_SELECT_HOST))) << none.err;

    const auto named = Run({"--system", "sysb", "--to", "jsmith", "--body", "b"});
    EXPECT_EQ(named.code, kExitAccepted) << named.err;
    EXPECT_EQ(Outbox("SYSB").size(), 1u);
}

TEST_F(SendCommandTest, ConfigNamesTheSystemsFile) {
    cwbtest::UseSystemsFile();
    WriteFile("other.ini", "[systems]\ndefault = OTHER\n[OTHER]\naddress = embedded\n"
                           "database = " +
                               (dir / "other.db").string() + "\n");
    const auto r = Run({"--config", "other.ini", "--to", "jsmith", "--body", "b", "--verbose"});
    ASSERT_EQ(r.code, kExitAccepted) << r.err;
    EXPECT_TRUE(Contains(r.err, "system Other (the default configured system)")) << r.err;
    EXPECT_EQ(tavo::server::HostEngine((dir / "other.db").string()).Outbox().size(), 1u);
}

TEST_F(SendCommandTest, ABrokenSystemsFileIsShownAndExitsThree) {
    cwbtest::UseSystemsFile();
    WriteFile("broken.ini", "[SYSA]\naddress = tcp://127.0.0.1:1\npassword = secret\n");
    std::filesystem::permissions("broken.ini", std::filesystem::perms::all);
    const auto r = Run({"--config", "broken.ini", "--to", "jsmith", "--body", "b"});
    EXPECT_EQ(r.code, kExitUnreachable);
    EXPECT_TRUE(Contains(r.err, "chmod 600")) << r.err;
    EXPECT_TRUE(Contains(r.err, LoadString(IDS_SELECT_HOST))) << r.err;
}

TEST_F(SendCommandTest, DryRunShowsTheRecordAndSendsNothing) {
    const auto r = Run({"--to", "jsmith, ops", "--subject", "Disk\tfull", "--body",
                        "line one\n\nline two", "--modes", "pager,email", "--dry-run"});
    ASSERT_EQ(r.code, kExitAccepted) << r.err;
    for (const char* line : {"system    Sysa\n", "kind      recipients (*RCP)\n",
                             "names     2: [jsmith    ] [ops       ]\n", "subject   Disk full\n",
                             "body      line one line two\n", "modes     pager email\n"})
        EXPECT_TRUE(Contains(r.out, line)) << line << r.out;
    // 02JSMITH in EBCDIC opens the record; the mode bytes close it.
    EXPECT_TRUE(Contains(r.out, "0000  f0 f2 d1 e2 d4 c9 e3 c8 40 40 40 40 d6 d7 e2 40  "
                                "|02JSMITH    OPS |\n"))
        << r.out;
    EXPECT_TRUE(Contains(r.out, "1504  d7 e8 e8 40 40 40 40 40"));
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 0);
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_CallPgm"), 0);
    EXPECT_TRUE(Outbox().empty());
}

TEST_F(SendCommandTest, DryRunJsonRecordIsTheOneThatIsThenSent) {
    const Args args{"--groups", "--to",   "operators", "--subject",
                    "Backup",   "--body", "done",      "--json"};
    auto withDryRun = args;
    withDryRun.push_back("--dry-run");
    const auto dry = Run(withDryRun);
    ASSERT_EQ(dry.code, kExitAccepted) << dry.err;
    EXPECT_TRUE(Outbox().empty());
    const auto sent = Run(args);
    ASSERT_EQ(sent.code, kExitAccepted) << sent.err;
    const auto stored = Outbox().front();
    EXPECT_TRUE(Contains(dry.out, "\"rawRecord\": \"" + tavo::cli::Hex(stored.rawRecord) + "\""))
        << dry.out;
    EXPECT_TRUE(Contains(dry.out, "\"result\": \"dry-run\", \"exitCode\": 0")) << dry.out;
}

TEST_F(SendCommandTest, JsonResultCarriesWhatWasSentAndEveryMessage) {
    const auto accepted = Run({"--to", "jsmith,Mjones", "--subject", "Hi", "--body",
                               "Gr\xc3\xbc\xc3\x9f \"you\"", "--modes", "fax", "--json"});
    ASSERT_EQ(accepted.code, kExitAccepted) << accepted.err;
    EXPECT_EQ(accepted.out,
              "{\"command\": \"send\", \"system\": \"Sysa\", \"kind\": \"recipients\", "
              "\"names\": [\"JSMITH\", \"MJONES\"], \"subject\": \"Hi\", \"body\": "
              "\"Gr\xc3\xbc\xc3\x9f \\\"you\\\"\", \"modes\": [\"fax\"], \"result\": "
              "\"accepted\", \"exitCode\": 0, \"messages\": []}\n");

    const auto refused = Run({"--to", "nobody,jsmith", "--json"});
    EXPECT_EQ(refused.code, kExitRefused);
    EXPECT_TRUE(Contains(refused.out, "\"result\": \"refused\", \"exitCode\": 1, \"messages\": "
                                      "[\"Unknown recipient NOBODY.\"]}\n"))
        << refused.out;
    EXPECT_EQ(refused.err, "Unknown recipient NOBODY.\n"); // and on stderr as well

    const auto invalid = Run({"--to", "jsmith", "--subject", std::string(31, 's'), "--json"});
    EXPECT_EQ(invalid.code, kExitBadInput);
    EXPECT_TRUE(Contains(invalid.out, "\"result\": \"invalid\", \"exitCode\": 2")) << invalid.out;
}

TEST_F(SendCommandTest, QuietPrintsNothingOnSuccessAndVerboseSaysWhy) {
    const auto quiet = Run({"--to", "jsmith", "--body", "b", "-q"});
    EXPECT_EQ(quiet.code, kExitAccepted);
    EXPECT_TRUE(quiet.out.empty());
    EXPECT_TRUE(quiet.err.empty());

    WriteSettings("Sysb", "YY      ");
    const auto verbose = Run({"--to", "jsmith", "--body", "b", "-v"});
    EXPECT_EQ(verbose.code, kExitAccepted);
    EXPECT_EQ(verbose.out, "Accepted by Sysb for 1 recipient by pager. Accepted is not yet "
                           "delivered: the host delivers it.\n");
    EXPECT_EQ(verbose.err, "tavo400-send: system Sysb (stored in ./dftsys.ini)\n"
                           "tavo400-send: delivery modes pager (saved in ./dftsys.ini)\n"
                           "tavo400-send: sending to Sysb\n");
}

TEST_F(SendCommandTest, HostCallFailuresExitThreeWithTheirText) {
    cwbtest::FailNext("cwbRC_StartSys", CWB_SECURITY_ERROR);
    const auto signOn = Run({"--to", "jsmith", "--body", "b"});
    EXPECT_EQ(signOn.code, kExitUnreachable);
    EXPECT_EQ(signOn.err, "Unable to obtain connection to Sysa, return code 4103\n"
                          "tavo400-send: return code 4103: the host refused the sign-on (the "
                          "user or password in the systems file)\n");

    cwbtest::FailNext("cwbRC_CallPgm", CWB_COMMUNICATIONS_ERROR, "The link to SYSA broke.", 1,
                      "TVOCUPD");
    const auto call = Run({"--to", "jsmith", "--body", "b"});
    EXPECT_EQ(call.code, kExitUnreachable);
    EXPECT_EQ(call.err, "The link to SYSA broke.\n");
    EXPECT_TRUE(Outbox().empty());
}
