#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "EmbeddedHostFixture.h"
#include "HostEngine.h"

using namespace cwbtesting;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

class RemoteCommand : public EmbeddedHostFixture {};
class DataQueue : public EmbeddedHostFixture {};

std::string Padded(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

Bytes Area(std::string_view latin1, std::size_t length) {
    const std::string ebcdic = tavo::codepage::ToEbcdic(Padded(std::string(latin1), length));
    return Bytes(ebcdic.begin(), ebcdic.end());
}

} // namespace

TEST_F(RemoteCommand, StartSysResolvesConfiguredNamesOnly) {
    struct Case {
        const char* name;
        unsigned rc;
    };
    const Case cases[] = {
        {"DEMO", CWB_OK},
        {"demo", CWB_OK},
        {"Other", CWB_OK},
        {"NOPE", CWB_UNKNOWN_SYSTEM},
        {"DEMO ", CWB_UNKNOWN_SYSTEM},
        {"", CWB_UNKNOWN_SYSTEM},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        cwbRC_SysHandle system = 99;
        EXPECT_EQ(cwbRC_StartSys(c.name, 0, &system), c.rc);
        if (c.rc == CWB_OK) {
            EXPECT_NE(system, 0u);
            EXPECT_EQ(cwbRC_EndSys(system), CWB_OK);
            EXPECT_EQ(cwbRC_EndSys(system), CWBRC_INVALID_SYSTEM_HANDLE);
        } else {
            EXPECT_EQ(system, 0u);
        }
    }
    EXPECT_EQ(cwbRC_StartSys(nullptr, 0, &demo), CWB_INVALID_POINTER);
}

TEST_F(RemoteCommand, StartSysWithMalformedSystemsFileIsAConfigError) {
    cwbtest::UseSystems("[DEMO]\naddress = embedded\ntimeout = never\n");
    cwbRC_SysHandle system = 0;
    EXPECT_EQ(cwbRC_StartSys("DEMO", 0, &system), CWB_CONFIG_ERROR);
}

TEST_F(RemoteCommand, HostProgramErrorsSurfaceWithTheHostsText) {
    struct Case {
        const char* program;
        const char* library;
        const char* code;
        const char* says;
    };
    const Case cases[] = {
        {"TVOCGET", "TAVO400", "*RCPL", "Data queue #TVOCGET in library TAVO400 not found."},
        {"TVOCGET", "TAVO400", "*DLTDTAQ", "*DLTDTAQ"},
        {"TVOCGET", "TAVO400", "", "without a function code"},
        {"NOPGM", "TAVO400", "*CRTDTAQ", "Program NOPGM in library TAVO400 not found."},
        {"TVOCGET", "QGPL", "*CRTDTAQ", "QGPL"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.code);
        Bytes request = ListRequest(c.code, "1");
        EXPECT_EQ(Call(c.program, c.library, request), CWBRC_HOST_PROGRAM_ERROR);
        EXPECT_NE(OnlyError(errors).find(c.says), std::string::npos) << LastText();
    }
}

TEST_F(RemoteCommand, WrongParameterAreaIsTheHostsToRefuse) {
    Bytes shortRequest(100, 0x40);
    EXPECT_EQ(CallGet(shortRequest), CWBRC_HOST_PROGRAM_ERROR);
    EXPECT_NE(OnlyError(errors).find("124"), std::string::npos) << LastText();
}

TEST_F(RemoteCommand, SuccessfulCallLeavesNoText) {
    EXPECT_EQ(CallGet("*DLTDTAQ"), CWBRC_HOST_PROGRAM_ERROR);
    EXPECT_EQ(CallGet("*CRTDTAQ"), CWB_OK);
    EXPECT_TRUE(ErrorTexts(errors).empty());
}

