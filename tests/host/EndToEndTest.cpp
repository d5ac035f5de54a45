#include "HostFixture.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

// The real path: a systems file on disk, the embedded DEMO host in a database file.
class EndToEndTest : public HostFixture {
  protected:
    void SetUp() override {
        HostFixture::SetUp();
        dir = std::filesystem::temp_directory_path() /
              ("tavo-e2e-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        ::setenv("XDG_DATA_HOME", dir.c_str(), 1);
        ::setenv("TAVO400_SYSTEMS", (dir / "missing.ini").c_str(), 1);
        cwbtest::UseSystemsFile();
    }
    void TearDown() override {
        ::unsetenv("XDG_DATA_HOME");
        ::unsetenv("TAVO400_SYSTEMS");
        HostFixture::TearDown();
        std::filesystem::remove_all(dir);
    }
    std::filesystem::path dir;
};

} // namespace

TEST_F(EndToEndTest, BuiltInDemoSendsAndListsThroughItsDatabaseFile) {
    ::unsetenv("TAVO400_SYSTEMS");
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1); // no systems file there
    CurrentSystem = "Demo";                      // the normalised name reaches DEMO
    {
        CHostLink link;
        ASSERT_NE(link.Connection(), 0u);
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
    EXPECT_TRUE(shown.shown.empty()) << shown.shown.front();
    ASSERT_TRUE(std::filesystem::exists(dir / "tavo400" / "demo.db"));
    // the message is in the database, for anyone who opens it afterwards
    tavo::server::HostEngine reopened((dir / "tavo400" / "demo.db").string());
    auto outbox = reopened.Outbox();
    ASSERT_EQ(outbox.size(), 1u);
    EXPECT_EQ(outbox[0].names, (std::vector<std::string>{"JSMITH", "MJONES"}));
    EXPECT_EQ(outbox[0].subject, "Alert");
    EXPECT_EQ(outbox[0].body, "Disk full on SYS1");
}

TEST_F(EndToEndTest, SystemsFileNamesTheHost) {
    {
        std::ofstream ini(dir / "systems.ini");
        ini << "[systems]\ndefault = SITE\n[SITE]\naddress = embedded\ndatabase = "
            << (dir / "site.db").string() << "\n";
    }
    ::setenv("TAVO400_SYSTEMS", (dir / "systems.ini").c_str(), 1);
    CurrentSystem = "Site";
    CHostLink link;
    EXPECT_TRUE(link.SubmitMessage(0, 1, "operators ", "Shift change", ""));
    EXPECT_TRUE(shown.shown.empty());
    EXPECT_TRUE(std::filesystem::exists(dir / "site.db"));
}

TEST_F(EndToEndTest, MissingNamedSystemsFileIsACodeNotACrash) {
    CurrentSystem = "Demo";
    CHostLink link;
    ASSERT_EQ(shown.shown.size(), 1u);
    EXPECT_EQ(shown.shown[0], "Unable to obtain connection to Demo, return code " +
                                  std::to_string(CWB_CONFIG_ERROR));
}
