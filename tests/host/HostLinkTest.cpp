#include "HostFixture.h"

#include "Strings.h"

namespace {

const std::string kSelectHost =
    "Please select a host AS/400 before attempting to send a message.  If no systems are shown, "
    "please verify that at least one AS/400 is defined in Client Access.";

class HostLinkTest : public HostFixture {};

} // namespace

TEST_F(HostLinkTest, ConnectsOncePerSystemName) {
    CurrentSystem = "SYSA";
    {
        CHostLink first;
        EXPECT_NE(first.Connection(), 0u);
    }
    CHostLink second;
    EXPECT_NE(second.Connection(), 0u);
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 1);
    EXPECT_TRUE(shown.shown.empty());

    // Names are cache keys byte for byte: another spelling is another connection.
    CurrentSystem = "Sysa";
    CHostLink third;
    EXPECT_NE(third.Connection(), 0u);
    EXPECT_NE(third.Connection(), second.Connection());
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 2);
    EXPECT_EQ(Host().SystemHandleMap.size(), 2u);
}

TEST_F(HostLinkTest, NoSystemShowsSelectHostOnceAndDoesNothing) {
    CHostLink link;
    ASSERT_EQ(shown.shown.size(), 1u);
    EXPECT_EQ(shown.shown[0], kSelectHost);
    EXPECT_EQ(link.Connection(), 0u);
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 0);
    EXPECT_EQ(cwbtest::CountCalls("cwbSV_CreateErrHandle"), 0);
    EXPECT_FALSE(Host().HostSetupDone);
    // and nothing more when the operation runs
    EXPECT_FALSE(link.SubmitMessage(1, 0, "", "body", ""));
    std::vector<ListItem> items;
    int count = 0;
    EXPECT_FALSE(link.RetrieveList("*RCPL", items, count));
    EXPECT_EQ(shown.shown.size(), 1u);
}

TEST_F(HostLinkTest, FailedConnectIsShownAndNotCached) {
    CurrentSystem = "SYSA";
    cwbtest::FailNext("cwbRC_StartSys", 8);
    {
        CHostLink link;
        EXPECT_EQ(link.Connection(), 0u);
        ASSERT_FALSE(shown.shown.empty());
        EXPECT_EQ(shown.shown[0], "Unable to obtain connection to SYSA, return code 8");
        EXPECT_TRUE(Host().SystemHandleMap.empty());
        // the set-up still ran; the queue open needs no connection, creating the queue does
        EXPECT_EQ(cwbtest::CountCalls("cwbSV_CreateErrHandle"), 1);
        EXPECT_EQ(cwbtest::CountCalls("cwbRC_CallPgm"), 0);
        EXPECT_FALSE(Host().HostSetupDone);
        EXPECT_FALSE(link.SubmitMessage(1, 0, "", "", ""));
    }
    EXPECT_EQ(shown.shown.size(), 1u); // no set-up error without a connection

    shown.shown.clear();
    CHostLink again;
    EXPECT_NE(again.Connection(), 0u);
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 2);
    EXPECT_TRUE(Host().HostSetupDone);
    EXPECT_TRUE(shown.shown.empty());
}

TEST_F(HostLinkTest, UnknownSystemGivesItsCode) {
    CurrentSystem = "Nosuch";
    CHostLink link;
    ASSERT_EQ(shown.shown.size(), 1u);
    EXPECT_EQ(shown.shown[0], "Unable to obtain connection to Nosuch, return code " +
                                  std::to_string(CWB_UNKNOWN_SYSTEM));
}

TEST_F(HostLinkTest, MissingQueueIsCreatedWithOneRequestAndTwoOpens) {
    CurrentSystem = "SYSA";
    CHostLink link;
    EXPECT_TRUE(Host().HostSetupDone);
    EXPECT_NE(link.Queue(), 0u);
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_CallPgm", "TVOCGET"), 1);
    EXPECT_EQ(cwbtest::CountCalls("cwbDQ_Open"), 2);
    // the request was "*CRTDTAQ"
    EXPECT_EQ(std::string(Host().Areas.listRequest, 10), "*CRTDTAQ  ");
    EXPECT_TRUE(shown.shown.empty());
}