TEST_F(RemoteCommand, BoundAreasAreReadAgainAtEachCall) {
    ASSERT_EQ(CallGet("*CRTDTAQ"), CWB_OK);
    Bytes request = ListRequest("*GRPL", "11111111111111");
    const std::string firstKey = KeyOf(request);
    cwbRC_PgmHandle pgm = 0;
    ASSERT_EQ(cwbRC_CreatePgm(kListProgram, kLibrary, &pgm), CWB_OK);
    Bytes unused(kAreaLength, 0);
    ASSERT_EQ(cwbRC_AddParm(pgm, CWBRC_INPUT, request.size(), request.data()), CWB_OK);
    ASSERT_EQ(cwbRC_AddParm(pgm, CWBRC_INOUT, unused.size(), unused.data()), CWB_OK);
    ASSERT_EQ(cwbRC_CallPgm(demo, pgm, errors), CWB_OK);
    const Bytes next = ListRequest("*GRPL", "22222222222222");
    std::copy(next.begin(), next.end(), request.begin()); // same storage, new content
    ASSERT_EQ(cwbRC_CallPgm(demo, pgm, errors), CWB_OK);

    const auto queue = OpenReplyQueue();
    for (const auto& key : {firstKey, KeyOf(request)}) {
        auto reader = KeyedReader(key);
        EXPECT_EQ(cwbDQ_Read(queue, reader.data, 0, errors), CWB_OK) << LastText();
        EXPECT_EQ(Entry(reader).substr(0, 11), " MANAGERS  ");
    }
}

TEST_F(RemoteCommand, OutputAreaIsFilledByTheCall) {
    std::string record = "02" + Padded("SMITH", 10) + Padded("JONES", 10);
    record = Padded(record, 502) + "Hi@@Call me";
    record = Padded(record, 1501) + "*RCP" + "YY     ";
    Bytes function = Area("*CA", 10), action = Area("*SNDTVO", 10), unused1 = Area("", 10),
          unused2 = Area("", 30), send = Area(record, 2000), reply(kAreaLength, 0);
    send.resize(kAreaLength, 0);

    cwbRC_PgmHandle pgm = 0;
    ASSERT_EQ(cwbRC_CreatePgm("TVOCUPD", kLibrary, &pgm), CWB_OK);
    for (Bytes* input : {&function, &action, &unused1, &unused2, &send})
        ASSERT_EQ(cwbRC_AddParm(pgm, CWBRC_INPUT, input->size(), input->data()), CWB_OK);
    ASSERT_EQ(cwbRC_AddParm(pgm, CWBRC_OUTPUT, reply.size(), reply.data()), CWB_OK);
    ASSERT_EQ(cwbRC_CallPgm(demo, pgm, errors), CWB_OK) << LastText();

    EXPECT_EQ(Latin1(reply, 6), "N00000");
    const auto outbox = cwbtest::Engine("DEMO")->Outbox();
    ASSERT_EQ(outbox.size(), 1u);
    EXPECT_EQ(outbox[0].names, (std::vector<std::string>{"SMITH", "JONES"}));
    EXPECT_EQ(outbox[0].subject, "Hi");
    EXPECT_EQ(outbox[0].body, "Call me");
}

TEST_F(RemoteCommand, ProgramObjectRules) {
    cwbRC_PgmHandle pgm = 0;
    EXPECT_EQ(cwbRC_CreatePgm("TVOCGET", "TAVO400", nullptr), CWB_INVALID_POINTER);
    EXPECT_EQ(cwbRC_CreatePgm("", "TAVO400", &pgm), CWBRC_INVALID_PROGRAM);
    EXPECT_EQ(cwbRC_CreatePgm("ELEVENCHARS", "TAVO400", &pgm), CWBRC_INVALID_PROGRAM);
    EXPECT_EQ(cwbRC_CreatePgm("TVOCGET", "ELEVENCHARS", &pgm), CWBRC_INVALID_PROGRAM);
    ASSERT_EQ(cwbRC_CreatePgm("TENCHARSXX", "TENCHARSXX", &pgm), CWB_OK);

    unsigned char area[4] = {};
    for (unsigned short type : {0, 4, 7})
        EXPECT_EQ(cwbRC_AddParm(pgm, type, sizeof area, area), CWBRC_INVALID_TYPE) << type;
    EXPECT_EQ(cwbRC_AddParm(pgm, CWBRC_INPUT, 4, nullptr), CWB_INVALID_POINTER);
    for (int i = 0; i < CWBRC_MAX_PARMS; ++i)
        ASSERT_EQ(cwbRC_AddParm(pgm, CWBRC_INOUT, sizeof area, area), CWB_OK) << i;
    EXPECT_EQ(cwbRC_AddParm(pgm, CWBRC_INPUT, sizeof area, area), CWBRC_TOO_MANY_PARMS);

    EXPECT_EQ(cwbRC_CallPgm(demo + 1000, pgm, errors), CWBRC_INVALID_SYSTEM_HANDLE);
    EXPECT_FALSE(OnlyError(errors).empty());
    EXPECT_EQ(cwbRC_DeletePgm(pgm), CWB_OK);
    EXPECT_EQ(cwbRC_CallPgm(demo, pgm, errors), CWBRC_INVALID_PROGRAM);
    EXPECT_FALSE(OnlyError(errors).empty());
    EXPECT_EQ(cwbRC_AddParm(pgm, CWBRC_INPUT, sizeof area, area), CWBRC_INVALID_PROGRAM);
    EXPECT_EQ(cwbRC_DeletePgm(pgm), CWBRC_INVALID_PROGRAM);
}

