#include "HostEngine.h"
#include "AdminCommands.h"
#include "Ccsid37.h"
#include "HostdProcess.h"
#include "Log.h"
#include "SendRecord.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <functional>
#include <sstream>
#include <sys/stat.h>

using namespace tavo::server;
using hostdtest::ReadText;
using tavo::codepage::ToEbcdic;
using tavo::codepage::ToLatin1;

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::string_view kLib = HostEngine::kLibrary;
constexpr std::string_view kQueue = HostEngine::kReplyQueue;

// Blank-pads `latin1` to `width` and converts it, as the client does before a call.
Bytes Area(std::string_view latin1, std::size_t width, std::size_t total) {
    std::string text(latin1.substr(0, width));
    text.resize(width, ' ');
    const std::string e = ToEbcdic(text);
    Bytes out(total, 0);
    std::copy(e.begin(), e.end(), out.begin());
    return out;
}

// TVOCGET's two areas; the second must come back untouched.
struct ListCall {
    ListCall(std::string_view code, std::string_view stamp)
        : request(Area(std::string(code) + std::string(10 - code.size(), ' ') + std::string(stamp),
                       124, 124)),
          scratch(32000, 0), parms{{ParmDirection::Input, request},
                                   {ParmDirection::InOut, scratch}} {}
    Status Run(HostEngine& host, std::string_view owner = {}) {
        const auto outcome = host.CallProgram("TVOCGET", kLib, parms, owner);
        EXPECT_EQ(scratch, Bytes(32000, 0));
        return outcome;
    }
    std::string Key() const { return std::string(request.begin(), request.begin() + 24); }
    std::vector<std::string> Take(HostEngine& host, std::string_view owner = {}) const {
        return host.TakeEntries(kQueue, kLib, Key(), 100000, owner);
    }
    Bytes request, scratch;
    std::vector<ProgramParameter> parms;
};

bool Called(HostEngine& host, std::string_view code, std::string_view stamp) {
    return ListCall(code, stamp).Run(host).ok();
}

struct Send {
    std::string count = "02";
    std::vector<std::string> names = {"SMITH", "JONES"};
    std::string text = "Hi@@Call me";
    std::string type = "*RCP";
    std::string modes = "YY     ";

    std::string Record() const {
        return testsupport::SendRecord(names, text, type, modes).replace(0, 2, count);
    }
};

struct ReplyError {
    std::string id;
    std::string text;
};

// TVOCUPD's six areas, so several calls can be batched.
struct SendCall {
    explicit SendCall(const Send& send, std::string_view p1 = "*CA")
        : areas{Area(p1, 10, 10), Area("*SNDTVO", 10, 10),          Area("", 10, 10),
                Area("", 30, 30), Area(send.Record(), 2000, 32000), Bytes(32000, 0)} {
        for (std::size_t i = 0; i < areas.size(); ++i)
            parms.push_back({i == 5 ? ParmDirection::Output : ParmDirection::Input, areas[i]});
    }
    // The reply read the way a careful client does, failing the test on bad lengths.
    std::vector<ReplyError> Errors(char& flag) const {
        const std::string reply = ToLatin1(std::string(areas[5].begin(), areas[5].end()));
        flag = reply[0];
        std::vector<ReplyError> errors;
        std::size_t at = 6;
        for (long i = 0, count = std::atol(reply.substr(1, 5).c_str()); i < count; ++i) {
            const std::size_t length = std::stoul(reply.substr(at + 22, 5));
            EXPECT_LE(at + 27 + length, reply.size());
            errors.push_back({reply.substr(at, 22), reply.substr(at + 27, length)});
            at += 27 + length;
        }
        EXPECT_EQ(reply.find_first_not_of(' ', at), std::string::npos) << "junk after the entries";
        return errors;
    }
    bool Accepted() const {
        char flag = 0;
        Errors(flag);
        return flag == 'N';
    }
    std::vector<Bytes> areas;
    std::vector<ProgramParameter> parms;
};

