// The real path with no configuration: the built-in DEMO host in its database file.
#include "HostFixture.h"

#include "HostdProcess.h"

TEST_F(HostFixture, BuiltInDemoSendsAndListsThroughItsDatabaseFile) {
    const hostdtest::ScopedEnv data("XDG_DATA_HOME", dir.string()),
        config("XDG_CONFIG_HOME", dir.string()), // no systems file there
        systems("TAVO400_SYSTEMS", std::nullopt);
    cwbtest::UseSystemsFile();
    CurrentSystem = "Demo"; // the normalised name reaches DEMO
    const auto sent = Submit({1, 2, "jsmith    mjones    ", "Disk full on SYS1", "Alert"});
    const auto recipients = FetchList(ListKind::Recipients);
    const auto groups = FetchList(ListKind::Groups);
    EXPECT_TRUE(sent.Done() && recipients.Done() && groups.Done());
    EXPECT_GE(recipients.entries.size(), 10u);
    EXPECT_EQ(groups.entries.size(), 3u);
    // the message is in the database, for anyone who opens it afterwards
    const auto outbox = tavo::server::HostEngine((dir / "tavo400" / "demo.db").string()).Outbox();
    ASSERT_EQ(outbox.size(), 1u);
    EXPECT_EQ(outbox[0].names, (std::vector<std::string>{"JSMITH", "MJONES"}));
    EXPECT_EQ(outbox[0].subject, "Alert");
    EXPECT_EQ(outbox[0].body, "Disk full on SYS1");
}