TEST_F(DataQueue, ReplyQueueExistsOnlyAfterTheCreateRequest) {
    cwbDQ_QueueHandle queue = 99;
    EXPECT_EQ(cwbDQ_Open(kReplyQueue, kLibrary, "DEMO", &queue, errors), CWBDQ_QUEUE_NOT_FOUND);
    EXPECT_EQ(queue, 0u);
    EXPECT_NE(OnlyError(errors).find(kReplyQueue), std::string::npos) << LastText();

    Bytes request = ListRequest("*CRTDTAQ", "10001010000000");
    EXPECT_EQ(request[0], 0x5C) << "'*' in EBCDIC";
    ASSERT_EQ(CallGet(request), CWB_OK) << LastText();
    EXPECT_NE(OpenReplyQueue("DEMO"), 0u);
    EXPECT_TRUE(ErrorTexts(errors).empty());
    EXPECT_NE(OpenReplyQueue("demo"), 0u);
    EXPECT_TRUE(cwbtest::Engine("Demo")->QueueExists(kReplyQueue, kLibrary));

    // Each in-memory system is a host of its own.
    EXPECT_EQ(cwbDQ_Open(kReplyQueue, kLibrary, "OTHER", &queue, errors), CWBDQ_QUEUE_NOT_FOUND);
    EXPECT_EQ(cwbDQ_Open(kReplyQueue, "QGPL", "DEMO", &queue, errors), CWBDQ_QUEUE_NOT_FOUND);
    EXPECT_EQ(cwbDQ_Open(kReplyQueue, kLibrary, "NOPE", &queue, errors), CWB_UNKNOWN_SYSTEM);
    EXPECT_NE(OnlyError(errors).find("NOPE"), std::string::npos) << LastText();
    EXPECT_EQ(cwbDQ_Open(nullptr, kLibrary, "DEMO", &queue, errors), CWB_INVALID_POINTER);
}

TEST_F(DataQueue, ListEntriesComeOneByOneUnderTheRequestKey) {
    ASSERT_EQ(CallGet("*CRTDTAQ"), CWB_OK);
    Bytes mine = ListRequest("*RCPL", "12403051407095");
    Bytes theirs = ListRequest("*RCPL", "12403051407096");
    ASSERT_EQ(CallGet(theirs), CWB_OK);
    ASSERT_EQ(CallGet(mine), CWB_OK);

    const auto queue = OpenReplyQueue();
    auto reader = KeyedReader(KeyOf(mine));
    const auto recipients = cwbtest::Engine("DEMO")->Recipients();
    ASSERT_FALSE(recipients.empty());
    for (const auto& recipient : recipients) {
        ASSERT_EQ(cwbDQ_Read(queue, reader.data, 0, errors), CWB_OK) << LastText();
        EXPECT_EQ(Entry(reader),
                  " " + Padded(recipient.name, 10) + Padded(recipient.description, 50));
    }
    ASSERT_EQ(cwbDQ_Read(queue, reader.data, 0, errors), CWB_OK) << LastText();
    EXPECT_EQ(Entry(reader), "X" + std::string(60, ' '));

    const auto start = Clock::now();
    EXPECT_EQ(cwbDQ_Read(queue, reader.data, 0, errors), CWBDQ_TIMED_OUT);
    EXPECT_LT(Clock::now() - start, 500ms) << "a wait-0 read must not wait";
    EXPECT_FALSE(OnlyError(errors).empty());

    // The other request's replies were left alone.
    auto other = KeyedReader(KeyOf(theirs));
    ASSERT_EQ(cwbDQ_Read(queue, other.data, 0, errors), CWB_OK) << LastText();
    EXPECT_EQ(Entry(other).substr(0, 11), " " + Padded(recipients.front().name, 10));
}

