#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>

#include "CwbTestSupport.h"
#include "HostEngine.h"
#include "cwbco.h"
#include "cwbnl.h"

using namespace cwbtesting;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {
class RemoteCommand : public EmbeddedHost {};
class DataQueue : public EmbeddedHost {};
class Misuse : public EmbeddedHost {};
} // namespace

TEST_F(RemoteCommand, StartSysResolvesConfiguredNamesOnly) {
    const std::pair<const char*, unsigned> cases[] = {
        {"DEMO", CWB_OK},
        {"demo", CWB_OK},
        {"Other", CWB_OK},
        {"NOPE", CWB_UNKNOWN_SYSTEM},
        {"DEMO ", CWB_UNKNOWN_SYSTEM},
    };
    for (const auto& [name, rc] : cases) {
        SCOPED_TRACE(name);
        cwbRC_SysHandle system = 99;
        EXPECT_EQ(cwbRC_StartSys(name, 0, &system), rc);
        if (rc == CWB_OK) {
            EXPECT_EQ(cwbRC_EndSys(system), CWB_OK);
            EXPECT_EQ(cwbRC_EndSys(system), CWBRC_INVALID_SYSTEM_HANDLE);
        } else {
            EXPECT_EQ(system, 0u);
        }
    }
    cwbtest::UseSystems("[DEMO]\naddress = embedded\ntimeout = never\n");
    EXPECT_EQ(cwbRC_StartSys("DEMO", 0, &demo), CWB_CONFIG_ERROR);
}

TEST_F(RemoteCommand, HostRefusalsSurfaceWithTheHostsTextAndSuccessClearsThem) {
    const std::tuple<const char*, const char*, std::size_t, const char*> cases[] = {
        {"TVOCGET", "*RCPL", 124, "Data queue #TVOCGET in library TAVO400 not found."},
        {"NOPGM", "*CRTDTAQ", 124, "Program NOPGM in library TAVO400 not found."},
        {"TVOCGET", "*CRTDTAQ", 100, "124"},
    };
    for (const auto& [program, code, size, says] : cases) {
        SCOPED_TRACE(program + std::string(" ") + code);
        Bytes request = ListRequest(code, "1");
        request.resize(size);
        EXPECT_EQ(Call(program, kLibrary, request), CWBRC_HOST_PROGRAM_ERROR);
        EXPECT_NE(OnlyError(errors).find(says), std::string::npos) << ErrorTexts(errors)[0];
    }
    EXPECT_EQ(CallGet("*CRTDTAQ"), CWB_OK);
    EXPECT_TRUE(ErrorTexts(errors).empty());
}

TEST_F(RemoteCommand, BoundAreasAreReadAgainAtEachCall) {
    ASSERT_EQ(CallGet("*CRTDTAQ"), CWB_OK);
    Bytes request = ListRequest("*GRPL", "11111111111111"), unused(32000, 0);
    const std::string firstKey = KeyOf(request);
    cwbRC_PgmHandle pgm = 0;
    ASSERT_EQ(cwbRC_CreatePgm("TVOCGET", kLibrary, &pgm), CWB_OK);
    ASSERT_EQ(cwbRC_AddParm(pgm, CWBRC_INPUT, request.size(), request.data()), CWB_OK);
    ASSERT_EQ(cwbRC_AddParm(pgm, CWBRC_INOUT, unused.size(), unused.data()), CWB_OK);
    ASSERT_EQ(cwbRC_CallPgm(demo, pgm, errors), CWB_OK);
    const Bytes next = ListRequest("*GRPL", "22222222222222");
    std::copy(next.begin(), next.end(), request.begin()); // same storage, new content
    ASSERT_EQ(cwbRC_CallPgm(demo, pgm, errors), CWB_OK);

    const auto queue = OpenReplyQueue();
    for (const auto& key : {firstKey, KeyOf(request)}) {
        auto reader = KeyedReader(key);
        EXPECT_EQ(cwbDQ_Read(queue, reader.data, 0, errors), CWB_OK);
        EXPECT_EQ(Entry(reader).substr(0, 11), " MANAGERS  ");
    }
}