// Runs `statements` on the database file at `path` as another program would.
void Sql(const std::string& path, const char* statements) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, statements, nullptr, nullptr, nullptr), SQLITE_OK) << statements;
    sqlite3_close(db);
}

// A host in a database file of its own, seeded.
class HostEngineTest : public ::testing::Test {
  protected:
    bool Send(const ::Send& send = {}) {
        SendCall call(send);
        return host->CallProgram("TVOCUPD", kLib, call.parms).ok() && call.Accepted();
    }
    hostdtest::ScratchDir dir{"engine"};
    const std::string path = (dir / "host.db").string();
    std::unique_ptr<HostEngine> host = [this] {
        auto seeded = std::make_unique<HostEngine>(path);
        seeded->SeedDemoDirectory();
        return seeded;
    }();
};

} // namespace

TEST_F(HostEngineTest, ListEntriesAreFiledUnderTheExactKeyInNameOrder) {
    ListCall early("*RCPL", "10001010000000");
    EXPECT_EQ(early.Run(*host).text, "Data queue #TVOCGET in library TAVO400 not found.");
    ASSERT_TRUE(Called(*host, "*CRTDTAQ", "1"));
    ASSERT_TRUE(Called(*host, "*CRTDTAQ", "2")) << "creating it again is harmless";
    EXPECT_TRUE(host->QueueExists(kQueue, kLib));
    EXPECT_FALSE(host->QueueExists(kQueue, "QGPL"));

    ListCall mine("*RCPL", "12403051407095"), other("*RCPL", "12403051407096");
    ASSERT_TRUE(other.Run(*host).ok());
    ASSERT_TRUE(mine.Run(*host).ok());
    const auto recipients = host->Recipients();
    const auto first = host->TakeEntry(kQueue, kLib, mine.Key());
    auto entries = mine.Take(*host);
    ASSERT_TRUE(first);
    entries.insert(entries.begin(), *first);
    ASSERT_EQ(entries.size(), recipients.size() + 1);
    for (std::size_t i = 0; i < recipients.size(); ++i) {
        std::string expected = " " + recipients[i].name;
        expected.resize(11, ' ');
        expected += recipients[i].description;
        expected.resize(61, ' ');
        EXPECT_EQ(ToLatin1(entries[i]), expected);
        if (i > 0) {
            EXPECT_LT(recipients[i - 1].name, recipients[i].name);
        }
    }
    EXPECT_EQ(ToLatin1(entries.back()), "X" + std::string(60, ' '));
    EXPECT_FALSE(host->TakeEntry(kQueue, kLib, mine.Key()));
    EXPECT_EQ(other.Take(*host), entries) << "the other client's entries are all still there";

    ListCall groups("*GRPL", "12403051407095");
    ASSERT_TRUE(groups.Run(*host).ok());
    const auto groupEntries = groups.Take(*host);
    ASSERT_EQ(groupEntries.size(), 4u);
    EXPECT_EQ(ToLatin1(groupEntries[0]).substr(0, 11), " MANAGERS  ");
}

TEST_F(HostEngineTest, BadCallsFailWithText) {
    Bytes request = Area("*RCPL", 124, 124), area(32000, 0), shortArea(100, 0);
    ProgramParameter parms[] = {{ParmDirection::Input, request}, {ParmDirection::InOut, area}};
    ProgramParameter shortParms[] = {{ParmDirection::Input, request},
                                     {ParmDirection::InOut, shortArea}};
    EXPECT_EQ(host->CallProgram("TVOCGETX", kLib, parms).text,
              "Program TVOCGETX in library TAVO400 not found.");
    EXPECT_FALSE(host->CallProgram("TVOCGET", "QGPL", parms).ok());
    EXPECT_FALSE(host->CallProgram("TVOCGET", kLib, std::span(parms, 1)).ok());
    EXPECT_FALSE(host->CallProgram("TVOCUPD", kLib, parms).ok());
    EXPECT_FALSE(host->CallProgram("TVOCGET", kLib, shortParms).text.empty());
    ListCall unknown("*DLTDTAQ", "1");
    EXPECT_NE(unknown.Run(*host).text.find("*DLTDTAQ"), std::string::npos);
    SendCall wrongCode(::Send{}, "*XX");
    EXPECT_FALSE(host->CallProgram("TVOCUPD", kLib, wrongCode.parms).ok());
    EXPECT_TRUE(host->Outbox().empty());
}

