#include "HostEngine.h"
#include "Ccsid37.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <thread>

using namespace tavo::server;
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

std::string Key(const Bytes& request) {
    return std::string(request.begin(), request.begin() + 24);
}

Bytes ListRequest(std::string_view code, std::string_view stamp) {
    std::string text(code);
    text.resize(10, ' ');
    return Area(text + std::string(stamp), 124, 124);
}

CallOutcome CallGet(HostEngine& host, Bytes& request) {
    Bytes unused(32000, 0);
    ProgramParameter parms[] = {{ParmDirection::Input, request}, {ParmDirection::InOut, unused}};
    const CallOutcome out = host.CallProgram("TVOCGET", kLib, parms);
    EXPECT_EQ(unused, Bytes(32000, 0)); // the second area is never touched
    return out;
}

CallOutcome CallGet(HostEngine& host, std::string_view code, std::string_view stamp) {
    Bytes request = ListRequest(code, stamp);
    return CallGet(host, request);
}

struct Send {
    std::string count = "02";
    std::vector<std::string> names = {"SMITH", "JONES"};
    std::string text = "Hi@@Call me";
    std::string type = "*RCP";
    std::string modes = "YY     ";

    std::string Record() const {
        std::string r = count;
        for (const auto& n : names)
            r += (n + std::string(10, ' ')).substr(0, 10);
        r.resize(502, ' ');
        r += text;
        r.resize(1501, ' ');
        return r + type + modes;
    }
};

struct ReplyError {
    std::string id;
    std::string text;
};

struct SendResult {
    CallOutcome outcome;
    char flag = 0;
    std::vector<ReplyError> errors;
};

// Reads the reply the way a careful client does, failing the test on bad lengths.
SendResult CallSend(HostEngine& host, const Send& send, std::string_view p1 = "*CA") {
    Bytes a1 = Area(p1, 10, 10), a2 = Area("*SNDTVO", 10, 10), a3 = Area("", 10, 10),
          a4 = Area("", 30, 30), a5 = Area(send.Record(), 2000, 32000), a6(32000, 0);
    ProgramParameter parms[] = {{ParmDirection::Input, a1}, {ParmDirection::Input, a2},
                                {ParmDirection::Input, a3}, {ParmDirection::Input, a4},
                                {ParmDirection::Input, a5}, {ParmDirection::Output, a6}};
    SendResult result{host.CallProgram("TVOCUPD", kLib, parms), 0, {}};
    if (!result.outcome.ok)
        return result;
    const std::string reply = ToLatin1(std::string(a6.begin(), a6.end()));
    result.flag = reply[0];
    const long count = std::atol(reply.substr(1, 5).c_str());
    std::size_t at = 6;
    for (long i = 0; i < count; ++i) {
        const std::size_t length = std::stoul(reply.substr(at + 22, 5));
        EXPECT_LE(at + 27 + length, reply.size());
        result.errors.push_back({reply.substr(at, 22), reply.substr(at + 27, length)});
        at += 27 + length;
    }
    EXPECT_EQ(reply.find_first_not_of(' ', at), std::string::npos) << "junk after the entries";
    return result;
}

class HostEngineTest : public ::testing::Test {
  protected:
    void SetUp() override { host.SeedDemoDirectory(); }
    HostEngine host{":memory:"};
};

} // namespace

TEST_F(HostEngineTest, QueueExistsOnlyAfterCreateRequest) {
    EXPECT_FALSE(host.QueueExists(kQueue, kLib));
    const CallOutcome early = CallGet(host, "*RCPL", "10001010000000");
    EXPECT_FALSE(early.ok);
    EXPECT_EQ(early.message, "Data queue #TVOCGET in library TAVO400 not found.");

    EXPECT_TRUE(CallGet(host, "*CRTDTAQ", "10001010000000").ok);
    EXPECT_TRUE(CallGet(host, "*CRTDTAQ", "10001010000001").ok);
    EXPECT_TRUE(host.QueueExists(kQueue, kLib));
    EXPECT_FALSE(host.QueueExists(kQueue, "QGPL"));
}

TEST_F(HostEngineTest, ListEntriesFiledUnderExactKeyInOrder) {
    ASSERT_TRUE(CallGet(host, "*CRTDTAQ", "10001010000000").ok);
    Bytes mine = ListRequest("*RCPL", "12403051407095");
    Bytes other = ListRequest("*RCPL", "12403051407096");
    ASSERT_TRUE(CallGet(host, other).ok);
    ASSERT_TRUE(CallGet(host, mine).ok);

    const auto recipients = host.Recipients();
    const auto entries = host.TakeEntries(kQueue, kLib, Key(mine), 1000);
    ASSERT_EQ(entries.size(), recipients.size() + 1);
    for (std::size_t i = 0; i < recipients.size(); ++i) {
        const std::string e = ToLatin1(entries[i]);
        ASSERT_EQ(e.size(), 61u);
        EXPECT_EQ(e[0], ' ');
        std::string expected = recipients[i].name;
        expected.resize(10, ' ');
        expected += recipients[i].description;
        expected.resize(60, ' ');
        EXPECT_EQ(e.substr(1), expected);
        if (i > 0) {
            EXPECT_LT(recipients[i - 1].name, recipients[i].name);
        }
    }
    EXPECT_EQ(ToLatin1(entries.back()), "X" + std::string(60, ' '));
    EXPECT_FALSE(host.TakeEntry(kQueue, kLib, Key(mine)));

    // The other client's entries are still all there, oldest first.
    const auto first = host.TakeEntry(kQueue, kLib, Key(other));
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, entries.front());
    EXPECT_EQ(host.TakeEntries(kQueue, kLib, Key(other), 1000).size(), recipients.size());
    EXPECT_FALSE(host.TakeEntry(kQueue, kLib, "no such key"));
}

