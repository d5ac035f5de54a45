// tavo400-send in this process on two embedded hosts with the demo directory: the
// command line, the body's sources, the checks before any host call, the choice of system
// and modes, the dry run and the JSON result.
#include "CliFixture.h"

#include <sys/stat.h>

#include "Strings.h"

namespace {

class SendCommandTest : public CliFixture {
  protected:
    void SetUp() override {
        CliFixture::SetUp();
        cwbtest::UseSystems("[systems]\ndefault = SYSA\n"
                            "[SYSA]\naddress = embedded\ndatabase = :memory:\n"
                            "[SYSB]\naddress = embedded\ndatabase = :memory:\n");
        for (const char* system : {"SYSA", "SYSB"})
            cwbtest::Engine(system)->SeedDemoDirectory();
    }
    std::vector<tavo::server::OutboxMessage> Outbox(const char* system = "SYSA") {
        return cwbtest::Engine(system)->Outbox();
    }
};

} // namespace

TEST_F(SendCommandTest, BadUsageOrInputExitsTwoBeforeTheHost) {
    std::ofstream("body.txt") << "x";
    ASSERT_EQ(::mkfifo("body.fifo", 0600), 0); // opened for reading, it would wait for a writer
    struct Case {
        Args args;
        std::string input;
        std::string said;
    } cases[] = {
        {{}, "", "--to NAMES"},
        {{"--to", "jsmith", "--bogus"}, "", "--bogus"},
        {{"--list", "printers"}, "", "printers"},
        {{"--list", "recipients", "--to", "jsmith"}, "", "--to"},
        {{"--to", "jsmith", "--quiet", "--verbose"}, "", "--verbose"},
        {{"--to", "jsmith", "--config", "no-such.ini"}, "", "no-such.ini"},
        {{"--to", "jsmith", "--body", "x", "--body-file", "body.txt"},
         "",
         "the body is given twice"},
        {{"--to", "jsmith", "--body-file", "missing.txt"},
         "",
         "cannot read --body-file missing.txt"},
        {{"--to", "jsmith", "--body-file", "."}, "", "is a directory"},
        {{"--to", "jsmith", "--body-file", "body.fifo"}, "", "body.fifo is a FIFO"},
        {{"--to", "jsmith", "--body-file", "/dev/null"}, "", "is a device"},
        {{"--to", "jsmith"}, std::string(64 * 1024 + 1, 'x'), "more than 65536 bytes"},
        {{"--to", "jsmith"}, std::string("before\0after", 12), "NUL byte at character 7"},
        {{"--to", "jsmith", "--body", "caf\xc3"}, "", "not valid UTF-8 (byte 4)"},
        {{"--to", "jsmith", "--modes", "pager,pigeon"}, "", "unknown delivery mode \"pigeon\""},
        {{"--to", "jsmith", "--modes", ""}, "", LoadString(IDS_SELECT_DELIVERY_MODE)},
        {{"--to", "jsmith", "--body", "--dry-run"}, "", "write --body=--dry-run if"},
        // the window's own checks, in their words
        {{"--to", "toolongname"}, "", PrepareSend("toolongname", "", "", true).refusal + "\n"},
    };
    for (const auto& c : cases) {
        const auto r = Run(c.args, c.input, false);
        EXPECT_EQ(r.code, kExitBadInput) << c.said;
        EXPECT_TRUE(Contains(r.err, c.said)) << r.err;
    }
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 0);
    EXPECT_TRUE(Outbox().empty());

    const auto help = Run({"--help"});
    EXPECT_EQ(help.code, kExitAccepted);
    EXPECT_TRUE(Contains(help.out, "Exit status:")) << help.out;
}