TEST_F(HostEngineTest, AcceptedSendIsStoredWithItsRawRecordAndSurvivesReopen) {
    ASSERT_TRUE(Send());
    ::Send plain{" 1", {"", "ops"}, "Disk full", "*RCP", "      Y"}; // gaps skipped, case ignored
    ASSERT_TRUE(Send(plain));
    ASSERT_TRUE(Send({"02", {"OPERATORS", "network"}, "Backup@@Done", "*GRP"}));
    ASSERT_TRUE(Called(*host, "*CRTDTAQ", "1"));
    ListCall list("*RCPL", "12403051407095");
    ASSERT_TRUE(list.Run(*host).ok());

    host = std::make_unique<HostEngine>(path);
    const auto outbox = host->Outbox();
    ASSERT_EQ(outbox.size(), 3u);
    EXPECT_TRUE(outbox[0].groups);
    EXPECT_EQ(outbox[0].names, (std::vector<std::string>{"OPERATORS", "network"}));
    EXPECT_EQ(outbox[1].subject, "");
    EXPECT_EQ(outbox[1].body, "Disk full");
    const OutboxMessage& m = outbox[2];
    EXPECT_FALSE(m.groups);
    EXPECT_EQ(m.names, (std::vector<std::string>{"SMITH", "JONES"}));
    EXPECT_EQ(m.subject, "Hi");
    EXPECT_EQ(m.body, "Call me");
    EXPECT_EQ(m.modes, "YY     ");
    EXPECT_EQ(m.rawRecord, ToEbcdic(::Send{}.Record()));
    EXPECT_EQ(m.acceptedAt.back(), 'Z');
    EXPECT_GT(outbox[1].id, m.id);

    EXPECT_TRUE(host->QueueExists(kQueue, kLib));
    EXPECT_TRUE(list.Take(*host).empty()) << "entries live in memory only";
    EXPECT_EQ(host->Groups().size(), 3u);
}

TEST_F(HostEngineTest, EachProblemGivesOneError) {
    const std::vector<std::pair<::Send, std::string>> cases = {
        {{"01", {"SMYTH"}}, "Unknown recipient SMYTH."},
        {{.modes = "       "}, "No delivery mode selected."},
        {{.modes = "YN     "}, "Delivery mode flags must be Y or blank."},
        {{"03"}, "The count 03 does not agree with the 2 names given."},
        {{"00", {}}, "No recipients given."},
        {{.type = "*ABC"}, "Entry type *ABC is neither *RCP nor *GRP."},
        {{"02", {"OPERATORS", "SMITH"}, "x", "*GRP"}, "Unknown group SMITH."},
    };
    for (const auto& [send, text] : cases) {
        SendCall call(send);
        EXPECT_TRUE(host->CallProgram("TVOCUPD", kLib, call.parms).ok());
        char flag = 0;
        const auto errors = call.Errors(flag);
        EXPECT_EQ(flag, 'Y');
        ASSERT_EQ(errors.size(), 1u) << text;
        EXPECT_EQ(errors[0].text, text);
        EXPECT_EQ(errors[0].id.substr(0, 3), "TVO");
    }
    SendCall two({"AB", {"SMITH", "NOBODY"}});
    host->CallProgram("TVOCUPD", kLib, two.parms);
    char flag = 0;
    const auto errors = two.Errors(flag);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].text, "The count AB does not agree with the 2 names given.");
    EXPECT_EQ(errors[1].text, "Unknown recipient NOBODY.");
    EXPECT_TRUE(host->Outbox().empty());
}