TEST_F(RemoteCommand, ProgramObjectRules) {
    cwbRC_PgmHandle pgm = 0;
    for (const auto& [name, library] : {std::pair{"", "TAVO400"},
                                        {"ELEVENCHARS", "TAVO400"},
                                        {"TVOCGET", "ELEVENCHARS"},
                                        {"TVOCGET", ""}})
        EXPECT_EQ(cwbRC_CreatePgm(name, library, &pgm), CWBRC_INVALID_PROGRAM) << name << library;
    ASSERT_EQ(cwbRC_CreatePgm("TENCHARSXX", "TENCHARSXX", &pgm), CWB_OK);
    unsigned char area[4] = {};
    for (int i = 0; i < CWBRC_MAX_PARMS; ++i)
        ASSERT_EQ(cwbRC_AddParm(pgm, CWBRC_INOUT, sizeof area, area), CWB_OK) << i;
    EXPECT_EQ(cwbRC_AddParm(pgm, CWBRC_INPUT, sizeof area, area), CWBRC_TOO_MANY_PARMS);
}

TEST_F(DataQueue, ReplyQueueOpensOnlyWhereItWasCreated) {
    cwbDQ_QueueHandle queue = 99;
    EXPECT_EQ(cwbDQ_Open(kReplyQueue, kLibrary, "DEMO", &queue, errors), CWBDQ_QUEUE_NOT_FOUND);
    EXPECT_EQ(queue, 0u);
    EXPECT_NE(OnlyError(errors).find(kReplyQueue), std::string::npos);

    ASSERT_EQ(CallGet("*CRTDTAQ"), CWB_OK);
    EXPECT_NE(OpenReplyQueue("demo"), 0u);
    EXPECT_TRUE(ErrorTexts(errors).empty());
    EXPECT_EQ(cwbDQ_Open(kReplyQueue, kLibrary, "OTHER", &queue, errors), CWBDQ_QUEUE_NOT_FOUND);
    EXPECT_EQ(cwbDQ_Open(kReplyQueue, "QGPL", "DEMO", &queue, errors), CWBDQ_QUEUE_NOT_FOUND);
    EXPECT_EQ(cwbDQ_Open(kReplyQueue, kLibrary, "NOPE", &queue, errors), CWB_UNKNOWN_SYSTEM);
    EXPECT_NE(OnlyError(errors).find("NOPE"), std::string::npos);
}

TEST_F(DataQueue, EntriesComeOneByOneUnderTheRequestKey) {
    const auto theirs = GroupList("12403051407096"), mine = GroupList("12403051407095");
    const auto queue = OpenReplyQueue();
    auto reader = KeyedReader(mine);
    for (const char* name : {" MANAGERS  ", " NETWORK   ", " OPERATORS ", "X          "}) {
        ASSERT_EQ(cwbDQ_Read(queue, reader.data, 0, errors), CWB_OK);
        EXPECT_EQ(Entry(reader).substr(0, 11), name);
        EXPECT_EQ(Entry(reader).size(), 61u);
    }
    const auto start = Clock::now();
    EXPECT_EQ(cwbDQ_Read(queue, reader.data, 0, errors), CWBDQ_TIMED_OUT);
    EXPECT_LT(Clock::now() - start, 500ms) << "a wait-0 read must not wait";
    EXPECT_FALSE(OnlyError(errors).empty());
    EXPECT_EQ(cwbtest::Engine("DEMO")->TakeEntries(kReplyQueue, kLibrary, theirs, 10).size(), 4u);
}

