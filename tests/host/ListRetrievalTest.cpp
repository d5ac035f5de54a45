#include "HostFixture.h"

#include <algorithm>

namespace {

class ListRetrievalTest : public HostFixture {
  protected:
    void SetUp() override {
        HostFixture::SetUp();
        CurrentSystem = "SYSA";
        engine = cwbtest::Engine("SYSA");
        engine->ReplaceDirectory(
            {{"JSMITH", "John Smith"}, {"PRTROOM", "*NONE"}, {"OPS", ""}, {"ABLE", "*none"}},
            {{"NIGHT", "Night shift", {"OPS"}}});
    }

    // Files a list for another client's key, as the host would for its request.
    void OtherClientAsks(const std::string& stamp) {
        auto request = tavo::codepage::ToEbcdic("*RCPL     " + stamp + std::string(100, ' '));
        std::string scratch(32000, '\0');
        tavo::server::ProgramParameter parms[] = {
            {tavo::server::ParmDirection::Input,
             {reinterpret_cast<std::uint8_t*>(request.data()), request.size()}},
            {tavo::server::ParmDirection::InOut,
             {reinterpret_cast<std::uint8_t*>(scratch.data()), scratch.size()}}};
        ASSERT_TRUE(engine->CallProgram("TVOCGET", "TAVO400", parms).ok);
        otherKey = request.substr(0, 24);
    }

    std::shared_ptr<tavo::server::HostEngine> engine;
    std::string otherKey;
};

} // namespace

TEST_F(ListRetrievalTest, ReadsEntriesInOrderAndCleansThem) {
    CHostLink link;
    std::vector<ListItem> items;
    int count = 0;
    ASSERT_TRUE(link.RetrieveList("*RCPL", items, count));
    ASSERT_EQ(count, 4);
    ASSERT_EQ(items.size(), 4u);
    // the host lists in name order
    EXPECT_EQ(items[0].name, "ABLE");
    EXPECT_EQ(items[0].description, "*none");
    EXPECT_EQ(items[1].name, "JSMITH");
    EXPECT_EQ(items[1].description, "John Smith");
    EXPECT_EQ(items[3].name, "PRTROOM");
    EXPECT_EQ(items[3].description, "");
    EXPECT_TRUE(shown.shown.empty());

    items.clear();
    count = 0;
    ASSERT_TRUE(link.RetrieveList("*GRPL", items, count));
    ASSERT_EQ(count, 1);
    EXPECT_EQ(items[0].name, "NIGHT");
}

TEST_F(ListRetrievalTest, AppendsToWhatTheCallerHas) {
    CHostLink link;
    std::vector<ListItem> items{{"KEEP", "me"}};
    int count = 1;
    ASSERT_TRUE(link.RetrieveList("*GRPL", items, count));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(items.front().name, "KEEP");
}

TEST_F(ListRetrievalTest, OnlyTheEndMarkerIsAnEmptyList) {
    engine->ReplaceDirectory({}, {});
    CHostLink link;
    std::vector<ListItem> items;
    int count = 0;
    EXPECT_TRUE(link.RetrieveList("*RCPL", items, count));
    EXPECT_EQ(count, 0);
    EXPECT_TRUE(items.empty());
}

TEST_F(ListRetrievalTest, EntriesOfAnotherKeyAreNeverRead) {
    CHostLink link; // creates the queue
    OtherClientAsks("12612061159590");
    std::vector<ListItem> items;
    int count = 0;
    ASSERT_TRUE(link.RetrieveList("*RCPL", items, count));
    EXPECT_EQ(count, 4);
    // the other client's five entries (four and the marker) are all still there
    EXPECT_EQ(engine->TakeEntries("#TVOCGET", "TAVO400", otherKey, 100).size(), 5u);
}

TEST_F(ListRetrievalTest, TheKeyIsTheConvertedCodeAndStamp) {
    now = At(2000, 1, 1, 0, 0, 0, 0);
    CHostLink link;
    std::vector<ListItem> items;
    int count = 0;
    ASSERT_TRUE(link.RetrieveList("*GRPL", items, count));
    const auto expected = tavo::codepage::ToEbcdic("*GRPL     10001010000000");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Host().Areas.key), 24), expected);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Host().Areas.listParm1), 124),
              tavo::codepage::ToEbcdic("*GRPL     10001010000000" + std::string(100, ' ')));
}

TEST_F(ListRetrievalTest, MissingEndMarkerFailsWithTheEntriesRead) {
    CHostLink link;
    // the host leaves two entries, then nothing
    cwbtest::FailAfter("cwbDQ_Read", 2, CWBDQ_TIMED_OUT, "No entry with the requested key.");
    std::vector<ListItem> items;
    int count = 0;
    EXPECT_FALSE(link.RetrieveList("*RCPL", items, count));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(items.size(), 2u);
    ASSERT_EQ(shown.shown.size(), 1u);
    EXPECT_EQ(shown.shown[0], "No entry with the requested key.");
}

TEST_F(ListRetrievalTest, FailedProgramCallShowsTheHostText) {
    CHostLink link;
    cwbtest::FailNext("cwbRC_CallPgm", CWBRC_HOST_PROGRAM_ERROR, "TVOCGET ended abnormally.", 1,
                      "TVOCGET");
    std::vector<ListItem> items;
    int count = 0;
    EXPECT_FALSE(link.RetrieveList("*RCPL", items, count));
    EXPECT_EQ(count, 0);
    ASSERT_EQ(shown.shown.size(), 1u);
    EXPECT_EQ(shown.shown[0], "TVOCGET ended abnormally.");
    EXPECT_EQ(cwbtest::CountCalls("cwbDQ_Read"), 0);
}

TEST_F(ListRetrievalTest, WithoutConnectionNothingIsFetchedOrShown) {
    cwbtest::FailNext("cwbRC_StartSys", 8);
    CHostLink link;
    shown.shown.clear();
    std::vector<ListItem> items;
    int count = 0;
    EXPECT_FALSE(link.RetrieveList("*RCPL", items, count));
    EXPECT_TRUE(shown.shown.empty());
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_CallPgm", "TVOCGET"), 0);
}

TEST_F(ListRetrievalTest, QueueFollowsTheCurrentSystem) {
    { CHostLink onA; } // the set-up runs for SYSA
    cwbtest::Engine("SYSB")->ReplaceDirectory({{"BONLY", "only on B"}}, {});
    CurrentSystem = "SYSB";
    CHostLink onB;
    EXPECT_NE(onB.Queue(), Host().ReplyQueue);
    std::vector<ListItem> items;
    int count = 0;
    ASSERT_TRUE(onB.RetrieveList("*RCPL", items, count));
    ASSERT_EQ(count, 1);
    EXPECT_EQ(items[0].name, "BONLY");
    // and back on SYSA its own queue serves again, without a new open
    const int opens = cwbtest::CountCalls("cwbDQ_Open");
    CurrentSystem = "SYSA";
    CHostLink backOnA;
    EXPECT_EQ(backOnA.Queue(), Host().ReplyQueue);
    EXPECT_EQ(cwbtest::CountCalls("cwbDQ_Open"), opens);
}