TEST_F(HostEngineTest, GroupListAndDemoDirectory) {
    ASSERT_TRUE(CallGet(host, "*CRTDTAQ", "10001010000000").ok);
    Bytes request = ListRequest("*GRPL", "12403051407095");
    ASSERT_TRUE(CallGet(host, request).ok);
    const auto entries = host.TakeEntries(kQueue, kLib, Key(request), 1000);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(ToLatin1(entries[0]).substr(0, 11), " MANAGERS  ");
    EXPECT_EQ(ToLatin1(entries[3])[0], 'X');

    bool none = false;
    std::set<std::string> names;
    for (const auto& r : host.Recipients()) {
        names.insert(r.name);
        none = none || r.description == "*NONE";
        EXPECT_LE(r.name.size(), 10u);
        EXPECT_LE(r.description.size(), 50u);
    }
    EXPECT_TRUE(none);
    for (const char* n : {"SMITH", "JONES", "JSMITH", "MJONES", "OPS"})
        EXPECT_TRUE(names.contains(n)) << n;

    host.ReplaceDirectory({{"A", "x"}}, {});
    host.SeedDemoDirectory(); // not empty: left alone
    EXPECT_EQ(host.Recipients().size(), 1u);
}

TEST_F(HostEngineTest, BadCallsFailWithText) {
    Bytes request = ListRequest("*RCPL", "1");
    Bytes area(32000, 0);
    ProgramParameter parms[] = {{ParmDirection::Input, request}, {ParmDirection::InOut, area}};
    EXPECT_EQ(host.CallProgram("TVOCGETX", kLib, parms).message,
              "Program TVOCGETX in library TAVO400 not found.");
    EXPECT_FALSE(host.CallProgram("TVOCGET", "QGPL", parms).ok);
    EXPECT_FALSE(host.CallProgram("TVOCGET", kLib, std::span(parms, 1)).ok);
    EXPECT_FALSE(host.CallProgram("TVOCUPD", kLib, parms).ok);
    Bytes shortArea(100, 0);
    ProgramParameter shortParms[] = {{ParmDirection::Input, request},
                                     {ParmDirection::InOut, shortArea}};
    EXPECT_FALSE(host.CallProgram("TVOCGET", kLib, shortParms).message.empty());

    const CallOutcome unknown = CallGet(host, "*DLTDTAQ", "1");
    EXPECT_FALSE(unknown.ok);
    EXPECT_NE(unknown.message.find("*DLTDTAQ"), std::string::npos);
    EXPECT_FALSE(CallSend(host, Send{}, "*XX").outcome.ok);
    EXPECT_TRUE(host.Outbox().empty());
}

TEST_F(HostEngineTest, AcceptedSendIsStoredWithRawRecord) {
    const Send send;
    const SendResult r = CallSend(host, send);
    ASSERT_TRUE(r.outcome.ok);
    EXPECT_EQ(r.flag, 'N');
    EXPECT_TRUE(r.errors.empty());

    const auto outbox = host.Outbox();
    ASSERT_EQ(outbox.size(), 1u);
    const OutboxMessage& m = outbox[0];
    EXPECT_FALSE(m.groups);
    EXPECT_EQ(m.names, (std::vector<std::string>{"SMITH", "JONES"}));
    EXPECT_EQ(m.subject, "Hi");
    EXPECT_EQ(m.body, "Call me");
    EXPECT_EQ(m.modes, "YY     ");
    EXPECT_EQ(m.rawRecord, ToEbcdic(send.Record()));
    EXPECT_EQ(m.acceptedAt.back(), 'Z');

    Send plain;
    plain.count = " 1";
    plain.names = {"", "ops"}; // gaps are skipped, names compared upper-cased
    plain.text = "Disk full";
    plain.modes = "      Y";
    ASSERT_EQ(CallSend(host, plain).flag, 'N');
    const OutboxMessage newest = host.Outbox().front();
    EXPECT_EQ(newest.subject, "");
    EXPECT_EQ(newest.body, "Disk full");
    EXPECT_GT(newest.id, m.id);
}

