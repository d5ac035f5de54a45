#include <gtest/gtest.h>

#include <string>

#include "EmbeddedHostFixture.h"
#include "HostEngine.h"
#include "cwbco.h"
#include "cwbnl.h"

using namespace cwbtesting;

namespace {

class TestSeam : public EmbeddedHostFixture {
  protected:
    // Reads of a queue holding the four entries of a group list.
    void FillGroupList() {
        ASSERT_EQ(CallGet("*CRTDTAQ"), CWB_OK);
        Bytes request = ListRequest("*GRPL", "66666666666666");
        ASSERT_EQ(CallGet(request), CWB_OK);
        queue = OpenReplyQueue();
        reader = KeyedReader(KeyOf(request));
    }
    unsigned Read() { return cwbDQ_Read(queue, reader.data, 0, errors); }

    cwbDQ_QueueHandle queue = 0;
    Reader reader;
};

} // namespace

TEST_F(TestSeam, FailNextMatchesFunctionAndSubject) {
    cwbtest::FailNext("cwbRC_StartSys", CWB_COMMUNICATIONS_ERROR, {}, 1, "DEMO");
    cwbRC_SysHandle system = 0;
    EXPECT_EQ(cwbRC_StartSys("OTHER", 0, &system), CWB_OK) << "another subject";
    EXPECT_EQ(cwbRC_StartSys("DEMO", 0, &system), CWB_COMMUNICATIONS_ERROR);
    EXPECT_EQ(cwbRC_StartSys("DEMO", 0, &system), CWB_OK) << "fires once";
}

TEST_F(TestSeam, FailNextPutsItsTextInTheErrorHandle) {
    cwbtest::FailNext("cwbDQ_Open", CWB_COMMUNICATIONS_ERROR, "link dropped", 1, "DEMO");
    cwbDQ_QueueHandle q = 0;
    EXPECT_EQ(cwbDQ_Open(kReplyQueue, kLibrary, "DEMO", &q, errors), CWB_COMMUNICATIONS_ERROR);
    EXPECT_EQ(OnlyError(errors), "link dropped");
}

TEST_F(TestSeam, FailNextTimesFiresThatOften) {
    FillGroupList();
    cwbtest::FailNext("cwbDQ_Read", CWB_TIMEOUT, "slow", 2);
    EXPECT_EQ(Read(), CWB_TIMEOUT);
    EXPECT_EQ(Read(), CWB_TIMEOUT);
    EXPECT_EQ(Read(), CWB_OK);
    EXPECT_EQ(Entry(reader).substr(0, 11), " MANAGERS  ") << "injected failures take no entry";
}

TEST_F(TestSeam, FailAfterLetsCallsThroughThenFiresOnce) {
    FillGroupList();
    cwbtest::FailAfter("cwbDQ_Read", 2, CWB_TIMEOUT, "host did not answer");
    EXPECT_EQ(Read(), CWB_OK);
    EXPECT_EQ(Read(), CWB_OK);
    EXPECT_EQ(Read(), CWB_TIMEOUT);
    EXPECT_EQ(OnlyError(errors), "host did not answer");
    EXPECT_EQ(Read(), CWB_OK);
    EXPECT_EQ(Entry(reader).substr(0, 11), " OPERATORS ");
}

TEST_F(TestSeam, ArmedFailuresOfOneFunctionCountIndependently) {
    FillGroupList();
    cwbtest::FailAfter("cwbDQ_Read", 1, CWB_TIMEOUT, "after one");
    cwbtest::FailNext("cwbDQ_Read", CWB_COMMUNICATIONS_ERROR, "next");
    EXPECT_EQ(Read(), CWB_COMMUNICATIONS_ERROR);
    EXPECT_EQ(OnlyError(errors), "next");
    EXPECT_EQ(Read(), CWB_TIMEOUT);
    EXPECT_EQ(OnlyError(errors), "after one");
    EXPECT_EQ(Read(), CWB_OK);
}

TEST_F(TestSeam, InjectedCallFailureNeverReachesTheHost) {
    cwbtest::FailNext("cwbRC_CallPgm", CWB_COMMUNICATIONS_ERROR, "link dropped", 1, "TVOCGET");
    EXPECT_EQ(CallGet("*CRTDTAQ"), CWB_COMMUNICATIONS_ERROR);
    EXPECT_EQ(OnlyError(errors), "link dropped");
    EXPECT_FALSE(cwbtest::Engine("DEMO")->QueueExists(kReplyQueue, kLibrary));
}