TEST_F(HostEngineTest, DirectoryIsReplacedWholeOrNotAtAll) {
    const auto groups = host->Groups();
    const std::vector<std::pair<std::vector<Recipient>, std::vector<Group>>> bad = {
        {{{"ELEVENCHARS", "x"}}, {}},
        {{{"A", std::string(51, 'd')}}, {}},
        {{{"lower", ""}}, {}},
        {{{"A B", ""}}, {}},
        {{{"A", ""}, {"A", ""}}, {}},
        {{{"A", ""}}, {{"G", "", {"B"}}}},
        {{{"A", ""}}, {{"G", "", {"A", "A"}}}},
    };
    for (const auto& [r, g] : bad)
        EXPECT_THROW(host->ReplaceDirectory(r, g), std::invalid_argument);
    ASSERT_EQ(host->Groups().size(), groups.size());
    EXPECT_EQ(host->Groups()[2].members, groups[2].members);

    // another process changes it: the next list follows
    ASSERT_TRUE(Called(*host, "*CRTDTAQ", "1"));
    HostEngine(path).ReplaceDirectory({{"B", "Bee"}, {"A", ""}}, {{"G", "Gee", {"B", "A"}}});
    ListCall list("*RCPL", "12612061200001");
    ASSERT_TRUE(list.Run(*host).ok());
    const auto entries = list.Take(*host);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(ToLatin1(entries[0]).substr(0, 11), " A         ");
    EXPECT_EQ(host->Groups()[0].members, (std::vector<std::string>{"B", "A"}));
    host->SeedDemoDirectory(); // not empty: left alone
    EXPECT_EQ(host->Recipients().size(), 2u);
}

