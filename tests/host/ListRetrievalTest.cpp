// Fetching a list: the request and its key, reading entries under that key only, and
// what a list that breaks off leaves.
#include "HostFixture.h"
#include "ListLock.h"

namespace {

class ListRetrievalTest : public HostFixture {
  protected:
    ListRetrievalTest() {
        engine->ReplaceDirectory(
            {{"JSMITH", "John Smith"}, {"PRTROOM", "*NONE"}, {"OPS", ""}, {"ABLE", "*none"}},
            {{"NIGHT", "Night shift", {"OPS"}}});
    }
    // Another client's request under `stamp`, filed as the host files any; returns its key.
    std::string FileRequest(const std::string& stamp) {
        auto request = tavo::codepage::ToEbcdic("*RCPL     " + stamp + std::string(100, ' '));
        std::string scratch(32000, '\0');
        tavo::server::ProgramParameter parms[] = {
            {tavo::server::ParmDirection::Input,
             {reinterpret_cast<std::uint8_t*>(request.data()), request.size()}},
            {tavo::server::ParmDirection::InOut,
             {reinterpret_cast<std::uint8_t*>(scratch.data()), scratch.size()}}};
        EXPECT_TRUE(engine->CallProgram("TVOCGET", "TAVO400", parms).ok());
        return request.substr(0, 24);
    }
    std::size_t Take(const std::string& key, std::size_t most = 100) {
        return engine->TakeEntries("#TVOCGET", "TAVO400", key, most).size();
    }
    std::shared_ptr<tavo::server::HostEngine> engine = cwbtest::Engine("SYSA");
    std::vector<ListItem> items{{"KEEP", "me"}}; // what the caller had stays
    int count = 1;
};

} // namespace

TEST_F(ListRetrievalTest, ReadsEntriesInOrderAndCleansThem) {
    CHostLink link;
    ASSERT_TRUE(link.RetrieveList("*RCPL", items, count));
    ASSERT_EQ(count, 5);
    const std::vector<ListItem> expected{
        {"KEEP", "me"}, {"ABLE", "*none"}, {"JSMITH", "John Smith"}, {"OPS", ""}, {"PRTROOM", ""}};
    ASSERT_EQ(items.size(), expected.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].name, expected[i].name);
        EXPECT_EQ(items[i].description, expected[i].description);
    }
    // only the end marker: an empty list
    engine->ReplaceDirectory({}, {});
    EXPECT_TRUE(link.RetrieveList("*RCPL", items, count));
    EXPECT_EQ(count, 5);
}

// The stamp's last digit is only the first digit of the milliseconds: 57 ms and 570 ms
// both end in 5, so its text comes round again after the clock has moved.
TEST_F(ListRetrievalTest, NoTwoListRequestsOfAProcessShareAStamp) {
    const auto key = [] {
        return tavo::codepage::ToLatin1(
            std::string(reinterpret_cast<const char*>(Host().Areas.key), 24));
    };
    now = At(2026, 12, 6, 12, 0, 0, 57);
    CHostLink link;
    ASSERT_TRUE(link.RetrieveList("*RCPL", items, count));
    EXPECT_EQ(key(), "*RCPL     12612061200005");
    EXPECT_EQ(waited.count(), 0);

    now = At(2026, 12, 6, 12, 0, 0, 570);
    ASSERT_TRUE(link.RetrieveList("*RCPL", items, count));
    EXPECT_EQ(key(), "*RCPL     12612061200006");
    ASSERT_TRUE(link.RetrieveList("*GRPL", items, count)); // the clock has not moved
    EXPECT_EQ(key(), "*GRPL     12612061200007");
    EXPECT_EQ(items.back().name, "NIGHT");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Host().Areas.listParm1), 124),
              tavo::codepage::ToEbcdic(key() + std::string(100, ' ')));
    EXPECT_EQ(waited.count(), 130); // each time to the next tenth of a second, no further
    EXPECT_EQ(count, 1 + 4 + 4 + 1);
}