TEST_F(DataQueue, ReadWaitsForAnEntryThatArrivesLater) {
    ASSERT_EQ(CallGet("*CRTDTAQ"), CWB_OK);
    const auto queue = OpenReplyQueue();
    cwbRC_SysHandle second = 0;
    ASSERT_EQ(cwbRC_StartSys("DEMO", 0, &second), CWB_OK);

    for (long wait : {10L, -1L}) { // -1: until an entry arrives
        SCOPED_TRACE(wait);
        Bytes request = ListRequest("*GRPL", std::to_string(wait));
        auto reader = KeyedReader(KeyOf(request));
        unsigned callRc = 99;
        std::thread later([&] {
            std::this_thread::sleep_for(200ms);
            callRc = CallGet(request, second);
        });
        const auto start = Clock::now();
        const auto rc = cwbDQ_Read(queue, reader.data, wait, errors);
        const auto waited = Clock::now() - start;
        later.join();
        EXPECT_EQ(callRc, CWB_OK);
        EXPECT_EQ(rc, CWB_OK) << LastText();
        EXPECT_GE(waited, 150ms);
        EXPECT_LT(waited, 5s);
        EXPECT_EQ(Entry(reader).substr(0, 11), " MANAGERS  ");
    }
}

TEST_F(DataQueue, TimedReadGivesUpAfterTheWait) {
    ASSERT_EQ(CallGet("*CRTDTAQ"), CWB_OK);
    const auto queue = OpenReplyQueue();
    auto reader = KeyedReader("nothing filed under this");
    const auto start = Clock::now();
    EXPECT_EQ(cwbDQ_Read(queue, reader.data, 1, errors), CWBDQ_TIMED_OUT);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 900ms);
    EXPECT_LT(waited, 3s);
    EXPECT_FALSE(OnlyError(errors).empty());
}

TEST_F(DataQueue, EntryLargerThanTheAreaIsTruncated) {
    ASSERT_EQ(CallGet("*CRTDTAQ"), CWB_OK);
    Bytes request = ListRequest("*GRPL", "44444444444444");
    ASSERT_EQ(CallGet(request), CWB_OK);
    const auto queue = OpenReplyQueue();

    auto small = KeyedReader(KeyOf(request), 13);
    small.area[12] = 0xAA; // a guard byte past the area the library is given
    ASSERT_EQ(cwbDQ_SetData(small.data, small.area.data(), 12), CWB_OK);
    EXPECT_EQ(cwbDQ_Read(queue, small.data, 0, errors), CWBDQ_DATA_TRUNCATED);
    EXPECT_EQ(Latin1(small.area, 12), " MANAGERS  D");
    EXPECT_EQ(small.area[12], 0xAA);
    unsigned long length = 0;
    EXPECT_EQ(cwbDQ_GetDataLen(small.data, &length), CWB_OK);
    EXPECT_EQ(length, 12u);
    EXPECT_NE(OnlyError(errors).find("61"), std::string::npos) << LastText();

    // As on a real queue, the entry left the queue when it was read.
    auto full = KeyedReader(KeyOf(request));
    ASSERT_EQ(cwbDQ_Read(queue, full.data, 0, errors), CWB_OK);
    EXPECT_EQ(Entry(full).substr(0, 11), " NETWORK   ");
}