// Each file is refused for what it is, and left byte for byte as it was.
TEST_F(HostEngineTest, FilesThatAreNotHostDatabasesAreRefusedUntouched) {
    using Why = UnusableDatabase::Why;
    const auto sql = [&](const char* statements) { Sql(path, statements); };
    const auto damage = [&] {
        HostEngine(path).SeedDemoDirectory(); // several pages; the third holds a table
        std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(2 * 4096);
        file << std::string(4096, '\xff');
    };
    const struct {
        const char* name;
        std::function<void()> make;
        OpenMode mode;
        Why why;
    } cases[] = {
        {"bytes", [&] { std::ofstream(path, std::ios::trunc) << std::string(4096, 'x'); },
         OpenMode::CreateOrOpen, Why::Foreign},
        {"another program's", [&] { sql("CREATE TABLE notes (text TEXT)"); },
         OpenMode::CreateOrOpen, Why::Foreign},
        {"newer", [&] { sql("CREATE TABLE users (name TEXT); PRAGMA user_version = 99"); },
         OpenMode::CreateOrOpen, Why::Newer},
        {"empty", [&] { std::ofstream(path, std::ios::trunc); }, OpenMode::Existing, Why::Empty},
        {"damaged", damage, OpenMode::Existing, Why::Damaged},
    };
    for (const auto& c : cases) {
        host.reset();
        std::filesystem::remove(path);
        c.make();
        const std::string before = ReadText(path);
        try {
            HostEngine refused(path, c.mode);
            ADD_FAILURE() << c.name << ": opened";
        } catch (const UnusableDatabase& e) {
            EXPECT_EQ(e.why, c.why) << c.name << ": " << e.what();
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
        EXPECT_EQ(ReadText(path), before) << c.name;
    }
    EXPECT_THROW(HostEngine((dir / "missing" / "host.db").string()), std::runtime_error);
}

TEST_F(HostEngineTest, ANewDatabaseIsPrivateWhateverTheUmask) {
    const mode_t saved = ::umask(0);
    const std::string fresh = (dir / "fresh.db").string();
    {
        HostEngine created(fresh);
        created.SetUser("OPER", "hash");
        for (const std::string& file : {fresh, fresh + "-wal"}) {
            struct stat info {};
            ASSERT_EQ(::stat(file.c_str(), &info), 0) << file;
            EXPECT_EQ(info.st_mode & 0777, 0600u) << file;
        }
    }
    ::umask(saved);
}

// A full disk fails every send: the first failure is written, its repeats only counted.
TEST(DaemonLog, RepeatedLinesAreCountedOncePerWindow) {
    std::ostringstream out;
    auto now = std::chrono::steady_clock::time_point{};
    {
        tavo::hostd::Log log(out, std::chrono::seconds(60), [&] { return now; });
        for (int i = 0; i < 5; ++i)
            log.Line("disk full");
        log.Line("user 'A\n2026-01-01T00:00:00Z forged'");
        now += std::chrono::seconds(61);
        log.Line("disk full");
        log.Line("disk full");
    } // the count still owed is written at the end
    std::vector<std::string> lines;
    std::istringstream in(out.str());
    for (std::string line; std::getline(in, line);)
        lines.push_back(line.substr(line.find(' ') + 1)); // after the time
    EXPECT_EQ(lines,
              (std::vector<std::string>{"disk full", "user 'A\\x0a2026-01-01T00:00:00Z forged'",
                                        "disk full (repeated 4 more times)",
                                        "disk full (repeated 2 more times)"}));
}

// A flood whose lines all differ costs a line and a count per kind, and one of any shape
// no more than the kinds told apart.
TEST(DaemonLog, FloodsAreCountedByKind) {
    std::ostringstream out;
    {
        tavo::hostd::Log log(out);
        for (int i = 0; i < 40000; ++i) {
            log.Line(std::to_string(i) + ": too many checks waiting", tavo::hostd::Priority::Info,
                     "too many checks waiting");
            log.Line(std::to_string(i) + ": bad frame");
        }
    }
    const std::string text = out.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 258); // 1 + 255 kinds, two counts
    EXPECT_NE(text.find(" ... and 39999 more 'too many checks waiting' in the last minute\n"),
              std::string::npos);
    EXPECT_NE(text.find(" ... and 39745 more lines of other kinds in the last minute\n"),
              std::string::npos);
}

TEST_F(HostEngineTest, ConcurrentCallsKeepStateConsistent) {
    ASSERT_TRUE(Called(*host, "*CRTDTAQ", "1"));
    const std::size_t listLength = host->Recipients().size() + 1;
    constexpr int kThreads = 4, kRounds = 20;
    std::vector<std::thread> threads;
    std::vector<int> good(kThreads, 0);
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                ListCall list("*RCPL", std::to_string(t * 1000 + i));
                const bool listed = list.Run(*host).ok() && list.Take(*host).size() == listLength;
                good[t] += listed && Send() ? 1 : 0;
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(good, std::vector<int>(kThreads, kRounds));
    EXPECT_EQ(host->Outbox().size(), static_cast<std::size_t>(kThreads * kRounds));
}

