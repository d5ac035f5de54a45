// What the daemon needs of the engine: batches that commit together, queue hygiene,
// users, and lists that follow directory changes made by another process.
#include "Ccsid37.h"
#include "HostEngine.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <unistd.h>

using namespace tavo::server;
using tavo::codepage::ToEbcdic;
using tavo::codepage::ToLatin1;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Area(std::string text, std::size_t total) {
    const std::string e = ToEbcdic(text);
    Bytes out(total, 0);
    std::copy(e.begin(), e.end(), out.begin());
    return out;
}

std::string Padded(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

// A send call with its own areas, so several can be batched.
struct SendCall {
    explicit SendCall(const std::string& name, const std::string& subject) {
        const std::string record = Padded("01" + Padded(name, 10), 502) +
                                   Padded(subject + "@@body", 999) + "*RCP" + "Y      ";
        areas = {Area(Padded("*CA", 10), 10),       Area(Padded("*SNDTVO", 10), 10),
                 Area(Padded("", 10), 10),          Area(Padded("", 30), 30),
                 Area(Padded(record, 2000), 32000), Bytes(32000, 0)};
        for (std::size_t i = 0; i < areas.size(); ++i)
            parms.push_back({i == 5 ? ParmDirection::Output : ParmDirection::Input, areas[i]});
    }
    bool Accepted() const {
        return ToLatin1(std::string(1, static_cast<char>(areas[5][0]))) == "N";
    }
    std::vector<Bytes> areas;
    std::vector<ProgramParameter> parms;
};

struct ListCall {
    explicit ListCall(const std::string& code, const std::string& stamp)
        : request(Area(Padded(Padded(code, 10) + stamp, 124), 124)), scratch(32000, 0) {
        parms = {{ParmDirection::Input, request}, {ParmDirection::InOut, scratch}};
    }
    std::string Key() const { return std::string(request.begin(), request.begin() + 24); }
    Bytes request, scratch;
    std::vector<ProgramParameter> parms;
};

CallOutcome CallList(HostEngine& host, ListCall& call) {
    return host.CallProgram("TVOCGET", "TAVO400", call.parms);
}

class HostEngineServiceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = std::filesystem::temp_directory_path() /
              ("tavo-engine-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        host = std::make_unique<HostEngine>((dir / "host.db").string());
        host->SeedDemoDirectory();
        ListCall create("*CRTDTAQ", "10001010000000");
        ASSERT_TRUE(CallList(*host, create).ok);
    }
    void TearDown() override {
        host.reset();
        std::filesystem::remove_all(dir);
    }
    std::filesystem::path dir;
    std::unique_ptr<HostEngine> host;
};

} // namespace

TEST_F(HostEngineServiceTest, BatchStoresEachAcceptedMessageOnceAndRepliesToEach) {
    SendCall good1("JSMITH", "one"), bad("NOBODY", "two"), good2("OPS", "three");
    ListCall list("*GRPL", "12612061200000");
    std::vector<BatchCall> batch{{"TVOCUPD", "TAVO400", good1.parms, {}},
                                 {"TVOCUPD", "TAVO400", bad.parms, {}},
                                 {"TVOCGET", "TAVO400", list.parms, {}},
                                 {"TVOCUPD", "TAVO400", good2.parms, {}},
                                 {"NOSUCH", "TAVO400", list.parms, {}}};
    host->CallPrograms(batch);
    EXPECT_TRUE(batch[0].outcome.ok);
    EXPECT_TRUE(batch[2].outcome.ok);
    EXPECT_FALSE(batch[4].outcome.ok);
    EXPECT_TRUE(good1.Accepted());
    EXPECT_FALSE(bad.Accepted()); // unknown recipient: an error reply, not a stored message
    EXPECT_TRUE(good2.Accepted());
    EXPECT_EQ(host->TakeEntries("#TVOCGET", "TAVO400", list.Key(), 100).size(), 4u);

    // durable: another connection to the file sees both, newest first
    HostEngine reader((dir / "host.db").string());
    const auto outbox = reader.Outbox();
    ASSERT_EQ(outbox.size(), 2u);
    EXPECT_EQ(outbox[0].subject, "three");
    EXPECT_EQ(outbox[1].subject, "one");
}

