// Connecting, the one-time set-up with its reply queue, and what a failure tells.
#include "HostFixture.h"

#include <fstream>

#include "Strings.h"

namespace {
class HostLinkTest : public HostFixture {};
const Submission kToSmith{1, 1, "SMITH     ", "body", ""};
} // namespace

TEST_F(HostLinkTest, ConnectsAndSetsUpOncePerSystemName) {
    { CHostLink first; }
    CHostLink second;
    EXPECT_NE(second.Connection(), 0u);
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 1);
    EXPECT_EQ(cwbtest::CountCalls("cwbSV_CreateErrHandle"), 1);
    EXPECT_TRUE(second.LastOutcome().texts.empty());

    // Names are cache keys byte for byte: another spelling is another connection.
    CurrentSystem = "Sysa";
    CHostLink third;
    EXPECT_NE(third.Connection(), 0u);
    EXPECT_NE(third.Connection(), second.Connection());
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 2);
}

TEST_F(HostLinkTest, WithoutASystemOrAConnectionNothingIsTried) {
    CurrentSystem.clear();
    auto outcome = Submit(kToSmith);
    EXPECT_EQ(outcome.cause, Outcome::Cause::NoSystem);
    EXPECT_EQ(outcome.texts, Texts{LoadString(IDS_SELECT_HOST)});
    EXPECT_EQ(FetchList(ListKind::Recipients).outcome.texts, Texts{LoadString(IDS_SELECT_HOST)});
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 0);
    EXPECT_EQ(cwbtest::CountCalls("cwbSV_CreateErrHandle"), 0);

    // A failed connect is not kept: the next link connects.
    CurrentSystem = "SYSA";
    cwbtest::FailNext("cwbRC_StartSys", 8);
    outcome = Submit(kToSmith);
    EXPECT_EQ(outcome.result, Outcome::Result::NotDone);
    EXPECT_EQ(outcome.cause, Outcome::Cause::Connection);
    EXPECT_EQ(outcome.returnCode, 8u);
    // no set-up at all: opening the reply queue would sign on again, and each refusal
    // counts against the user profile
    EXPECT_EQ(outcome.texts, Texts{"Unable to obtain connection to SYSA, return code 8"});
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_CallPgm"), 0);
    EXPECT_EQ(cwbtest::CountCalls("cwbDQ_Open"), 0);
    EXPECT_EQ(cwbtest::CountCalls("cwbSV_CreateErrHandle"), 0);
    EXPECT_TRUE(Submit(kToSmith).Done());
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_StartSys"), 2);
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
}

TEST_F(HostLinkTest, FailedSetUpTellsTheHostsTextCutToItsAreaAndRunsAgain) {
    for (const auto& text : {std::string("Not authorised."), std::string(400, 'e')}) {
        cwbtest::FailNext("cwbRC_CallPgm", CWBRC_HOST_PROGRAM_ERROR, text, 1, "TVOCGET");
        CHostLink link;
        EXPECT_FALSE(Host().HostSetupDone);
        EXPECT_EQ(link.LastOutcome().cause, Outcome::Cause::Host);
        EXPECT_EQ(link.LastOutcome().texts, Texts{text.substr(0, 259)});
        link.TakeOutcome();
        EXPECT_TRUE(link.SubmitMessage(1, 1, "SMITH     ", "body", "")); // needs no queue
    }
    CHostLink next;
    EXPECT_TRUE(Host().HostSetupDone);
    EXPECT_EQ(cwbtest::CountCalls("cwbSV_CreateErrHandle"), 3);
}

// The embedded host is in this process, so the link stands; each call then says which
// file cannot be opened and why, and the next link tries again.
TEST_F(HostLinkTest, EmbeddedDatabaseThatCannotBeOpenedSaysWhereAndWhy) {
    std::filesystem::create_directories(dir / "folder");
    std::ofstream(dir / "file") << "x";
    const std::pair<std::filesystem::path, std::string> cases[] = {
        {dir / "folder", "it is a folder"},
        {dir / "file" / "host.db",
         "cannot create its folder " + (dir / "file").string() + ": Not a directory"},
    };
    for (const auto& [path, why] : cases) {
        RestartProcess();
        cwbtest::UseSystems("[SYSA]\naddress = embedded\ndatabase = " + path.string() + "\n");
        const auto outcome = Submit(kToSmith);
        ASSERT_FALSE(outcome.texts.empty());
        for (const auto& text : outcome.texts)
            EXPECT_EQ(text, "Cannot open the host database '" + path.string() + "': " + why);
    }
    std::filesystem::remove(dir / "file");
    RestartProcess();
    CHostLink repaired;
    EXPECT_TRUE(Host().HostSetupDone);
}
