#include <gtest/gtest.h>

#include <set>
#include <string>

#include "CwbTestSupport.h"
#include "cwbnl.h"

using namespace cwbtesting;

namespace {

class Conversion : public ::testing::Test {
  protected:
    void SetUp() override { ResetProcessState(); }

    cwbNL_Converter Make(unsigned long from, unsigned long to, const char* pad = nullptr) {
        cwbNL_Converter converter = 0;
        char padByte = pad ? *pad : '\0';
        EXPECT_EQ(cwbNL_CreateConverterEx(from, to, &converter, errors, 0, pad ? 1 : 0,
                                          pad ? &padByte : nullptr),
                  CWB_OK);
        return converter;
    }

    // The target area after the call, which must return `rc`.
    std::string Convert(cwbNL_Converter converter, std::string source, std::size_t targetSize,
                        unsigned rc = CWB_OK) {
        std::string target(targetSize + 1, '\x11'); // one guard byte
        unsigned long numberOfErrors = 99, firstError = 99, required = 0;
        EXPECT_EQ(cwbNL_Convert(converter, source.size(), targetSize, source.data(), target.data(),
                                &numberOfErrors, &firstError, &required, errors),
                  rc);
        EXPECT_EQ(numberOfErrors, 0u);
        EXPECT_EQ(required, source.size());
        EXPECT_EQ(target.back(), '\x11') << "wrote past the target";
        target.pop_back();
        return target;
    }

    ErrHandle errors;
};

} // namespace

TEST_F(Conversion, EveryByteSurvivesTheRoundTripThroughCcsid37) {
    unsigned long codePage = 0;
    EXPECT_EQ(cwbNL_GetCodePage(&codePage, errors), CWB_OK);
    EXPECT_EQ(codePage, 819u);

    const auto toHost = Make(819, 37), toWorkstation = Make(37, 819), same = Make(37, 37);
    std::string all(256, '\0');
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<char>(i);
    const std::string ebcdic = Convert(toHost, all, 256);
    EXPECT_EQ(std::set<char>(ebcdic.begin(), ebcdic.end()).size(), 256u) << "not one-to-one";
    EXPECT_EQ(Convert(toWorkstation, ebcdic, 256), all);
    EXPECT_EQ(Convert(same, all, 256), all);

    const std::pair<unsigned char, unsigned char> points[] = {
        {' ', 0x40}, {'A', 0xC1}, {'z', 0xA9},  {'0', 0xF0},
        {'@', 0x7C}, {'#', 0x7B}, {'\n', 0x25}, {0xE9 /* e acute */, 0x51},
    };
    for (const auto& [latin1, code] : points) {
        SCOPED_TRACE(testing::Message() << "0x" << std::hex << int(latin1));
        EXPECT_EQ(static_cast<unsigned char>(ebcdic[latin1]), code);
    }
}

TEST_F(Conversion, TargetLengthDecidesPadOrOverflow) {
    const char ebcdicBlank = '\x40';
    const auto padded = Make(819, 37, &ebcdicBlank);
    EXPECT_EQ(Convert(padded, "AB", 5), "\xC1\xC2\x40\x40\x40");
    EXPECT_EQ(Convert(padded, "", 2), "\x40\x40");
    EXPECT_EQ(Convert(padded, "AB", 3), "\xC1\xC2\x40");
    const auto unpadded = Make(819, 37);
    EXPECT_EQ(Convert(unpadded, "AB", 4), "\xC1\xC2\x11\x11") << "no pad: the rest is left alone";

    EXPECT_EQ(Convert(unpadded, "ABCDEF", 3, CWB_BUFFER_OVERFLOW), "\xC1\xC2\xC3");
    EXPECT_NE(OnlyError(errors).find("6"), std::string::npos);
}

TEST_F(Conversion, UnsupportedPairsAreRefusedWithTheirCodePages) {
    for (const auto& [from, to] : {std::pair{819ul, 500ul}, {1208ul, 37ul}}) {
        cwbNL_Converter converter = 0;
        EXPECT_EQ(cwbNL_CreateConverterEx(from, to, &converter, errors, 0, 0, nullptr),
                  CWBNL_ERR_CNV_UNSUPPORTED);
        const auto text = OnlyError(errors);
        EXPECT_NE(text.find(std::to_string(from) + " to " + std::to_string(to)), std::string::npos)
            << text;
    }
}
