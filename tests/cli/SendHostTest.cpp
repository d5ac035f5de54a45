// tavo400-send against an embedded host in a database file, in this process: what lands
// in the outbox is what the window's Send command sends.
#include "CliFixture.h"

#include <sqlite3.h>

#include "Strings.h"

using namespace hostdtest;

namespace {

class SendHostTest : public CliFixture {
  protected:
    void SetUp() override {
        CliFixture::SetUp();
        cwbtest::UseSystems("[systems]\ndefault = SYSA\n[SYSA]\naddress = embedded\ndatabase = " +
                            db.string() + "\n");
    }
    std::vector<tavo::server::OutboxMessage> Outbox() {
        return tavo::server::HostEngine(db.string()).Outbox();
    }

    std::filesystem::path db = DemoDatabase(daemonDir);
};

} // namespace

TEST_F(SendHostTest, AcceptedSendIsTheRecordTheWindowWouldSend) {
    const std::string piped = "Backup of LIB1 ended.\nBackup of LIB2 ended.\n";
    struct Case {
        Args args;
        std::string input, record;
    } cases[] = {
        {{"--groups", "--to", "OPERATORS\nnetwork", "--subject", "  Server down\t(urgent)  ",
          "--body", "line one\r\n\r\nline two", "--modes", "pager,email"},
         "",
         WindowRecord("OPERATORS\nnetwork", "  Server down\t(urgent)  ", "line one\r\n\r\nline two",
                      false, "YY")},
        {{"--to", "ops", "--subject", "Backup"}, piped, WindowRecord("ops", "Backup", piped, true)},
        {{"--to", "jones", "--subject", "Caf\xc3\xa9", "--body", std::string(967, 'x')},
         "",
         WindowRecord("jones", "Caf\xe9", std::string(967, 'x'), true)},
    };
    for (const auto& c : cases) {
        const auto r = Run(c.args, c.input, c.input.empty());
        ASSERT_EQ(r.code, kExitAccepted) << r.err;
        EXPECT_TRUE(r.err.empty()) << r.err;
        EXPECT_EQ(Outbox().front().rawRecord, c.record) << c.args[1];
    }
    EXPECT_EQ(Outbox().back().names, (std::vector<std::string>{"OPERATORS", "NETWORK"}));
    EXPECT_TRUE(Outbox().back().groups);
}

TEST_F(SendHostTest, ListsPrintNameAndDescriptionAsThePickerShowsThem) {
    const auto recipients = Run({"--list", "recipients"});
    ASSERT_EQ(recipients.code, kExitAccepted) << recipients.err;
    std::string expected;
    for (const auto& r : tavo::server::HostEngine(db.string()).Recipients())
        expected += tavo::text::DisplayName(r.name) + "\t" +
                    records::CleanField(r.description.c_str()) + "\n";
    EXPECT_EQ(recipients.out, expected);
    EXPECT_TRUE(recipients.out.starts_with("Adamsk\tKaren Adams, help desk\n")) << recipients.out;
    EXPECT_TRUE(Contains(recipients.out, "Prtroom\t\n")); // "*NONE" is empty

    const auto groups = Run({"--list", "groups", "--json"});
    ASSERT_EQ(groups.code, kExitAccepted);
    EXPECT_EQ(groups.out,
              "{\"command\": \"list\", \"list\": \"groups\", \"system\": \"Sysa\", \"entries\": "
              "[{\"name\": \"Managers\", \"description\": \"Department managers\"}, {\"name\": "
              "\"Network\", \"description\": \"Network and communications team\"}, {\"name\": "
              "\"Operators\", \"description\": \"Computer operators, all shifts\"}], \"result\": "
              "\"listed\", \"exitCode\": 0, \"messages\": []}\n");

    // a hostile host's words reach a terminal as text, never as escape sequences
    sqlite3* host = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &host), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(host,
                           "UPDATE recipients SET description = 'a' || char(27) || ']0;x' || "
                           "char(7) WHERE name = 'JSMITH'",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(host);
    EXPECT_TRUE(Contains(Run({"--list", "recipients"}).out, "\nJsmith\ta\\x1b]0;x\\x07\n"));
    EXPECT_TRUE(Contains(Run({"--list", "recipients", "--json"}).out,
                         R"("description": "a\u001b]0;x\u0007")"));
}

TEST_F(SendHostTest, HostThatCannotBeReachedExitsThree) {
    // refused unchecked, against guessing: each says what to do
    for (const unsigned rc :
         {CWB_USER_LOCKED_OUT, CWB_SIGNON_DELAYED, CWB_HOST_BUSY, CWB_PASSWORD_LEVEL_LOWERED}) {
        cwbtest::FailNext("cwbRC_StartSys", rc);
        const auto refused = Run({"--to", "jsmith", "--body", "b"});
        EXPECT_EQ(refused.code, kExitUnreachable);
        EXPECT_TRUE(Contains(refused.err, std::to_string(rc) + ": the host ")) << refused.err;
    }
    EXPECT_EQ(Run({"--accept-password-level", "--to", "jsmith"}).code, kExitAccepted);
    EXPECT_EQ(cwbtest::CountCalls("cwbCO_AcceptPasswordLevel", "Sysa"), 1);
    cwbtest::FailNext("cwbRC_StartSys", CWB_COMMUNICATIONS_ERROR);
    const auto down = Run({"--to", "jsmith", "--body", "b"});
    EXPECT_EQ(down.code, kExitUnreachable);
    EXPECT_TRUE(down.err.ends_with("\ntavo400-send: return code 4102: the host cannot be reached, "
                                   "or the link broke\n"))
        << down.err;
    EXPECT_TRUE(down.out.empty());

    cwbtest::UseSystems("[systems]\n"); // no system at all
    const auto none = Run({"--to", "jsmith"});
    EXPECT_EQ(none.code, kExitUnreachable);
    EXPECT_TRUE(none.err.ends_with(LoadString(IDS_SELECT_HOST) + "\n")) << none.err;

    // a systems file in UTF-8 is quoted in UTF-8
    cwbtest::UseSystems("[Z\xc3\xbcrich]\naddress = embedded\n");
    const auto named = Run({"--to", "jsmith"});
    EXPECT_EQ(named.code, kExitUnreachable);
    EXPECT_TRUE(Contains(named.err, "'Z\xc3\xbcrich' is not a system name")) << named.err;
}