// Two processes listing in one tenth of a second: the second waits its turn and a tenth.
TEST_F(ListRetrievalTest, ListsOfTwoProcessesTakeTurnsUnderKeysOfTheirOwn) {
    now = At(2026, 12, 6, 12, 0, 0, 500); // waiting a little keeps the stamp's 5
    CHostLink link;
    auto other = std::make_unique<ListLock>(); // the other process, in the middle of its list
    ASSERT_EQ(other->Take("Sysa", std::chrono::seconds(1)), "");
    ASSERT_EQ(other->Record(records::FormatRequestStamp(now)), "");
    const auto otherKey = FileRequest(records::FormatRequestStamp(now));
    engine->ReplaceDirectory({{"MINE", ""}}, {});
    SetClockWait([&](std::chrono::milliseconds d) {
        now += d;
        if (other) { // the other reads its whole list and ends while this one waits
            EXPECT_EQ(Take(otherKey), 5u);
            other.reset();
        }
    });
    ASSERT_TRUE(link.RetrieveList("*RCPL", items, count));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[1].name, "MINE");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Host().Areas.key), 24),
              tavo::codepage::ToEbcdic("*RCPL     12612061200006"));
}

// A list that cannot have its turn fails with a text, and never hangs.
TEST_F(ListRetrievalTest, ListWithoutItsTurnFails) {
    CHostLink link;
    const auto lock = (dir / "tavo400/list-SYSA.lock").string(); // in $XDG_RUNTIME_DIR
    auto other = std::make_unique<ListLock>();
    ASSERT_EQ(other->Take("SYSA", std::chrono::seconds(1)), "");
    EXPECT_FALSE(link.RetrieveList("*RCPL", items, count));
    EXPECT_TRUE(link.TakeOutcome().texts.at(0).starts_with(
        "Another list from this workstation to SYSA did not end within 60 seconds"));
    other.reset();
    std::filesystem::remove(lock);
    std::filesystem::create_symlink(dir / "elsewhere", lock);
    EXPECT_FALSE(link.RetrieveList("*RCPL", items, count));
    EXPECT_TRUE(link.TakeOutcome().texts.at(0).starts_with("The list lock " + lock +
                                                           " is a symbolic link, so it was not"));
    EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere"));
}

// Another workstation's list under the same key, mixed into this one, is never a list.
TEST_F(ListRetrievalTest, MixedListsFail) {
    CHostLink link; // creates the queue
    const std::vector<tavo::server::Recipient> two{{"ABLE", ""}, {"BAKER", ""}};
    const struct {
        std::vector<tavo::server::Recipient> others, mine;
        std::size_t taken; // by the other, after this list's first read
        std::string held;
    } cases[] = {{two, {{"CHARLIE", ""}}, 0, "an entry after its end marker"},
                 {{}, {}, 0, "a second end marker"},
                 {two, two, 2, "ABLE twice"}}; // the other took BAKER and its marker
    for (const auto& c : cases) {
        SCOPED_TRACE(c.held);
        now += std::chrono::seconds(1);
        engine->ReplaceDirectory(c.others, {});
        const auto key = FileRequest(records::FormatRequestStamp(now));
        engine->ReplaceDirectory(c.mine, {});
        const int reads = cwbtest::CountCalls("cwbDQ_Read");
        SetClockSource([&, taken = c.taken]() mutable {
            if (taken && cwbtest::CountCalls("cwbDQ_Read") == reads + 1)
                Take(key, std::exchange(taken, 0));
            return now;
        });
        const auto list = FetchList(ListKind::Recipients).outcome;
        EXPECT_EQ(list.result, Outcome::Result::NotDone);
        EXPECT_EQ(list.cause, Outcome::Cause::Host);
        EXPECT_TRUE(list.texts.size() == 1 &&
                    list.texts[0].starts_with("The list SYSA sent held " + c.held + ": another"));
    }
}

// A list without its end marker fails: the link keeps the entries read, a fetched list
// shows none of them.
TEST_F(ListRetrievalTest, MissingEndMarkerFailsAndAFetchedListShowsNothingOfIt) {
    auto list = FetchList(ListKind::Groups);
    ASSERT_TRUE(list.Done());
    ASSERT_EQ(list.entries.size(), 1u);
    EXPECT_EQ(list.entries[0].name, "Night"); // as a list shows names
    CHostLink link;
    cwbtest::FailAfter("cwbDQ_Read", 2, CWBDQ_TIMED_OUT, "No entry with the requested key.");
    EXPECT_FALSE(link.RetrieveList("*RCPL", items, count));
    EXPECT_EQ(count, 3);
    EXPECT_EQ(link.LastOutcome().texts, Texts{"No entry with the requested key."});
    cwbtest::FailAfter("cwbDQ_Read", 2, CWBDQ_TIMED_OUT, "No entry with the requested key.");
    list = FetchList(ListKind::Recipients);
    EXPECT_EQ(list.outcome.result, Outcome::Result::NotDone);
    EXPECT_TRUE(list.entries.empty());
}