TEST_F(DataQueue, ReadWaitsForALaterEntryOrGivesUp) {
    ASSERT_EQ(CallGet("*CRTDTAQ"), CWB_OK);
    const auto queue = OpenReplyQueue();
    cwbRC_SysHandle second = 0;
    ASSERT_EQ(cwbRC_StartSys("DEMO", 0, &second), CWB_OK);
    for (long wait : {10L, -1L}) { // -1: until an entry arrives
        SCOPED_TRACE(wait);
        Bytes request = ListRequest("*GRPL", std::to_string(wait));
        auto reader = KeyedReader(KeyOf(request));
        std::thread later([&] {
            std::this_thread::sleep_for(200ms);
            EXPECT_EQ(CallGet(request, second), CWB_OK);
        });
        const auto start = Clock::now();
        EXPECT_EQ(cwbDQ_Read(queue, reader.data, wait, errors), CWB_OK);
        const auto waited = Clock::now() - start;
        later.join();
        EXPECT_GE(waited, 150ms);
        EXPECT_LT(waited, 5s);
        EXPECT_EQ(Entry(reader).substr(0, 11), " MANAGERS  ");
    }
    auto reader = KeyedReader("nothing filed under this");
    const auto start = Clock::now();
    EXPECT_EQ(cwbDQ_Read(queue, reader.data, 1, errors), CWBDQ_TIMED_OUT);
    EXPECT_GE(Clock::now() - start, 900ms);
    EXPECT_LT(Clock::now() - start, 3s);
}

TEST_F(DataQueue, EntryLargerThanTheAreaIsTruncatedAndTaken) {
    const auto key = GroupList("44444444444444");
    const auto queue = OpenReplyQueue();
    auto small = KeyedReader(key, 13);
    small.area[12] = 0xAA; // a guard byte past the area the library is given
    ASSERT_EQ(cwbDQ_SetData(small.data, small.area.data(), 12), CWB_OK);
    EXPECT_EQ(cwbDQ_Read(queue, small.data, 0, errors), CWBDQ_DATA_TRUNCATED);
    EXPECT_EQ(Entry(small), " MANAGERS  D");
    EXPECT_EQ(small.area[12], 0xAA);
    EXPECT_NE(OnlyError(errors).find("61"), std::string::npos);

    auto full = KeyedReader(key);
    ASSERT_EQ(cwbDQ_Read(queue, full.data, 0, errors), CWB_OK);
    EXPECT_EQ(Entry(full).substr(0, 11), " NETWORK   ");
}

TEST_F(DataQueue, ReadsMustAskForOneKeyExactly) {
    std::string key = GroupList("55555555555555");
    const auto queue = OpenReplyQueue();
    const std::tuple<bool, bool, cwbDQ_SearchOrder, unsigned> cases[] = {
        {false, true, CWBDQ_EQUAL, CWBDQ_NO_DATA_AREA},
        {true, false, CWBDQ_EQUAL, CWBDQ_INVALID_SEARCH},
        {true, true, CWBDQ_NONE, CWBDQ_INVALID_SEARCH},
        {true, true, CWBDQ_GT_OR_EQUAL, CWBDQ_INVALID_SEARCH},
    };
    Bytes area(61, 0);
    for (const auto& [withArea, withKey, order, rc] : cases) {
        SCOPED_TRACE(testing::Message() << withArea << withKey << order);
        const auto data = cwbDQ_CreateData();
        if (withArea)
            cwbDQ_SetData(data, area.data(), area.size());
        if (withKey)
            cwbDQ_SetSearchKey(data, reinterpret_cast<unsigned char*>(key.data()), 24);
        ASSERT_EQ(cwbDQ_SetSearchOrder(data, order), CWB_OK);
        EXPECT_EQ(cwbDQ_Read(queue, data, 0, errors), rc);
        EXPECT_FALSE(OnlyError(errors).empty());
    }
    auto reader = KeyedReader(key);
    ASSERT_EQ(cwbDQ_Read(queue, reader.data, 0, errors), CWB_OK);
    EXPECT_EQ(Entry(reader).substr(0, 11), " MANAGERS  ") << "a refused read took an entry";
}

