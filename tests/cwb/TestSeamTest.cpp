#include <gtest/gtest.h>

#include <string>

#include "CwbTestSupport.h"
#include "HostEngine.h"
#include "cwbco.h"
#include "cwbnl.h"

using namespace cwbtesting;

namespace {

class TestSeam : public EmbeddedHost {
  protected:
    void SetUp() override {
        EmbeddedHost::SetUp();
        reader = KeyedReader(GroupList("66666666666666"));
        queue = OpenReplyQueue();
    }
    unsigned Read() { return cwbDQ_Read(queue, reader.data, 0, errors); }

    cwbDQ_QueueHandle queue = 0;
    Reader reader;
};

} // namespace

TEST_F(TestSeam, FailNextMatchesFunctionAndSubjectAndFiresThatOften) {
    cwbtest::FailNext("cwbRC_StartSys", CWB_COMMUNICATIONS_ERROR, {}, 2, "DEMO");
    cwbRC_SysHandle system = 0;
    EXPECT_EQ(cwbRC_StartSys("OTHER", 0, &system), CWB_OK) << "another subject";
    EXPECT_EQ(cwbRC_StartSys("DEMO", 0, &system), CWB_COMMUNICATIONS_ERROR);
    EXPECT_EQ(cwbRC_StartSys("DEMO", 0, &system), CWB_COMMUNICATIONS_ERROR);
    EXPECT_EQ(cwbRC_StartSys("DEMO", 0, &system), CWB_OK);

    cwbtest::FailNext("cwbDQ_Read", CWB_TIMEOUT, "slow");
    EXPECT_EQ(Read(), CWB_TIMEOUT);
    EXPECT_EQ(OnlyError(errors), "slow");
    EXPECT_EQ(Read(), CWB_OK);
    EXPECT_EQ(Entry(reader).substr(0, 11), " MANAGERS  ") << "an injected failure takes nothing";

    cwbtest::FailNext("cwbCO_GetDefaultSysName", CWB_BUFFER_OVERFLOW, "too small", 1, {}, 300);
    char name[8];
    unsigned long needed = 0;
    EXPECT_EQ(cwbCO_GetDefaultSysName(name, sizeof name, &needed, errors), CWB_BUFFER_OVERFLOW);
    EXPECT_EQ(needed, 300u);
    cwbtest::FailNext("cwbDQ_CreateData", CWB_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(cwbDQ_CreateData(), 0u);
}

TEST_F(TestSeam, FailAfterLetsCallsThroughAndCountsApartFromFailNext) {
    cwbtest::FailAfter("cwbDQ_Read", 1, CWB_TIMEOUT, "after one");
    cwbtest::FailNext("cwbDQ_Read", CWB_COMMUNICATIONS_ERROR, "next");
    EXPECT_EQ(Read(), CWB_COMMUNICATIONS_ERROR);
    EXPECT_EQ(OnlyError(errors), "next");
    EXPECT_EQ(Read(), CWB_TIMEOUT);
    EXPECT_EQ(OnlyError(errors), "after one");
    EXPECT_EQ(Read(), CWB_OK);
    EXPECT_EQ(Read(), CWB_OK);
    EXPECT_EQ(Entry(reader).substr(0, 11), " NETWORK   ");
}

TEST_F(TestSeam, CallsAreCountedByFunctionAndSubject) {
    cwbtest::ClearCalls();
    cwbtest::FailNext("cwbRC_CallPgm", CWB_COMMUNICATIONS_ERROR, "link dropped", 1, "TVOCUPD");
    Bytes request = ListRequest("*GRPL", "1");
    EXPECT_EQ(Call("TVOCUPD", kLibrary, request), CWB_COMMUNICATIONS_ERROR);
    EXPECT_EQ(CallGet(request), CWB_OK);
    EXPECT_TRUE(cwbtest::Engine("DEMO")->TakeEntry(kReplyQueue, kLibrary, KeyOf(request)))
        << "another subject went through";
    OpenReplyQueue("demo");

    EXPECT_EQ(cwbtest::CountCalls("cwbRC_CallPgm"), 2);
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_CallPgm", "TVOCGET"), 1);
    EXPECT_EQ(cwbtest::CountCalls("cwbRC_AddParm"), 4);
    EXPECT_EQ(cwbtest::CountCalls("cwbDQ_Open", "demo"), 1);
    EXPECT_EQ(cwbtest::CountCalls("cwbDQ_Open", "DEMO"), 0);
    EXPECT_EQ(cwbtest::Calls().back().function, "cwbDQ_Open");
    cwbtest::ClearCalls();
    EXPECT_TRUE(cwbtest::Calls().empty());
}

TEST_F(TestSeam, EngineIsTheLibrarysAndResetStartsAsANewProcess) {
    const auto engine = cwbtest::Engine("demo");
    EXPECT_EQ(engine, cwbtest::Engine("DEMO"));
    EXPECT_NE(engine, cwbtest::Engine("OTHER"));
    EXPECT_EQ(cwbtest::Engine("NOPE"), nullptr);
    EXPECT_TRUE(engine->QueueExists(kReplyQueue, kLibrary));
    cwbtest::FailNext("cwbNL_GetCodePage", CWB_NOT_ENOUGH_MEMORY);

    cwbtest::Reset();
    cwbtest::UseSystems(kSystems);
    EXPECT_EQ(cwbRC_EndSys(demo), CWBRC_INVALID_SYSTEM_HANDLE);
    EXPECT_EQ(cwbDQ_Close(queue), CWBDQ_INVALID_QUEUE_HANDLE);
    EXPECT_EQ(cwbtest::Calls().size(), 2u) << "only the two calls above";
    unsigned long codePage = 0;
    EXPECT_EQ(cwbNL_GetCodePage(&codePage, 0), CWB_OK) << "armed failures are dropped";
    EXPECT_FALSE(cwbtest::Engine("DEMO")->QueueExists(kReplyQueue, kLibrary));

    cwbtest::UseSystems("[REMOTE]\naddress = tcp://127.0.0.1:7475\n");
    EXPECT_EQ(cwbtest::Engine("REMOTE"), nullptr);
}