// A host that never ends its list: it is given up at the deadline, or once it holds
// more than the largest directory the daemon's import takes, which still lists in full.
TEST_F(ListRetrievalTest, EndlessListIsAbandonedAtTheDeadline) {
    CHostLink link;
    SetClockSource([this] { return now += std::chrono::seconds(25); });
    EXPECT_FALSE(link.RetrieveList("*RCPL", items, count));
    EXPECT_LT(count, 5);
    EXPECT_EQ(link.LastOutcome().texts, Texts{"The host did not finish the list within 60 "
                                              "seconds; the list was abandoned."});
}

TEST_F(ListRetrievalTest, LargestDirectoryListsAndOneMoreIsAbandoned) {
    constexpr auto kLargest = tavo::server::kMaxDirectoryEntries;
    engine->SetQueueLimits({std::chrono::seconds(600), kLargest + 2, {}});
    std::vector<tavo::server::Recipient> directory;
    for (std::size_t i = 0; i < kLargest; ++i)
        directory.push_back({"R" + std::to_string(i), ""});
    engine->ReplaceDirectory(directory, {});
    CHostLink link;
    std::vector<ListItem> listed;
    int listedCount = 0;
    ASSERT_TRUE(link.RetrieveList("*RCPL", listed, listedCount));
    EXPECT_EQ(static_cast<std::size_t>(listedCount), kLargest);

    directory.push_back({"ONEMORE", ""});
    engine->ReplaceDirectory(directory, {});
    EXPECT_FALSE(link.RetrieveList("*RCPL", items, count));
    EXPECT_EQ(link.LastOutcome().texts, Texts{"The host sent more than 100000 entries "
                                              "without ending the list, more than a "
                                              "directory holds; the list was abandoned."});
}

TEST_F(ListRetrievalTest, QueueFollowsTheCurrentSystem) {
    { CHostLink onA; } // the set-up runs for SYSA
    cwbtest::Engine("SYSB")->ReplaceDirectory({{"BONLY", "only on B"}}, {});
    CurrentSystem = "SYSB";
    {
        // a send needs no queue: none is opened or created on SYSB for it
        CHostLink sendOnB;
        EXPECT_EQ(sendOnB.Queue(), 0u);
        EXPECT_TRUE(sendOnB.SubmitMessage(1, 1, "BONLY     ", "b", "s"));
        EXPECT_FALSE(cwbtest::Engine("SYSB")->QueueExists("#TVOCGET", "TAVO400"));
    }
    CHostLink onB;
    ASSERT_TRUE(onB.RetrieveList("*RCPL", items, count));
    EXPECT_NE(onB.Queue(), 0u);
    EXPECT_NE(onB.Queue(), Host().ReplyQueue);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(items[1].name, "BONLY");
    // back on SYSA its own queue serves again, without a new open
    const int opens = cwbtest::CountCalls("cwbDQ_Open");
    CurrentSystem = "SYSA";
    CHostLink backOnA;
    EXPECT_EQ(backOnA.Queue(), Host().ReplyQueue);
    EXPECT_EQ(cwbtest::CountCalls("cwbDQ_Open"), opens);
}

TEST_F(ListRetrievalTest, QueueThatCannotBeMadeOnAnotherSystemIsShownOnce) {
    { CHostLink onA; }
    CurrentSystem = "SYSB";
    CHostLink onB;
    cwbtest::FailNext("cwbRC_CallPgm", CWBRC_HOST_PROGRAM_ERROR, "Not authorised to create queues.",
                      1, "TVOCGET");
    EXPECT_FALSE(onB.RetrieveList("*RCPL", items, count));
    EXPECT_EQ(onB.TakeOutcome().texts, Texts{"Not authorised to create queues."});
    EXPECT_EQ(cwbtest::CountCalls("cwbDQ_Read"), 0);
    // the next list tries again
    EXPECT_TRUE(onB.RetrieveList("*RCPL", items, count));
    EXPECT_TRUE(onB.LastOutcome().texts.empty());
}