TEST_F(HostEngineTest, EachProblemGivesOneError) {
    struct Case {
        Send send;
        std::string text;
    };
    const std::vector<Case> cases = {
        {{"01", {"SMYTH"}}, "Unknown recipient SMYTH."},
        {{.modes = "       "}, "No delivery mode selected."},
        {{.modes = "YN     "}, "Delivery mode flags must be Y or blank."},
        {{"03"}, "The count 03 does not agree with the 2 names given."},
        {{"00", {}}, "No recipients given."},
        {{.type = "*ABC"}, "Entry type *ABC is neither *RCP nor *GRP."},
        {{"02", {"OPERATORS", "SMITH"}, "x", "*GRP"}, "Unknown group SMITH."},
    };
    for (const Case& c : cases) {
        const SendResult r = CallSend(host, c.send);
        EXPECT_TRUE(r.outcome.ok);
        EXPECT_EQ(r.flag, 'Y');
        ASSERT_EQ(r.errors.size(), 1u) << c.text;
        EXPECT_EQ(r.errors[0].text, c.text);
        EXPECT_EQ(r.errors[0].id.substr(0, 3), "TVO");
    }
    const SendResult two = CallSend(host, {"AB", {"SMITH", "NOBODY"}});
    ASSERT_EQ(two.errors.size(), 2u);
    EXPECT_EQ(two.errors[0].text, "The count AB does not agree with the 2 names given.");
    EXPECT_EQ(two.errors[1].text, "Unknown recipient NOBODY.");
    EXPECT_TRUE(host.Outbox().empty());
}

TEST_F(HostEngineTest, GroupSendIsAccepted) {
    const SendResult r = CallSend(host, {"02", {"OPERATORS", "network"}, "Backup@@Done", "*GRP"});
    ASSERT_EQ(r.flag, 'N');
    const OutboxMessage m = host.Outbox().front();
    EXPECT_TRUE(m.groups);
    EXPECT_EQ(m.names, (std::vector<std::string>{"OPERATORS", "network"}));
}

TEST_F(HostEngineTest, ReplaceDirectoryRejectsBadInputUnchanged) {
    const auto recipients = host.Recipients();
    const auto groups = host.Groups();
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
        EXPECT_THROW(host.ReplaceDirectory(r, g), std::invalid_argument);
    EXPECT_EQ(host.Recipients().size(), recipients.size());
    ASSERT_EQ(host.Groups().size(), groups.size());
    EXPECT_EQ(host.Groups()[2].members, groups[2].members);

    host.ReplaceDirectory({{"B", "Bee"}, {"A", ""}}, {{"G", "Gee", {"B", "A"}}});
    ASSERT_EQ(host.Recipients().size(), 2u);
    EXPECT_EQ(host.Recipients()[0].name, "A");
    EXPECT_EQ(host.Groups()[0].members, (std::vector<std::string>{"B", "A"}));
}

TEST(HostEngineFile, StatePersistsAcrossReopen) {
    std::string pattern = (std::filesystem::temp_directory_path() / "hostengine-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const std::filesystem::path dir = pattern;
    const std::string path = (dir / "host.db").string();
    Bytes request = ListRequest("*RCPL", "12403051407095");
    {
        HostEngine host(path);
        host.SeedDemoDirectory();
        ASSERT_TRUE(CallGet(host, "*CRTDTAQ", "1").ok);
        ASSERT_TRUE(CallGet(host, request).ok);
        ASSERT_EQ(CallSend(host, Send{}).flag, 'N');
    }
    {
        HostEngine host(path);
        EXPECT_TRUE(host.QueueExists(kQueue, kLib));
        EXPECT_FALSE(host.TakeEntry(kQueue, kLib, Key(request))); // entries live in memory
        ASSERT_EQ(host.Outbox().size(), 1u);
        EXPECT_EQ(host.Outbox()[0].rawRecord, ToEbcdic(Send{}.Record()));
        EXPECT_EQ(host.Groups().size(), 3u);
    }
    std::ofstream(path, std::ios::trunc) << std::string(4096, 'x');
    try {
        HostEngine garbage(path);
        ADD_FAILURE() << "opened a file that is not a database";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("not a database"), std::string::npos) << e.what();
    }
    std::filesystem::remove_all(dir);

    EXPECT_THROW(HostEngine((dir / "missing" / "host.db").string()), std::runtime_error);
}

TEST_F(HostEngineTest, ConcurrentCallsKeepStateConsistent) {
    ASSERT_TRUE(CallGet(host, "*CRTDTAQ", "1").ok);
    const std::size_t listLength = host.Recipients().size() + 1;
    constexpr int kThreads = 4, kRounds = 20;
    std::vector<std::thread> threads;
    std::vector<int> good(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kRounds; ++i) {
                Bytes request = ListRequest("*RCPL", std::to_string(t * 1000 + i));
                const bool listed =
                    CallGet(host, request).ok &&
                    host.TakeEntries(kQueue, kLib, Key(request), 1000).size() == listLength;
                const bool sent = CallSend(host, Send{}).flag == 'N';
                good[t] += listed && sent ? 1 : 0;
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(good, std::vector<int>(kThreads, kRounds));
    EXPECT_EQ(host.Outbox().size(), static_cast<std::size_t>(kThreads * kRounds));
}