TEST_F(HostEngineTest, BatchCommitsAcceptedMessagesOnceAndRepliesToEach) {
    SendCall good1({"01", {"JSMITH"}, "one@@b"}), bad({"01", {"NOBODY"}, "two@@b"}),
        good2({"01", {"OPS"}, "three@@b"});
    ASSERT_TRUE(Called(*host, "*CRTDTAQ", "1"));
    ListCall list("*GRPL", "12612061200000");
    std::vector<BatchCall> batch{{"TVOCUPD", kLib, good1.parms, {}},
                                 {"TVOCUPD", kLib, bad.parms, {}},
                                 {"TVOCGET", kLib, list.parms, {}},
                                 {"TVOCUPD", kLib, good2.parms, {}},
                                 {"NOSUCH", kLib, list.parms, {}}};
    host->CallPrograms(batch);
    EXPECT_TRUE(batch[0].outcome.ok());
    EXPECT_TRUE(batch[2].outcome.ok());
    EXPECT_FALSE(batch[4].outcome.ok());
    EXPECT_TRUE(good1.Accepted());
    EXPECT_FALSE(bad.Accepted());
    EXPECT_TRUE(good2.Accepted());
    EXPECT_EQ(list.Take(*host).size(), 4u);
    // durable: another connection to the file sees both, newest first
    const auto outbox = HostEngine(path).Outbox();
    ASSERT_EQ(outbox.size(), 2u);
    EXPECT_EQ(outbox[0].subject, "three");
    EXPECT_EQ(outbox[1].subject, "one");
}

TEST_F(HostEngineTest, AStoreFailingInABatchCostsOnlyItsOwnMessage) {
    // A trigger stands in for a disk that refuses one insert in the middle of a batch.
    Sql(path, "CREATE TRIGGER refuse BEFORE INSERT ON outbox WHEN NEW.subject = "
              "'bad' BEGIN SELECT RAISE(ABORT, 'disk says no'); END");

    SendCall a({"01", {"JSMITH"}, "a@@b"}), refused({"01", {"OPS"}, "bad@@b"}),
        b({"01", {"OPS"}, "b@@b"});
    std::vector<BatchCall> batch{{"TVOCUPD", kLib, a.parms, {}},
                                 {"TVOCUPD", kLib, refused.parms, {}},
                                 {"TVOCUPD", kLib, b.parms, {}}};
    host->CallPrograms(batch);
    EXPECT_TRUE(a.Accepted());
    EXPECT_TRUE(b.Accepted());
    char flag = 0;
    const auto errors = refused.Errors(flag);
    EXPECT_EQ(flag, 'Y');
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].text.find("could not be stored"), std::string::npos);
    const auto outbox = host->Outbox();
    ASSERT_EQ(outbox.size(), 2u); // each once: the rolled-back batch left nothing behind
    EXPECT_EQ(outbox[0].subject, "b");
    EXPECT_EQ(outbox[1].subject, "a");
}

TEST_F(HostEngineTest, UnreadEntriesExpireAndAreCappedByKeyAndInAll) {
    ASSERT_TRUE(Called(*host, "*CRTDTAQ", "1"));
    auto now = std::chrono::steady_clock::now();
    host->SetQueueLimits({std::chrono::seconds(600), 20, [&] { return now; }});
    ListCall stale("*RCPL", "12612061200000"), fresh("*RCPL", "12612061200001");
    ASSERT_TRUE(stale.Run(*host).ok());
    now += std::chrono::seconds(599);
    ASSERT_TRUE(fresh.Run(*host).ok());
    now += std::chrono::seconds(2);
    EXPECT_TRUE(stale.Take(*host).empty());
    EXPECT_EQ(fresh.Take(*host).size(), 13u);

    // 13 entries fit under a cap of 20; the same key again would hold 26
    ListCall twice("*RCPL", "12612061200002");
    ASSERT_TRUE(twice.Run(*host).ok());
    const auto refused = twice.Run(*host);
    EXPECT_FALSE(refused.ok());
    EXPECT_NE(refused.text.find("at most 20"), std::string::npos) << refused.text;
    EXPECT_EQ(twice.Take(*host).size(), 13u);
}