// As the window's fields take it: one "?" each, the limit counting each character once,
// and the Unicode line breaks flattened like any other.
TEST_F(SendCommandTest, WhatLatin1CannotCarryIsSentAsQuestionMarksAndSaidUnlessQuiet) {
    const std::string emoji = "\xf0\x9f\x98\x80";
    const Args args{"--to",      "jsmith\xe2\x80\xa8ops",
                    "--subject", std::string(29, 's') + emoji,
                    "--body",    "5 \xe2\x82\xac\xc2\x85" + emoji};
    const auto said = Run(args);
    ASSERT_EQ(said.code, kExitAccepted) << said.err;
    EXPECT_EQ(said.err, "tavo400-send: --subject holds a character that Latin-1 cannot carry "
                        "(U+1F600 at character 30); it is sent as \"?\"\n"
                        "tavo400-send: the body holds 2 characters that Latin-1 cannot carry (the "
                        "first: U+20AC at character 3); each is sent as \"?\"\n");
    const auto sent = Outbox().front();
    EXPECT_EQ(sent.names, (std::vector<std::string>{"JSMITH", "OPS"}));
    EXPECT_EQ(sent.subject, std::string(29, 's') + "?");
    EXPECT_EQ(sent.body, "5 ? ?");

    auto quiet = args;
    quiet.push_back("-q");
    const auto silent = Run(quiet);
    EXPECT_EQ(silent.code, kExitAccepted);
    EXPECT_EQ(silent.out + silent.err, "");
    EXPECT_EQ(Outbox().size(), 2u);
}

TEST_F(SendCommandTest, BodyComesFromOneSourceOnly) {
    std::ofstream("body.txt") << "from the file\n";
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
        {{}, std::string(kBodyLimit, 'b') + "\n", false, std::string(kBodyLimit, 'b')},
    };
    for (const auto& c : cases) {
        Args args{"--to", "jsmith", "--subject", "s"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const auto r = Run(args, c.input, c.terminal);
        ASSERT_EQ(r.code, kExitAccepted) << r.err;
        EXPECT_EQ(Outbox().front().body, c.body);
    }
}

TEST_F(SendCommandTest, DeliveryModesComeFromTheSettingsFileOrTheCommandLine) {
    struct Case {
        std::string settings; // flag bytes after the name; empty: no file
        Args modes;
        std::string sent; // the seven mode bytes of the record
    } cases[] = {
        {"", {}, "YYYYYYY"},
        {"YY Y    ", {}, "Y Y    "},                  // saved: pager and fax
        {"YY Y    ", {"--modes", "msgq"}, "    Y  "}, // the command line wins
        {"", {"--modes", "phone,PAGER", "--modes", "spool"}, "Y    YY"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove("dftsys.ini");
        if (!c.settings.empty())
            WriteSettings("Sysa", c.settings);
        Args args{"--to", "jsmith", "--body", "b"};
        args.insert(args.end(), c.modes.begin(), c.modes.end());
        ASSERT_EQ(Run(args).code, kExitAccepted);
        EXPECT_EQ(Outbox().front().modes, c.sent) << c.settings;
    }
}

TEST_F(SendCommandTest, SystemIsChosenAsTheWindowStartsOrByName) {
    struct Case {
        std::string stored; // in dftsys.ini; empty: no file
        Args args;
        const char* lands; // the host that gets the message
    } cases[] = {
        {"Sysb", {}, "SYSB"},                   // stored and configured, as the window starts
        {"Sysb", {"--system", "sysa"}, "SYSA"}, // by name, in any case
    };
    int sent = 0;
    for (const auto& c : cases) {
        std::filesystem::remove("dftsys.ini");
        if (!c.stored.empty())
            WriteSettings(c.stored, "N");
        Args args{"--to", "jsmith", "--body", std::to_string(sent)};
        args.insert(args.end(), c.args.begin(), c.args.end());
        ASSERT_EQ(Run(args).code, kExitAccepted);
        EXPECT_EQ(Outbox(c.lands).front().body, std::to_string(sent++)) << c.stored;
    }
    // naming a system needs no default
    cwbtest::UseSystems("[SYSB]\naddress = embedded\ndatabase = :memory:\n");
    EXPECT_EQ(Run({"--system", "sysb", "--to", "jsmith", "--body", "b"}).code, kExitAccepted);
    EXPECT_EQ(Outbox("SYSB").size(), 2u);
}

TEST_F(SendCommandTest, DryRunShowsTheRecordThatIsThenSent) {
    const auto r = Run({"--to", "jsmith, ops", "--subject", "Disk\tfull", "--body",
                        "line one\n\nline two", "--modes", "pager,email", "--dry-run"});
    ASSERT_EQ(r.code, kExitAccepted) << r.err;
    for (const char* line : {"system    Sysa\n", "kind      recipients (*RCP)\n",
                             "names     2: [jsmith    ] [ops       ]\n", "subject   Disk full\n",
                             "body      line one line two\n", "modes     pager email\n",
                             "0000  f0 f2 d1 e2 d4 c9 e3 c8 40 40 40 40 d6 d7 e2 40  "})
        EXPECT_TRUE(Contains(r.out, line)) << line << r.out;
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 0);

    const Args args{"--groups", "--to", "operators", "--body", "done", "--json"};
    auto withDryRun = args;
    withDryRun.push_back("--dry-run");
    const auto dry = Run(withDryRun);
    ASSERT_EQ(dry.code, kExitAccepted) << dry.err;
    EXPECT_TRUE(Outbox().empty());
    ASSERT_EQ(Run(args).code, kExitAccepted);
    EXPECT_TRUE(Contains(dry.out, "\"rawRecord\": \"" + tavo::cli::Hex(Outbox()[0].rawRecord) +
                                      "\", \"result\": \"dry-run\", \"exitCode\": 0"))
        << dry.out;
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

    // the host's reasons, in the result and on stderr as well
    const auto refused = Run({"--to", "nobody,jsmith", "--json"});
    const auto reasons = Submit({1, 1, "NOBODY    ", "", ""}).texts;
    ASSERT_EQ(reasons.size(), 1u);
    const auto reason = reasons[0].substr(0, reasons[0].size() - 1); // its line end
    EXPECT_EQ(refused.code, kExitRefused);
    EXPECT_TRUE(Contains(refused.out, "\"result\": \"refused\", \"exitCode\": 1, \"messages\": "
                                      "[\"" +
                                          reason + "\"]}\n"))
        << refused.out;
    EXPECT_EQ(refused.err, "  " + reason + "\n"); // indented: a host cannot forge our lines
}

