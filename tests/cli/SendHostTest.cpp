// tavo400-send against the embedded host and against a tavo400-hostd on a loopback port,
// in this process: what lands in the outbox is what the window's Send command sends.
#include "CliFixture.h"

#include "Strings.h"

using namespace hostdtest;
using tavo::cli::kExitAccepted;
using tavo::cli::kExitBadInput;
using tavo::cli::kExitRefused;
using tavo::cli::kExitUnreachable;

namespace {

using Args = std::vector<std::string>;

std::string Pad(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

class SendHostTest : public CliFixture, public ::testing::WithParamInterface<std::string> {
  protected:
    void SetUp() override {
        CliFixture::SetUp();
        db = DemoDatabase(dir);
        if (GetParam() == "tcp") {
            daemon = std::make_unique<Daemon>(dir, db);
            UseHost(daemon->Address() + "\nuser = OPER\npassword = secret\ntimeout = 5");
        } else {
            UseHost("embedded\ndatabase = " + db.string());
        }
    }
    static void UseHost(const std::string& address) {
        cwbtest::UseSystems("[systems]\ndefault = SYSA\n[SYSA]\naddress = " + address + "\n");
    }
    std::vector<tavo::server::OutboxMessage> Outbox() {
        return tavo::server::HostEngine(db.string()).Outbox();
    }

    std::filesystem::path db;
    std::unique_ptr<Daemon> daemon;
};

} // namespace

INSTANTIATE_TEST_SUITE_P(Backends, SendHostTest, ::testing::Values("embedded", "tcp"));

TEST_P(SendHostTest, AcceptedSendLandsInTheOutboxAsTheWindowWouldSendIt) {
    struct Case {
        std::string to, subject, body;
        bool groups;
    } cases[] = {
        {"jsmith, mjones;ops", "Disk full", "ASP 1 is at 95%", false},
        {"OPERATORS\nnetwork", "  Server down\t(urgent)  ", "line one\r\n\r\nline two", true},
        {"smith", "", "Body  with  two  blanks", false},
        {"jones", "Caf\xc3\xa9", std::string(967, 'x'), false}, // Latin-1 and full length
        {"garciam chenl", std::string(30, 's'), "a\tb\fc", false},
    };
    for (const auto& c : cases) {
        Args args{"--to", c.to, "--subject", c.subject, "--body", c.body};
        if (c.groups)
            args.push_back("--groups");
        const auto r = Run(args);
        ASSERT_EQ(r.code, kExitAccepted) << c.to << ": " << r.err;
        EXPECT_TRUE(r.err.empty()) << r.err;
        EXPECT_TRUE(r.out.starts_with("Accepted by Sysa for ")) << r.out;
        const auto outbox = Outbox();
        ASSERT_FALSE(outbox.empty());
        std::string error;
        const auto latin1Subject = tavo::cli::Utf8ToLatin1(c.subject, error);
        EXPECT_EQ(outbox.front().rawRecord, WindowRecord(c.to, *latin1Subject, c.body, !c.groups))
            << c.to;
        EXPECT_EQ(outbox.front().groups, c.groups);
    }
    EXPECT_EQ(Outbox().size(), std::size(cases));
}

TEST_P(SendHostTest, RecordIsLaidOutFieldByField) {
    const auto r = Run({"--to", "jsmith, mjones;ops", "--subject", "Hi", "--body", "Call me",
                        "--modes", "pager,email"});
    ASSERT_EQ(r.code, kExitAccepted) << r.err;
    const std::string record = "03" + Pad("JSMITH", 10) + Pad("MJONES", 10) + Pad("OPS", 10) +
                               std::string(470, ' ') + Pad("Hi@@Call me", 999) + "*RCP" + "YY     ";
    EXPECT_EQ(Outbox().front().rawRecord, tavo::codepage::ToEbcdic(record));
}

TEST_P(SendHostTest, GroupsAreSentAsGroups) {
    const auto r = Run({"--groups", "--to", "operators", "managers", "--body", "Shift change"});
    ASSERT_EQ(r.code, kExitAccepted) << r.err;
    EXPECT_EQ(r.out, "Accepted by Sysa for 2 groups by pager, email, fax, netmsg, msgq, phone, "
                     "spool. Accepted is not yet delivered: the host delivers it.\n");
    const auto sent = Outbox().front();
    EXPECT_TRUE(sent.groups);
    EXPECT_EQ(sent.names, (std::vector<std::string>{"OPERATORS", "MANAGERS"}));

    const auto asRecipients = Run({"--to", "operators", "--body", "b"});
    EXPECT_EQ(asRecipients.code, kExitRefused);
    EXPECT_EQ(asRecipients.err, "Unknown recipient OPERATORS.\n");
}

TEST_P(SendHostTest, BodyFromStandardInput) {
    const std::string body = "Backup of LIB1 ended.\nBackup of LIB2 ended.\n";
    const auto r = Run({"--to", "ops", "--subject", "Backup"}, body, false);
    ASSERT_EQ(r.code, kExitAccepted) << r.err;
    const auto sent = Outbox().front();
    EXPECT_EQ(sent.body, "Backup of LIB1 ended. Backup of LIB2 ended.");
    EXPECT_EQ(sent.rawRecord, WindowRecord("ops", "Backup", body, true));
}

TEST_P(SendHostTest, RefusalsExitOneWithTheHostsTextsOnePerLine) {
    const auto r = Run({"--to", "nobody", "jsmith", "ghost", "--modes", "fax"});
    EXPECT_EQ(r.code, kExitRefused);
    EXPECT_EQ(r.err, "Unknown recipient NOBODY.\nUnknown recipient GHOST.\n");
    EXPECT_TRUE(r.out.empty());

    const auto empty = Run({"--to", ""});
    EXPECT_EQ(empty.code, kExitRefused);
    EXPECT_EQ(empty.err, "No recipients given.\n");
    EXPECT_TRUE(Outbox().empty());
}

TEST_P(SendHostTest, EachLimitIsRefusedInTheWindowsWordsWithNothingSent) {
    std::string fiftyOne; // short names: only their number is over
    for (int i = 0; i < 51; ++i)
        fiftyOne += "x ";
    struct Case {
        std::string to, subject, body;
    } cases[] = {
        {"jsmith", std::string(31, 's'), "b"},
        {"jsmith", "s", std::string(968, 'b')},
        {"jsmith", "s", std::string(483, 'b') + "\n" + std::string(483, 'b')}, // 968 as typed
        {"toolongname", "s", "b"},
        {fiftyOne, "s", "b"},
        {std::string(1990, ',') + "jsmith,mjones", "s", "b"}, // beyond the work area
    };
    for (const auto& c : cases) {
        const auto expected = PrepareSend(c.to, c.subject, c.body, true);
        ASSERT_FALSE(expected.submission);
        const auto r = Run({"--to", c.to, "--subject", c.subject, "--body", c.body});
        EXPECT_EQ(r.code, kExitBadInput);
        EXPECT_EQ(r.err, expected.refusal + "\n");
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 0);
    EXPECT_TRUE(Outbox().empty());
}

TEST_P(SendHostTest, ListsPrintNameAndDescriptionAsThePickerShowsThem) {
    const auto recipients = Run({"--list", "recipients"});
    ASSERT_EQ(recipients.code, kExitAccepted) << recipients.err;
    std::string expected;
    for (const auto& r : tavo::server::HostEngine(db.string()).Recipients())
        expected +=
            records::DisplayName(r.name) + "\t" + records::CleanField(r.description.c_str()) + "\n";
    EXPECT_EQ(recipients.out, expected);
    EXPECT_TRUE(recipients.out.starts_with("Adamsk\tKaren Adams, help desk\n")) << recipients.out;
    EXPECT_TRUE(recipients.out.find("Prtroom\t\n") != std::string::npos); // "*NONE" is empty

    const auto groups = Run({"--list", "groups"});
    ASSERT_EQ(groups.code, kExitAccepted) << groups.err;
    EXPECT_EQ(groups.out, "Managers\tDepartment managers\n"
                          "Network\tNetwork and communications team\n"
                          "Operators\tComputer operators, all shifts\n");

    const auto json = Run({"--list", "groups", "--json"});
    ASSERT_EQ(json.code, kExitAccepted);
    EXPECT_EQ(json.out,
              "{\"command\": \"list\", \"list\": \"groups\", \"system\": \"Sysa\", \"entries\": "
              "[{\"name\": \"Managers\", \"description\": \"Department managers\"}, {\"name\": "
              "\"Network\", \"description\": \"Network and communications team\"}, {\"name\": "
              "\"Operators\", \"description\": \"Computer operators, all shifts\"}], \"result\": "
              "\"listed\", \"exitCode\": 0, \"messages\": []}\n");
}

TEST_P(SendHostTest, UnknownSystemExitsThree) {
    for (const Args& args : {Args{"--system", "sysz", "--to", "jsmith"},
                             Args{"--system", "sysz", "--list", "recipients"}}) {
        const auto r = Run(args);
        EXPECT_EQ(r.code, kExitUnreachable);
        EXPECT_EQ(r.err, "tavo400-send: no system named \"sysz\" is configured (configured: "
                         "Sysa); nothing was sent\n");
        EXPECT_TRUE(r.out.empty());
    }
    EXPECT_TRUE(Outbox().empty());
}

TEST_P(SendHostTest, UnreachableHostExitsThree) {
    if (GetParam() == "tcp") {
        daemon->Stop();
        UseHost(daemon->Address() + "\nuser = OPER\npassword = secret\ntimeout = 2");
    } else {
        cwbtest::FailNext("cwbRC_StartSys", CWB_COMMUNICATIONS_ERROR);
    }
    const auto r = Run({"--to", "jsmith", "--body", "b"});
    EXPECT_EQ(r.code, kExitUnreachable);
    EXPECT_EQ(r.err, "Unable to obtain connection to Sysa, return code 4102\n"
                     "tavo400-send: return code 4102: the host cannot be reached, or the link "
                     "broke\n");
    EXPECT_TRUE(r.out.empty());
}

TEST_P(SendHostTest, WrongPasswordOrNoSystemExitsThree) {
    if (GetParam() == "tcp") {
        UseHost(daemon->Address() + "\nuser = OPER\npassword = wrong\ntimeout = 5");
        const auto r = Run({"--list", "recipients"});
        EXPECT_EQ(r.code, kExitUnreachable);
        EXPECT_TRUE(r.err.starts_with("Unable to obtain connection to Sysa, return code 4103\n"))
            << r.err;
    }
    cwbtest::UseSystems("[SYSA]\naddress = embedded\ndatabase = :memory:\n"); // no default
    const auto r = Run({"--to", "jsmith"});
    EXPECT_EQ(r.code, kExitUnreachable);
    EXPECT_TRUE(r.err.ends_with(LoadString(IDS_SELECT_HOST) + "\n")) << r.err;
    EXPECT_TRUE(Outbox().empty());
}
