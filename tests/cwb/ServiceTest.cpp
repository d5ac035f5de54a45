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
    void SetUp() override { ResetProcessState(); }
    // Only failing calls add texts; put several in directly.
    void Fill(std::initializer_list<const char*> texts) {
        for (const char* text : texts)
            cwb::AddError(errors, text);
    }
    ErrHandle errors;
};

} // namespace

TEST_F(Service, IndexOneIsTheOldestAndGetErrTextTheNewest) {
    char text[32];
    unsigned long needed = 0;
    EXPECT_TRUE(ErrorTexts(errors).empty());
    EXPECT_EQ(cwbSV_GetErrText(errors, text, sizeof text, &needed), CWBSV_NO_ERROR_MESSAGES);
    Fill({"first", "second", "third"});
    EXPECT_EQ(ErrorTexts(errors), (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(cwbSV_GetErrText(errors, text, sizeof text, &needed), CWB_OK);
    EXPECT_STREQ(text, "third");
    EXPECT_EQ(needed, 6u);
    for (unsigned long index : {0ul, 4ul})
        EXPECT_EQ(cwbSV_GetErrTextIndexed(errors, index, text, sizeof text, &needed),
                  CWBSV_NO_ERROR_MESSAGES)
            << index;
}

TEST_F(Service, SmallAreaGetsATerminatedCutText) {
    Fill({"Hello world"}); // 12 bytes with the terminator
    const std::tuple<unsigned long, unsigned, const char*> cases[] = {
        {12, CWB_OK, "Hello world"},
        {11, CWB_BUFFER_OVERFLOW, "Hello worl"},
        {1, CWB_BUFFER_OVERFLOW, ""},
        {0, CWB_BUFFER_OVERFLOW, "#"},
    };
    for (const auto& [size, rc, cut] : cases) {
        for (bool indexed : {false, true}) {
            SCOPED_TRACE(testing::Message() << size << (indexed ? " indexed" : ""));
            char area[32];
            std::memset(area, '#', sizeof area);
            unsigned long needed = 0;
            EXPECT_EQ(indexed ? cwbSV_GetErrTextIndexed(errors, 1, area, size, &needed)
                              : cwbSV_GetErrText(errors, area, size, &needed),
                      rc);
            EXPECT_EQ(needed, 12u);
            EXPECT_EQ(std::string(area, std::strlen(cut)), cut);
            EXPECT_EQ(area[size], '#') << "wrote past the area";
        }
    }
}

TEST_F(Service, EachCallStartsItsOwnHandleAfresh) {
    ErrHandle other;
    cwb::AddError(other, "other's");
    Fill({"left over"});
    unsigned long codePage = 0;
    ASSERT_EQ(cwbNL_GetCodePage(&codePage, errors), CWB_OK);
    EXPECT_TRUE(ErrorTexts(errors).empty()) << "a successful call leaves no old texts";

    cwbtest::FailNext("cwbNL_GetCodePage", CWB_NOT_ENOUGH_MEMORY, "one", 2);
    EXPECT_EQ(cwbNL_GetCodePage(&codePage, errors), CWB_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(cwbNL_GetCodePage(&codePage, errors), CWB_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(ErrorTexts(errors), std::vector<std::string>{"one"});
    EXPECT_EQ(ErrorTexts(other), std::vector<std::string>{"other's"});

    cwbtest::FailNext("cwbNL_GetCodePage", CWB_NOT_ENOUGH_MEMORY, "nowhere to go");
    EXPECT_EQ(cwbNL_GetCodePage(&codePage, 0), CWB_NOT_ENOUGH_MEMORY) << "no handle is fine";
}