TEST_F(SendCommandTest, VerboseSaysWhy) {
    WriteSettings("Sysb", "YY      ");
    const auto verbose = Run({"--to", "jsmith", "--body", "b", "-v"});
    EXPECT_EQ(verbose.code, kExitAccepted);
    EXPECT_EQ(verbose.out, "Accepted by Sysb for 1 recipient by pager. Accepted is not yet "
                           "delivered: the host delivers it.\n");
    EXPECT_EQ(verbose.err, "tavo400-send: system Sysb (stored in ./dftsys.ini)\n"
                           "tavo400-send: delivery modes pager (saved in ./dftsys.ini)\n"
                           "tavo400-send: sending to Sysb\n");
}

// A failed call exits 3 with the layer's words; a hostile host's words reach a terminal as
// text, never as escape sequences, and the JSON result carries them in its own escaping.
TEST_F(SendCommandTest, HostCallFailuresExitThreeWithTheirTextEscaped) {
    const std::string broke = "Link \x1b[2J\x9b broke.";
    for (const bool json : {false, true}) {
        cwbtest::FailNext("cwbRC_CallPgm", CWB_COMMUNICATIONS_ERROR, broke, 1, "TVOCUPD");
        Args args{"--to", "jsmith", "--body", "b"};
        if (json)
            args.push_back("--json");
        const auto r = Run(args);
        EXPECT_EQ(r.code, kExitUnreachable);
        EXPECT_EQ(r.err, "  Link \\x1b[2J\\x9b broke.\n");
        EXPECT_EQ(Contains(r.out, R"(["Link \u001b[2J\u009b broke."])"), json) << r.out;
    }
    EXPECT_TRUE(Outbox().empty());

    const auto unknown = Run({"--system", "sysz", "--list", "recipients"});
    EXPECT_EQ(unknown.code, kExitUnreachable);
    EXPECT_EQ(unknown.err, "tavo400-send: no system named \"sysz\" is configured (configured: "
                           "Sysa, Sysb); nothing was sent\n");
}