TEST_F(HostLinkTest, ExistingQueueNeverCallsTheListProgram) {
    CurrentSystem = "SYSA";
    { CHostLink creates; }
    RestartProcess();
    CurrentSystem = "SYSA";
    CHostLink link;
    EXPECT_TRUE(Host().HostSetupDone);
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_CallPgm", "TVOCGET"), 0);
    EXPECT_EQ(cwbtest::CountCalls("cwbDQ_Open"), 1);
}

TEST_F(HostLinkTest, SetUpRunsOnceAfterSuccess) {
    CurrentSystem = "SYSA";
    { CHostLink first; }
    { CHostLink second; }
    EXPECT_EQ(cwbtest::CountCalls("cwbSV_CreateErrHandle"), 1);
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_CreatePgm"), 2);
}

TEST_F(HostLinkTest, FailedQueueCreationShowsTheHostTextAndIsRepeated) {
    CurrentSystem = "SYSA";
    cwbtest::FailNext("cwbRC_CallPgm", CWBRC_HOST_PROGRAM_ERROR, "Not authorised to create queues.",
                      1, "TVOCGET");
    {
        CHostLink link;
        EXPECT_FALSE(Host().HostSetupDone);
        EXPECT_EQ(link.Queue(), 0u);
        ASSERT_EQ(shown.shown.size(), 1u);
        EXPECT_EQ(shown.shown[0], "Not authorised to create queues.");
        // sending works without the queue
        EXPECT_TRUE(link.SubmitMessage(1, 1, "SMITH     ", "body", "subject"));
    }
    CHostLink next;
    EXPECT_TRUE(Host().HostSetupDone);
    EXPECT_EQ(cwbtest::CountCalls("cwbSV_CreateErrHandle"), 2);
    EXPECT_EQ(cwbtest::CountCalls("cwbDQ_Open"), 1 + 2);
}

TEST_F(HostLinkTest, ReadObjectFailureFailsTheSetUp) {
    CurrentSystem = "SYSA";
    cwbtest::FailNext("cwbDQ_CreateData", 1);
    CHostLink link;
    EXPECT_FALSE(Host().HostSetupDone);
    EXPECT_EQ(link.Queue(), 0u);
}

TEST_F(HostLinkTest, ShowHostErrorShowsTheNextToLastOfSeveralTexts) {
    CurrentSystem = "SYSA";
    CHostLink link;
    const auto handle = Host().ErrorHandle;
    // one text: index 1
    cwbtest::FailNext("cwbRC_CallPgm", 1, "only");
    cwbRC_CallPgm(link.Connection(), Host().ListProgram, handle);
    ShowHostError();
    ASSERT_EQ(shown.shown.size(), 1u);
    EXPECT_EQ(shown.shown.back(), "only");
    // no text: nothing shown
    shown.shown.clear();
    cwbSV_ErrHandle empty = 0;
    cwbSV_CreateErrHandle(&empty);
    Host().ErrorHandle = empty;
    ShowHostError();
    EXPECT_TRUE(shown.shown.empty());
    Host().ErrorHandle = handle;
}

TEST_F(HostLinkTest, TextLongerThanTheShownAreaIsCutNotLost) {
    CurrentSystem = "SYSA";
    CHostLink link;
    cwbtest::FailNext("cwbRC_CallPgm", 1, std::string(400, 'e'));
    cwbRC_CallPgm(link.Connection(), Host().ListProgram, Host().ErrorHandle);
    ShowHostError();
    ASSERT_EQ(shown.shown.size(), 1u);
    EXPECT_EQ(shown.shown[0], std::string(259, 'e'));
}