// Owners share the memory for unread lists: one that files without reading loses its own
// oldest lists, never another's, and a list counts what it takes, not its length.
TEST_F(HostEngineTest, AnOwnerFilingWithoutReadingCrowdsOutOnlyItself) {
    ASSERT_TRUE(Called(*host, "*CRTDTAQ", "1"));
    const std::size_t length = host->Recipients().size() + 1;
    // The budget in lists by the entries' length; the owner of each list filed in turn;
    // whether each is kept (y), dropped (n), refused (-) or either (?).
    const std::tuple<double, std::string, std::string> rows[] = {
        {8, "BAAAAAAAAAAAAAAAAAAAAC", "yn???????????????????yy"}, {2.5, "AA", "ny"}, {1, "A", "-"}};
    int stamp = 0;
    for (const auto& [budget, owner, kept] : rows) {
        QueueLimits limits;
        limits.totalBytes = std::size_t(budget * double(length * 61));
        host->SetQueueLimits(limits);
        std::vector<ListCall> calls;
        calls.reserve(owner.size());
        for (std::size_t i = 0; i < owner.size(); ++i)
            EXPECT_EQ(calls.emplace_back("*RCPL", std::to_string(++stamp))
                          .Run(*host, owner.substr(i, 1))
                          .ok(),
                      kept[i] != '-')
                << budget << " #" << i;
        for (std::size_t i = 0; i < owner.size(); ++i) {
            const auto n = calls[i].Take(*host, owner.substr(i, 1)).size();
            EXPECT_TRUE(kept[i] == '?' || n == (kept[i] == 'y' ? length : 0)) << budget << i;
        }
    }
}

// Workstations asking at the same moment send equal keys. Each owner (the daemon's
// user and address, or nobody in the client's own process) reads only its own entries,
// and the cap counts per owner.
TEST_F(HostEngineTest, EqualKeysOfDifferentOwnersAreKeptApart) {
    ASSERT_TRUE(Called(*host, "*CRTDTAQ", "1"));
    const std::size_t listLength = host->Recipients().size() + 1;
    host->SetQueueLimits({std::chrono::seconds(600), listLength, {}});
    ListCall list("*RCPL", "12612061200000");
    const std::string owners[] = {"", "OPER@127.0.0.1", "OPER@127.0.0.2", "CLERK@127.0.0.1"};
    for (const auto& owner : owners)
        ASSERT_TRUE(list.Run(*host, owner).ok()) << owner;
    EXPECT_FALSE(list.Run(*host, owners[1]).ok()) << "a second list under one owner's key";
    EXPECT_FALSE(host->TakeEntry(kQueue, kLib, list.Key(), "OPER@127.0.0.3"));
    EXPECT_TRUE(host->TakeEntry(kQueue, kLib, list.Key(), owners[3]));
    for (const auto& owner : owners)
        EXPECT_EQ(list.Take(*host, owner).size(), listLength - (owner == owners[3])) << owner;
}

TEST_F(HostEngineTest, UsersAreKeptByUpperCaseName) {
    EXPECT_FALSE(host->UserPasswordHash("oper"));
    host->SetUser("oper", "hash-1");
    host->SetUser("OPER", "hash-2");
    EXPECT_EQ(host->UserPasswordHash("Oper"), "hash-2");
    EXPECT_EQ(host->Users(), std::vector<std::string>{"OPER"});
    EXPECT_THROW(host->SetUser("TOO-LONG-NAME", "h"), std::invalid_argument);
    EXPECT_THROW(host->SetUser("A B", "h"), std::invalid_argument);
}

