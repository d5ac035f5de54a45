#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "CwbTestSupport.h"
#include "State.h"
#include "cwbnl.h"

using namespace cwbtesting;

namespace {

class Service : public ::testing::Test {
  protected:
    void SetUp() override { cwbtest::Reset(); }

    // Handles only ever gain texts from failing calls; put several in directly.
    void Fill(std::initializer_list<const char*> texts) {
        for (const char* text : texts)
            cwb::AddError(errors, text);
    }

    ErrHandle errors;
};

} // namespace

TEST_F(Service, NewHandleIsEmpty) {
    unsigned long count = 99;
    EXPECT_EQ(cwbSV_GetErrCount(errors, &count), CWB_OK);
    EXPECT_EQ(count, 0u);
    char text[16];
    unsigned long needed = 0;
    EXPECT_EQ(cwbSV_GetErrText(errors, text, sizeof text, &needed), CWBSV_NO_ERROR_MESSAGES);
    EXPECT_EQ(cwbSV_GetErrTextIndexed(errors, 1, text, sizeof text, &needed),
              CWBSV_NO_ERROR_MESSAGES);
}

TEST_F(Service, IndexOneIsTheOldestAndGetErrTextTheNewest) {
    Fill({"first", "second", "third"});
    unsigned long count = 0;
    EXPECT_EQ(cwbSV_GetErrCount(errors, &count), CWB_OK);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(ErrorTexts(errors), (std::vector<std::string>{"first", "second", "third"}));

    char text[32];
    unsigned long needed = 0;
    EXPECT_EQ(cwbSV_GetErrText(errors, text, sizeof text, &needed), CWB_OK);
    EXPECT_STREQ(text, "third");
    EXPECT_EQ(needed, 6u);
    for (unsigned long index : {0ul, 4ul, 1000ul})
        EXPECT_EQ(cwbSV_GetErrTextIndexed(errors, index, text, sizeof text, &needed),
                  CWBSV_NO_ERROR_MESSAGES)
            << index;
}

TEST_F(Service, SmallAreaGetsATerminatedCutText) {
    Fill({"Hello world"}); // 11 characters, 12 with the terminator
    struct Case {
        unsigned long size;
        unsigned rc;
        const char* text;
    };
    const Case cases[] = {
        {12, CWB_OK, "Hello world"},
        {11, CWB_BUFFER_OVERFLOW, "Hello worl"},
        {6, CWB_BUFFER_OVERFLOW, "Hello"},
        {1, CWB_BUFFER_OVERFLOW, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.size);
        char area[32];
        std::memset(area, '#', sizeof area);
        unsigned long needed = 0;
        EXPECT_EQ(cwbSV_GetErrTextIndexed(errors, 1, area, c.size, &needed), c.rc);
        EXPECT_EQ(needed, 12u);
        EXPECT_STREQ(area, c.text);
        EXPECT_EQ(area[c.size], '#') << "wrote past the area";

        std::memset(area, '#', sizeof area);
        needed = 0;
        EXPECT_EQ(cwbSV_GetErrText(errors, area, c.size, &needed), c.rc);
        EXPECT_EQ(needed, 12u);
        EXPECT_STREQ(area, c.text);
    }

    char untouched = '#';
    unsigned long needed = 0;
    EXPECT_EQ(cwbSV_GetErrText(errors, &untouched, 0, &needed), CWB_BUFFER_OVERFLOW);
    EXPECT_EQ(needed, 12u);
    EXPECT_EQ(untouched, '#');
}

TEST_F(Service, EachCallStartsTheHandleAfresh) {
    Fill({"left over", "from before"});
    unsigned long codePage = 0;
    ASSERT_EQ(cwbNL_GetCodePage(&codePage, errors), CWB_OK);
    EXPECT_TRUE(ErrorTexts(errors).empty()) << "a successful call leaves no old texts";

    cwbtest::FailNext("cwbNL_GetCodePage", CWB_NOT_ENOUGH_MEMORY, "one");
    cwbtest::FailNext("cwbNL_GetCodePage", CWB_NOT_ENOUGH_MEMORY, "two");
    EXPECT_EQ(cwbNL_GetCodePage(&codePage, errors), CWB_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(cwbNL_GetCodePage(&codePage, errors), CWB_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(ErrorTexts(errors), std::vector<std::string>{"two"});
}

TEST_F(Service, HandlesAreIndependent) {
    ErrHandle other;
    cwb::AddError(other, "other's");
    cwbtest::FailNext("cwbNL_GetCodePage", CWB_NOT_ENOUGH_MEMORY, "mine");
    unsigned long codePage = 0;
    EXPECT_EQ(cwbNL_GetCodePage(&codePage, errors), CWB_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(ErrorTexts(errors), std::vector<std::string>{"mine"});
    EXPECT_EQ(ErrorTexts(other), std::vector<std::string>{"other's"});
}

TEST_F(Service, NoHandleIsAcceptedByCallsThatTakeOne) {
    cwbtest::FailNext("cwbNL_GetCodePage", CWB_NOT_ENOUGH_MEMORY, "nowhere to go");
    unsigned long codePage = 0;
    EXPECT_EQ(cwbNL_GetCodePage(&codePage, 0), CWB_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(cwbNL_GetCodePage(&codePage, 0), CWB_OK);
}

TEST_F(Service, DeletedHandleIsInvalid) {
    cwbSV_ErrHandle handle = 0;
    ASSERT_EQ(cwbSV_CreateErrHandle(&handle), CWB_OK);
    EXPECT_NE(handle, 0u);
    cwb::AddError(handle, "text");
    ASSERT_EQ(cwbSV_DeleteErrHandle(handle), CWB_OK);

    unsigned long count = 0, needed = 0;
    char text[16];
    EXPECT_EQ(cwbSV_GetErrCount(handle, &count), CWB_INVALID_HANDLE);
    EXPECT_EQ(cwbSV_GetErrText(handle, text, sizeof text, &needed), CWB_INVALID_HANDLE);
    EXPECT_EQ(cwbSV_GetErrTextIndexed(handle, 1, text, sizeof text, &needed), CWB_INVALID_HANDLE);
    EXPECT_EQ(cwbSV_DeleteErrHandle(handle), CWB_INVALID_HANDLE);
    EXPECT_EQ(cwbSV_GetErrCount(0, &count), CWB_INVALID_HANDLE);
}

TEST_F(Service, MissingPointers) {
    unsigned long needed = 0;
    EXPECT_EQ(cwbSV_CreateErrHandle(nullptr), CWB_INVALID_POINTER);
    EXPECT_EQ(cwbSV_GetErrCount(errors, nullptr), CWB_INVALID_POINTER);
    EXPECT_EQ(cwbSV_GetErrText(errors, nullptr, 10, &needed), CWB_INVALID_POINTER);
    EXPECT_EQ(cwbSV_GetErrTextIndexed(errors, 1, nullptr, 10, &needed), CWB_INVALID_POINTER);
}