// Handles never made or gone, null pointers and values out of range: each call refuses
// them with its code and, where it takes an error handle, says why there.
TEST_F(Misuse, EveryCallRefusesWhatItCannotUse) {
    ASSERT_EQ(CallGet("*CRTDTAQ"), CWB_OK);
    const auto queue = OpenReplyQueue(), closed = OpenReplyQueue();
    const auto data = cwbDQ_CreateData(), goneData = cwbDQ_CreateData();
    cwbCO_SysListHandle list = 0, goneList = 0;
    cwbSV_ErrHandle goneErrors = 0;
    cwbNL_Converter converter = 0, goneConverter = 0;
    cwbRC_PgmHandle program = 0, goneProgram = 0;
    for (auto* made : {&list, &goneList})
        ASSERT_EQ(cwbCO_CreateSysListHandle(made, errors), CWB_OK);
    for (auto* made : {&converter, &goneConverter})
        ASSERT_EQ(cwbNL_CreateConverterEx(819, 37, made, errors, 0, 0, nullptr), CWB_OK);
    for (auto* made : {&program, &goneProgram})
        ASSERT_EQ(cwbRC_CreatePgm("TVOCGET", kLibrary, made), CWB_OK);
    ASSERT_EQ(cwbSV_CreateErrHandle(&goneErrors), CWB_OK);
    ASSERT_TRUE(cwbDQ_Close(closed) == CWB_OK && cwbDQ_DeleteData(goneData) == CWB_OK &&
                cwbCO_DeleteSysListHandle(goneList) == CWB_OK &&
                cwbSV_DeleteErrHandle(goneErrors) == CWB_OK &&
                cwbNL_DeleteConverter(goneConverter, errors) == CWB_OK &&
                cwbRC_DeletePgm(goneProgram) == CWB_OK);
    std::string key(CWBDQ_MAX_KEY_LENGTH + 1, 'k');
    auto* bytes = reinterpret_cast<unsigned char*>(key.data());
    char text[64], pad[2] = {' ', ' '};
    unsigned long n = 0;
    cwbRC_SysHandle none = 0;
    const auto told = [this] { return ErrorTexts(errors).size(); }; // right after its call
    constexpr std::size_t kNoHandle = 99;
    const struct {
        unsigned got, rc;
        std::size_t texts = kNoHandle;
    } rows[] = {
        {cwbRC_StartSys(nullptr, 0, &none), CWB_INVALID_POINTER},
        {cwbRC_CreatePgm("TVOCGET", kLibrary, nullptr), CWB_INVALID_POINTER},
        {cwbRC_AddParm(program, 0, 4, bytes), CWBRC_INVALID_TYPE},
        {cwbRC_AddParm(program, 4, 4, bytes), CWBRC_INVALID_TYPE},
        {cwbRC_AddParm(program, CWBRC_INPUT, 4, nullptr), CWB_INVALID_POINTER},
        {cwbRC_AddParm(goneProgram, CWBRC_INPUT, 4, bytes), CWBRC_INVALID_PROGRAM},
        {cwbRC_CallPgm(demo + 1000, program, errors), CWBRC_INVALID_SYSTEM_HANDLE, told()},
        {cwbRC_CallPgm(demo, goneProgram, errors), CWBRC_INVALID_PROGRAM, told()},
        {cwbRC_DeletePgm(goneProgram), CWBRC_INVALID_PROGRAM},
        {cwbRC_EndSys(demo + 1000), CWBRC_INVALID_SYSTEM_HANDLE},
        {cwbDQ_Open(nullptr, kLibrary, "DEMO", &n, errors), CWB_INVALID_POINTER, told()},
        {cwbDQ_SetSearchKey(data, bytes, CWBDQ_MAX_KEY_LENGTH + 1), CWBDQ_INVALID_KEY_LENGTH},
        {cwbDQ_SetSearchKey(data, bytes, CWBDQ_MAX_KEY_LENGTH), CWB_OK},
        {cwbDQ_SetSearchKey(data, nullptr, 4), CWB_INVALID_POINTER},
        {cwbDQ_SetSearchOrder(data, static_cast<cwbDQ_SearchOrder>(7)), CWBDQ_INVALID_SEARCH},
        {cwbDQ_SetData(data, nullptr, 4), CWB_INVALID_POINTER},
        {cwbDQ_GetDataLen(data, nullptr), CWB_INVALID_POINTER},
        {cwbDQ_SetData(goneData, bytes, 4), CWBDQ_INVALID_DATA_HANDLE},
        {cwbDQ_SetSearchKey(goneData, bytes, 1), CWBDQ_INVALID_DATA_HANDLE},
        {cwbDQ_SetSearchOrder(goneData, CWBDQ_EQUAL), CWBDQ_INVALID_DATA_HANDLE},
        {cwbDQ_GetDataLen(goneData, &n), CWBDQ_INVALID_DATA_HANDLE},
        {cwbDQ_DeleteData(goneData), CWBDQ_INVALID_DATA_HANDLE},
        {cwbDQ_Close(closed), CWBDQ_INVALID_QUEUE_HANDLE},
        {cwbDQ_Read(closed, data, 0, errors), CWBDQ_INVALID_QUEUE_HANDLE, told()},
        {cwbDQ_Read(queue, goneData, 0, errors), CWBDQ_INVALID_DATA_HANDLE, told()},
        {cwbCO_CreateSysListHandle(nullptr, errors), CWB_INVALID_POINTER, told()},
        {cwbCO_GetNextSysName(goneList, text, sizeof text, &n), CWB_INVALID_HANDLE},
        {cwbCO_GetSysListSize(goneList, &n), CWB_INVALID_HANDLE},
        {cwbCO_DeleteSysListHandle(goneList), CWB_INVALID_HANDLE},
        {cwbCO_GetSysListSize(list, nullptr), CWB_INVALID_POINTER},
        {cwbCO_GetNextSysName(list, nullptr, 64, &n), CWB_INVALID_POINTER},
        {cwbCO_GetNextSysName(list, text, sizeof text, nullptr), CWB_INVALID_POINTER},
        {cwbCO_GetDefaultSysName(nullptr, 64, &n, errors), CWB_INVALID_POINTER, told()},
        {cwbSV_GetErrCount(goneErrors, &n), CWB_INVALID_HANDLE},
        {cwbSV_GetErrCount(0, &n), CWB_INVALID_HANDLE},
        {cwbSV_GetErrText(goneErrors, text, sizeof text, &n), CWB_INVALID_HANDLE},
        {cwbSV_GetErrTextIndexed(goneErrors, 1, text, sizeof text, &n), CWB_INVALID_HANDLE},
        {cwbSV_DeleteErrHandle(goneErrors), CWB_INVALID_HANDLE},
        {cwbSV_CreateErrHandle(nullptr), CWB_INVALID_POINTER},
        {cwbSV_GetErrCount(errors, nullptr), CWB_INVALID_POINTER},
        {cwbSV_GetErrText(errors, nullptr, 10, &n), CWB_INVALID_POINTER},
        {cwbSV_GetErrTextIndexed(errors, 1, nullptr, 10, &n), CWB_INVALID_POINTER},
        {cwbNL_GetCodePage(nullptr, errors), CWB_INVALID_POINTER, told()},
        {cwbNL_CreateConverterEx(819, 37, nullptr, errors, 0, 0, nullptr), CWB_INVALID_POINTER},
        {cwbNL_CreateConverterEx(819, 37, &n, errors, 0, 2, pad), CWB_INVALID_PARAMETER},
        {cwbNL_CreateConverterEx(819, 37, &n, errors, 0, 1, nullptr), CWB_INVALID_PARAMETER},
        {cwbNL_Convert(converter, 1, 4, nullptr, text, nullptr, nullptr, nullptr, errors),
         CWB_INVALID_POINTER},
        {cwbNL_Convert(goneConverter, 1, 4, pad, text, nullptr, nullptr, nullptr, errors),
         CWBNL_ERR_CNV_INVALID_HANDLE, told()},
        {cwbNL_DeleteConverter(goneConverter, errors), CWBNL_ERR_CNV_INVALID_HANDLE, told()},
    };
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        EXPECT_EQ(rows[i].got, rows[i].rc) << "row " << i;
        EXPECT_TRUE(rows[i].texts == kNoHandle || rows[i].texts == 1) << "row " << i;
    }
}