TEST_F(TestSeam, CallsAreLoggedWithTheirSubjects) {
    cwbtest::ClearCalls();
    ASSERT_EQ(CallGet("*CRTDTAQ"), CWB_OK);
    ASSERT_EQ(CallGet("*GRPL"), CWB_OK);
    Bytes request = ListRequest("*CRTDTAQ", "1");
    EXPECT_EQ(Call("TVOCUPD", kLibrary, request), CWBRC_HOST_PROGRAM_ERROR);
    OpenReplyQueue("demo");

    EXPECT_EQ(cwbtest::CountCalls("cwbRC_CallPgm"), 3);
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_CallPgm", "TVOCGET"), 2);
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_CallPgm", "TVOCUPD"), 1);
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_CreatePgm", "TVOCGET"), 2);
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_AddParm"), 6);
    EXPECT_EQ(cwbtest::CountCalls("cwbDQ_Open", "demo"), 1);
    EXPECT_EQ(cwbtest::CountCalls("cwbDQ_Open", "DEMO"), 0);

    const auto calls = cwbtest::Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.back().function, "cwbDQ_Open");
    EXPECT_EQ(calls.back().subject, "demo");

    cwbtest::ClearCalls();
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_CallPgm"), 0);
    EXPECT_TRUE(cwbtest::Calls().empty());
}

TEST_F(TestSeam, InjectedSizeIsReported) {
    cwbtest::FailNext("cwbCO_GetDefaultSysName", CWB_BUFFER_OVERFLOW, "too small", 1, {}, 300);
    char name[8];
    unsigned long needed = 0;
    EXPECT_EQ(cwbCO_GetDefaultSysName(name, sizeof name, &needed, errors), CWB_BUFFER_OVERFLOW);
    EXPECT_EQ(needed, 300u);
    EXPECT_EQ(OnlyError(errors), "too small");
}

TEST_F(TestSeam, CreateDataCanBeMadeToFail) {
    cwbtest::FailNext("cwbDQ_CreateData", CWB_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(cwbDQ_CreateData(), 0u);
    const auto data = cwbDQ_CreateData();
    EXPECT_NE(data, 0u);
    EXPECT_EQ(cwbDQ_DeleteData(data), CWB_OK);
}

TEST_F(TestSeam, EngineIsTheOneTheLibraryUses) {
    const auto engine = cwbtest::Engine("demo");
    ASSERT_NE(engine, nullptr);
    EXPECT_EQ(engine, cwbtest::Engine("DEMO"));
    EXPECT_NE(engine, cwbtest::Engine("OTHER"));
    EXPECT_EQ(cwbtest::Engine("NOPE"), nullptr);
    ASSERT_EQ(CallGet("*CRTDTAQ"), CWB_OK);
    EXPECT_TRUE(engine->QueueExists(kReplyQueue, kLibrary));

    cwbtest::UseSystems("[REMOTE]\naddress = tcp://127.0.0.1:8475\n");
    EXPECT_EQ(cwbtest::Engine("REMOTE"), nullptr);
}

TEST_F(TestSeam, ResetStartsAsANewProcess) {
    ASSERT_EQ(CallGet("*CRTDTAQ"), CWB_OK);
    const auto queue = OpenReplyQueue();
    cwbtest::FailNext("cwbNL_GetCodePage", CWB_NOT_ENOUGH_MEMORY);

    cwbtest::Reset();
    cwbtest::UseSystems(kTwoMemoryHosts);
    EXPECT_EQ(cwbRC_EndSys(demo), CWBRC_INVALID_SYSTEM_HANDLE);
    EXPECT_EQ(cwbDQ_Close(queue), CWBDQ_INVALID_QUEUE_HANDLE);
    EXPECT_EQ(cwbtest::Calls().size(), 2u) << "only the two calls above";
    unsigned long codePage = 0;
    EXPECT_EQ(cwbNL_GetCodePage(&codePage, 0), CWB_OK) << "armed failures are dropped";
    EXPECT_FALSE(cwbtest::Engine("DEMO")->QueueExists(kReplyQueue, kLibrary))
        << "a fresh in-memory host";
}
