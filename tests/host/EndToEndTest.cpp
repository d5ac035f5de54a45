// The real path with no configuration: the built-in DEMO host in its database file.
#include "HostFixture.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

TEST_F(HostFixture, BuiltInDemoSendsAndListsThroughItsDatabaseFile) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("tavo-e2e-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    ::setenv("XDG_DATA_HOME", dir.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1); // no systems file there
    ::unsetenv("TAVO400_SYSTEMS");
    cwbtest::UseSystemsFile();
    CurrentSystem = "Demo"; // the normalised name reaches DEMO
    {
        CHostLink link;
        EXPECT_TRUE(link.SubmitMessage(1, 2, "jsmith    mjones    ", "Disk full on SYS1", "Alert"));
        std::vector<ListItem> recipients, groups;
        int recipientCount = 0, groupCount = 0;
        EXPECT_TRUE(link.RetrieveList("*RCPL", recipients, recipientCount));
        EXPECT_TRUE(link.RetrieveList("*GRPL", groups, groupCount));
        EXPECT_GE(recipientCount, 10);
        EXPECT_EQ(groupCount, 3);
        EXPECT_TRUE(std::any_of(recipients.begin(), recipients.end(),
                                [](const ListItem& i) { return i.name == "JSMITH"; }));
    }
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_TRUE(shown.shown.empty()) << shown.shown.front();
    // the message is in the database, for anyone who opens it afterwards
    const auto outbox = tavo::server::HostEngine((dir / "tavo400" / "demo.db").string()).Outbox();
    ASSERT_EQ(outbox.size(), 1u);
    EXPECT_EQ(outbox[0].names, (std::vector<std::string>{"JSMITH", "MJONES"}));
    EXPECT_EQ(outbox[0].subject, "Alert");
    EXPECT_EQ(outbox[0].body, "Disk full on SYS1");
    std::filesystem::remove_all(dir);
}
