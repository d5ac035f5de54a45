// Connecting, the one-time set-up with its reply queue, and how host errors are shown.
#include "HostFixture.h"

#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "Strings.h"

namespace {

class HostLinkTest : public HostFixture {};

} // namespace

TEST_F(HostLinkTest, ConnectsAndSetsUpOncePerSystemName) {
    { CHostLink first; }
    CHostLink second;
    EXPECT_NE(second.Connection(), 0u);
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 1);
    EXPECT_EQ(cwbtest::CountCalls("cwbSV_CreateErrHandle"), 1);
    EXPECT_TRUE(shown.shown.empty());

    // Names are cache keys byte for byte: another spelling is another connection.
    CurrentSystem = "Sysa";
    CHostLink third;
    EXPECT_NE(third.Connection(), 0u);
    EXPECT_NE(third.Connection(), second.Connection());
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 2);
}

TEST_F(HostLinkTest, NoSystemShowsSelectHostOnceAndDoesNothing) {
    CurrentSystem.clear();
    CHostLink link;
    EXPECT_FALSE(link.SubmitMessage(1, 0, "", "body", ""));
    std::vector<ListItem> items;
    int count = 0;
    EXPECT_FALSE(link.RetrieveList("*RCPL", items, count));
    ASSERT_EQ(shown.shown.size(), 1u);
    EXPECT_EQ(shown.shown[0], LoadString(IDS_SELECT_HOST));
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 0);
    EXPECT_EQ(cwbtest::CountCalls("cwbSV_CreateErrHandle"), 0);
}

TEST_F(HostLinkTest, FailedConnectIsShownAndNotCached) {
    cwbtest::FailNext("cwbRC_StartSys", 8);
    {
        CHostLink link;
        EXPECT_EQ(link.Connection(), 0u);
        EXPECT_FALSE(link.SubmitMessage(1, 0, "", "", ""));
        EXPECT_EQ(cwbtest::CountCalls("cwbRC_CallPgm"), 0); // no queue creation either
    }
    ASSERT_EQ(shown.shown.size(), 1u); // and no set-up error on top
    EXPECT_EQ(shown.shown[0], "Unable to obtain connection to SYSA, return code 8");

    shown.shown.clear();
    CHostLink again;
    EXPECT_NE(again.Connection(), 0u);
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 2);
    EXPECT_TRUE(Host().HostSetupDone);
    EXPECT_TRUE(shown.shown.empty());
}

TEST_F(HostLinkTest, MissingQueueIsCreatedOnceExistingQueueIsJustOpened) {
    { CHostLink creates; }
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_CallPgm", "TVOCGET"), 1);
    EXPECT_EQ(cwbtest::CountCalls("cwbDQ_Open"), 2);
    EXPECT_EQ(std::string(Host().Areas.listRequest, 10), "*CRTDTAQ  ");

    RestartProcess();
    CHostLink opens;
    EXPECT_TRUE(Host().HostSetupDone);
    EXPECT_NE(opens.Queue(), 0u);
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_CallPgm", "TVOCGET"), 0);
    EXPECT_EQ(cwbtest::CountCalls("cwbDQ_Open"), 1);
    EXPECT_TRUE(shown.shown.empty());
}

TEST_F(HostLinkTest, FailedQueueCreationIsShownAndTheSetUpRunsAgain) {
    cwbtest::FailNext("cwbRC_CallPgm", CWBRC_HOST_PROGRAM_ERROR, "Not authorised to create queues.",
                      1, "TVOCGET");
    {
        CHostLink link;
        EXPECT_FALSE(Host().HostSetupDone);
        ASSERT_EQ(shown.shown.size(), 1u);
        EXPECT_EQ(shown.shown[0], "Not authorised to create queues.");
        EXPECT_TRUE(link.SubmitMessage(1, 1, "SMITH     ", "body", "")); // needs no queue
    }
    CHostLink next;
    EXPECT_TRUE(Host().HostSetupDone);
    EXPECT_EQ(cwbtest::CountCalls("cwbSV_CreateErrHandle"), 2);
}

TEST_F(HostLinkTest, ShowHostErrorShowsTheLastTextCutToItsArea) {
    CHostLink link;
    for (const std::string& text : {std::string("only"), std::string(400, 'e')}) {
        cwbtest::FailNext("cwbRC_CallPgm", 1, text);
        cwbRC_CallPgm(link.Connection(), Host().ListProgram, Host().ErrorHandle);
        ShowHostError();
    }
    EXPECT_EQ(shown.shown, (std::vector<std::string>{"only", std::string(259, 'e')}));

    cwbSV_CreateErrHandle(&Host().ErrorHandle); // holds no text: nothing is shown
    ShowHostError();
    EXPECT_EQ(shown.shown.size(), 2u);
}

// The embedded host is in this process, so the link stands; each call then says which
// file cannot be opened and why, and the next link tries again.
TEST_F(HostLinkTest, EmbeddedDatabaseThatCannotBeOpenedSaysWhereAndWhy) {
    namespace fs = std::filesystem;
    const auto dir = fs::temp_directory_path() / ("tavo-nodb-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "folder");
    std::ofstream(dir / "file") << "x";
    const std::pair<fs::path, std::string> cases[] = {
        {dir / "folder", "it is a folder"},
        {dir / "file" / "host.db",
         "cannot create its folder " + (dir / "file").string() + ": Not a directory"},
    };
    for (const auto& [path, why] : cases) {
        RestartProcess();
        cwbtest::UseSystems("[SYSA]\naddress = embedded\ndatabase = " + path.string() + "\n");
        {
            CHostLink link;
            EXPECT_FALSE(link.SubmitMessage(1, 0, "", "body", ""));
        }
        ASSERT_FALSE(shown.shown.empty());
        for (const auto& text : shown.shown)
            EXPECT_EQ(text, "Cannot open the host database '" + path.string() + "': " + why);
    }
    fs::remove(dir / "file");
    RestartProcess();
    CHostLink repaired;
    EXPECT_TRUE(Host().HostSetupDone);
    EXPECT_TRUE(shown.shown.empty());
    fs::remove_all(dir);
}