TEST_F(DataQueue, ReadsMustAskForOneKeyExactly) {
    ASSERT_EQ(CallGet("*CRTDTAQ"), CWB_OK);
    Bytes request = ListRequest("*GRPL", "55555555555555");
    ASSERT_EQ(CallGet(request), CWB_OK);
    const auto queue = OpenReplyQueue();
    std::string key = KeyOf(request);
    auto* keyBytes = reinterpret_cast<unsigned char*>(key.data());

    struct Case {
        const char* what;
        bool area;
        bool key;
        cwbDQ_SearchOrder order;
        unsigned rc;
    };
    const Case cases[] = {
        {"no area", false, true, CWBDQ_EQUAL, CWBDQ_NO_DATA_AREA},
        {"no key", true, false, CWBDQ_EQUAL, CWBDQ_INVALID_SEARCH},
        {"order none", true, true, CWBDQ_NONE, CWBDQ_INVALID_SEARCH},
        {"order not equal", true, true, CWBDQ_NOT_EQUAL, CWBDQ_INVALID_SEARCH},
        {"order greater or equal", true, true, CWBDQ_GT_OR_EQUAL, CWBDQ_INVALID_SEARCH},
        {"order less", true, true, CWBDQ_LESS, CWBDQ_INVALID_SEARCH},
    };
    Bytes area(kEntryLength, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto data = cwbDQ_CreateData();
        if (c.area) {
            ASSERT_EQ(cwbDQ_SetData(data, area.data(), area.size()), CWB_OK);
        }
        if (c.key) {
            ASSERT_EQ(cwbDQ_SetSearchKey(data, keyBytes, 24), CWB_OK);
        }
        ASSERT_EQ(cwbDQ_SetSearchOrder(data, c.order), CWB_OK);
        EXPECT_EQ(cwbDQ_Read(queue, data, 0, errors), c.rc);
        EXPECT_FALSE(OnlyError(errors).empty());
        EXPECT_EQ(cwbDQ_DeleteData(data), CWB_OK);
    }
    // None of the refused reads took an entry.
    auto reader = KeyedReader(key);
    ASSERT_EQ(cwbDQ_Read(queue, reader.data, 0, errors), CWB_OK);
    EXPECT_EQ(Entry(reader).substr(0, 11), " MANAGERS  ");
}

TEST_F(DataQueue, DataObjectRules) {
    const auto data = cwbDQ_CreateData();
    ASSERT_NE(data, 0u);
    std::string key(CWBDQ_MAX_KEY_LENGTH + 1, 'k');
    auto* keyBytes = reinterpret_cast<unsigned char*>(key.data());
    EXPECT_EQ(cwbDQ_SetSearchKey(data, keyBytes, CWBDQ_MAX_KEY_LENGTH + 1),
              CWBDQ_INVALID_KEY_LENGTH);
    EXPECT_EQ(cwbDQ_SetSearchKey(data, keyBytes, CWBDQ_MAX_KEY_LENGTH), CWB_OK);
    EXPECT_EQ(cwbDQ_SetSearchKey(data, nullptr, 4), CWB_INVALID_POINTER);
    EXPECT_EQ(cwbDQ_SetSearchOrder(data, static_cast<cwbDQ_SearchOrder>(7)), CWBDQ_INVALID_SEARCH);
    EXPECT_EQ(cwbDQ_SetData(data, nullptr, 4), CWB_INVALID_POINTER);

    EXPECT_EQ(cwbDQ_DeleteData(data), CWB_OK);
    unsigned char area[4];
    unsigned long length = 0;
    EXPECT_EQ(cwbDQ_SetData(data, area, sizeof area), CWBDQ_INVALID_DATA_HANDLE);
    EXPECT_EQ(cwbDQ_SetSearchKey(data, area, 1), CWBDQ_INVALID_DATA_HANDLE);
    EXPECT_EQ(cwbDQ_SetSearchOrder(data, CWBDQ_EQUAL), CWBDQ_INVALID_DATA_HANDLE);
    EXPECT_EQ(cwbDQ_GetDataLen(data, &length), CWBDQ_INVALID_DATA_HANDLE);
    EXPECT_EQ(cwbDQ_DeleteData(data), CWBDQ_INVALID_DATA_HANDLE);
}

TEST_F(DataQueue, ClosedQueueAndDeletedDataAreInvalid) {
    ASSERT_EQ(CallGet("*CRTDTAQ"), CWB_OK);
    const auto queue = OpenReplyQueue();
    auto reader = KeyedReader("key");
    ASSERT_EQ(cwbDQ_Close(queue), CWB_OK);
    EXPECT_EQ(cwbDQ_Close(queue), CWBDQ_INVALID_QUEUE_HANDLE);
    EXPECT_EQ(cwbDQ_Read(queue, reader.data, 0, errors), CWBDQ_INVALID_QUEUE_HANDLE);
    EXPECT_FALSE(OnlyError(errors).empty());

    const auto reopened = OpenReplyQueue();
    ASSERT_EQ(cwbDQ_DeleteData(reader.data), CWB_OK);
    EXPECT_EQ(cwbDQ_Read(reopened, reader.data, 0, errors), CWBDQ_INVALID_DATA_HANDLE);
    EXPECT_FALSE(OnlyError(errors).empty());
}