TEST_F(HostEngineServiceTest, AStoreFailingInABatchCostsOnlyItsOwnMessage) {
    // A trigger stands in for a disk that refuses one insert in the middle of a batch.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((dir / "host.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(
        sqlite3_exec(db,
                     "CREATE TRIGGER refuse BEFORE INSERT ON outbox "
                     "WHEN NEW.subject = 'bad' BEGIN SELECT RAISE(ABORT, 'disk says no'); END",
                     nullptr, nullptr, nullptr),
        SQLITE_OK);
    sqlite3_close(db);

    SendCall a("JSMITH", "a"), refused("OPS", "bad"), b("OPS", "b");
    std::vector<BatchCall> batch{{"TVOCUPD", "TAVO400", a.parms, {}},
                                 {"TVOCUPD", "TAVO400", refused.parms, {}},
                                 {"TVOCUPD", "TAVO400", b.parms, {}}};
    host->CallPrograms(batch);
    EXPECT_TRUE(a.Accepted());
    EXPECT_FALSE(refused.Accepted());
    EXPECT_TRUE(b.Accepted());
    const auto reply = ToLatin1(std::string(refused.areas[5].begin(), refused.areas[5].end()));
    EXPECT_NE(reply.find("could not be stored"), std::string::npos);
    const auto outbox = host->Outbox();
    ASSERT_EQ(outbox.size(), 2u); // each once: the rolled-back batch left nothing behind
    EXPECT_EQ(outbox[0].subject, "b");
    EXPECT_EQ(outbox[1].subject, "a");
}

TEST_F(HostEngineServiceTest, UnreadEntriesExpireAndOneKeyIsCapped) {
    auto now = std::chrono::steady_clock::now();
    host->SetQueueLimits({std::chrono::seconds(600), 20, [&] { return now; }});
    ListCall stale("*RCPL", "12612061200000"), fresh("*RCPL", "12612061200001");
    ASSERT_TRUE(CallList(*host, stale).ok);
    now += std::chrono::seconds(599);
    ASSERT_TRUE(CallList(*host, fresh).ok);
    now += std::chrono::seconds(2);
    EXPECT_TRUE(host->TakeEntries("#TVOCGET", "TAVO400", stale.Key(), 100).empty());
    EXPECT_EQ(host->TakeEntries("#TVOCGET", "TAVO400", fresh.Key(), 100).size(), 13u);

    // 13 entries fit under a cap of 20; the same key again would hold 26
    ListCall twice("*RCPL", "12612061200002");
    ASSERT_TRUE(CallList(*host, twice).ok);
    const auto refused = CallList(*host, twice);
    EXPECT_FALSE(refused.ok);
    EXPECT_NE(refused.message.find("at most 20"), std::string::npos) << refused.message;
    EXPECT_EQ(host->TakeEntries("#TVOCGET", "TAVO400", twice.Key(), 100).size(), 13u);
}

TEST_F(HostEngineServiceTest, ListsFollowDirectoryChangesFromAnotherProcess) {
    ListCall first("*RCPL", "12612061200000");
    ASSERT_TRUE(CallList(*host, first).ok);
    EXPECT_EQ(host->TakeEntries("#TVOCGET", "TAVO400", first.Key(), 100).size(), 13u);
    {
        HostEngine admin((dir / "host.db").string());
        admin.ReplaceDirectory({{"ONLY", "the one"}}, {});
    }
    ListCall second("*RCPL", "12612061200001");
    ASSERT_TRUE(CallList(*host, second).ok);
    const auto entries = host->TakeEntries("#TVOCGET", "TAVO400", second.Key(), 100);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(ToLatin1(entries[0]).substr(1, 10), "ONLY      ");

    host->ReplaceDirectory({{"A", ""}, {"B", ""}, {"C", ""}}, {});
    ListCall third("*RCPL", "12612061200002");
    ASSERT_TRUE(CallList(*host, third).ok);
    EXPECT_EQ(host->TakeEntries("#TVOCGET", "TAVO400", third.Key(), 100).size(), 4u);
}

TEST_F(HostEngineServiceTest, UsersAreKeptByUpperCaseName) {
    EXPECT_FALSE(host->UserPasswordHash("oper"));
    host->SetUser("oper", "hash-1");
    host->SetUser("OPER", "hash-2");
    EXPECT_EQ(host->UserPasswordHash("Oper"), "hash-2");
    EXPECT_EQ(host->Users(), std::vector<std::string>{"OPER"});
    EXPECT_THROW(host->SetUser("TOO-LONG-NAME", "h"), std::invalid_argument);
    EXPECT_THROW(host->SetUser("A B", "h"), std::invalid_argument);
}