TEST_F(HostEngineTest, VersionOneUsersKeepTheirHashAndGetTokensWithANewPassword) {
    const std::string old = (dir / "v1.db").string();
    Sql(old, "CREATE TABLE users (name TEXT PRIMARY KEY NOT NULL, "
             "password_hash TEXT NOT NULL); "
             "INSERT INTO users VALUES ('OPER', 'old-hash'); "
             "PRAGMA user_version = 1;");
    {
        HostEngine migrated(old);
        const auto oper = migrated.User("oper");
        ASSERT_TRUE(oper);
        EXPECT_EQ(oper->passwords.hash, "old-hash");
        EXPECT_TRUE(oper->passwords.desToken.empty() && oper->passwords.shaToken.empty());
        EXPECT_FALSE(oper->disabled || oper->expired);
        EXPECT_TRUE(migrated.ExpirePassword("oper"));
        EXPECT_TRUE(migrated.SetPasswordExpiry("oper", 1000));
        EXPECT_TRUE(migrated.User("OPER")->ExpiredAt(0)); // marked, whatever the date
        EXPECT_EQ(migrated.User("OPER")->passwordExpires, 1000);
        EXPECT_TRUE(migrated.SetUserDisabled("OPER", true));
        EXPECT_FALSE(migrated.SetUserDisabled("NOBODY", true));
        migrated.SetUser("Oper", UserPasswords{"new-hash", "des", "sha", "pbkdf2"});
    }
    HostEngine reopened(old); // already version 2: nothing is altered twice
    const auto oper = reopened.User("OPER");
    ASSERT_TRUE(oper);
    EXPECT_EQ(oper->passwords.shaToken, "sha");
    EXPECT_EQ(oper->passwords.pbkdf2Token, "pbkdf2");
    EXPECT_FALSE(oper->expired || oper->passwordExpires); // a new password ends the expiry...
    EXPECT_TRUE(oper->disabled);                          // ...but does not enable the user
}

// A token signs on as its user to whoever reads the file: a new password keeps only the
// one of the level a daemon last served at (3 before any did), and says when it has none.
TEST_F(HostEngineTest, ANewPasswordKeepsOnlyTheTokenOfTheLevelServed) {
    const std::tuple<int, std::string, std::string> rows[] = {
        {99, "SECRET12", "-S-"},
        {HostEngine::kNoIbmiSignOn, "SECRET12", "---"},
        {1, "SECRET12", "D--"},
        {1, "correct horse battery", "--- level 1"},
        {4, "SECRET12", "--P"}};
    for (const auto& [served, password, tokens] : rows) {
        if (served != 99) // 99: none recorded
            host->SetServedPasswordLevel(served);
        std::istringstream in(password + "\n");
        std::ostringstream out, err;
        ASSERT_EQ(tavo::hostd::AddUser(path, "OPER", in, out, err), 0) << err.str();
        const auto p = host->User("OPER")->passwords;
        const bool told = err.str().find("at password level 1") != std::string::npos;
        EXPECT_EQ((std::string{p.desToken.empty() ? '-' : 'D', p.shaToken.empty() ? '-' : 'S',
                               p.pbkdf2Token.empty() ? '-' : 'P'} +
                   (told ? " level 1" : "")),
                  tokens);
    }
}

// A daemon on a slow disk (a trigger stands in for the flush) frees SQLite's write lock only
// for moments between commits; another process's write still gets its turn instead of
// "database is locked".
TEST_F(HostEngineTest, AnotherWriterGetsItsTurnBesideCommitsBackToBack) {
    Sql(path, "CREATE TRIGGER slow AFTER INSERT ON outbox BEGIN WITH RECURSIVE "
              "n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
              "SELECT count(*) FROM n; END");
    host->LetOtherWritersFirst();
    std::atomic<bool> done{false}, sending{false};
    std::thread daemon([&] {
        SendCall a(::Send{}), b(::Send{});
        std::vector<BatchCall> batch{{"TVOCUPD", kLib, a.parms, {}},
                                     {"TVOCUPD", kLib, b.parms, {}}};
        while (!done) {
            host->CallPrograms(batch);
            sending = true;
        }
    });
    while (!sending)
        std::this_thread::yield();
    HostEngine admin(path, OpenMode::Existing);
    int refused = 0;
    for (int i = 0; i < 6; ++i) {
        try {
            admin.SetUser("CLERK", "hash");
        } catch (const std::runtime_error&) {
            ++refused;
        }
    }
    done = true;
    daemon.join();
    EXPECT_EQ(refused, 0);
}
