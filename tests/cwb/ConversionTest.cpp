#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>

#include "CwbTestSupport.h"
#include "cwbnl.h"

using namespace cwbtesting;

namespace {

class Conversion : public ::testing::Test {
  protected:
    void SetUp() override { cwbtest::Reset(); }

    cwbNL_Converter Make(unsigned long from, unsigned long to, const char* pad = nullptr) {
        cwbNL_Converter converter = 0;
        char padByte = pad ? *pad : '\0';
        EXPECT_EQ(cwbNL_CreateConverterEx(from, to, &converter, errors, 0, pad ? 1 : 0,
                                          pad ? &padByte : nullptr),
                  CWB_OK);
        return converter;
    }

    std::string Convert(cwbNL_Converter converter, std::string source, std::size_t targetSize) {
        std::string target(targetSize, '\x11');
        unsigned long numberOfErrors = 99, firstError = 99, required = 0;
        EXPECT_EQ(cwbNL_Convert(converter, source.size(), target.size(), source.data(),
                                target.data(), &numberOfErrors, &firstError, &required, errors),
                  CWB_OK);
        EXPECT_EQ(numberOfErrors, 0u);
        EXPECT_EQ(required, source.size());
        return target;
    }

    ErrHandle errors;
};

std::string AllBytes() {
    std::string bytes(256, '\0');
    for (int i = 0; i < 256; ++i)
        bytes[i] = static_cast<char>(i);
    return bytes;
}

} // namespace

TEST_F(Conversion, WorkstationCodePageIsLatin1) {
    unsigned long codePage = 0;
    EXPECT_EQ(cwbNL_GetCodePage(&codePage, errors), CWB_OK);
    EXPECT_EQ(codePage, 819u);
    EXPECT_EQ(cwbNL_GetCodePage(nullptr, errors), CWB_INVALID_POINTER);
}

TEST_F(Conversion, EveryByteSurvivesTheRoundTrip) {
    const auto toHost = Make(819, 37);
    const auto toWorkstation = Make(37, 819);
    const std::string original = AllBytes();

    const std::string ebcdic = Convert(toHost, original, 256);
    EXPECT_EQ(std::set<char>(ebcdic.begin(), ebcdic.end()).size(), 256u) << "not one-to-one";
    EXPECT_EQ(Convert(toWorkstation, ebcdic, 256), original);
    EXPECT_EQ(Convert(toHost, Convert(toWorkstation, original, 256), 256), original);
}

TEST_F(Conversion, MatchesWellKnownPointsOfCcsid37) {
    const auto toHost = Make(819, 37);
    const auto toWorkstation = Make(37, 819);
    const std::pair<unsigned char, unsigned char> points[] = {
        {' ', 0x40}, {'A', 0xC1},  {'Z', 0xE9},  {'a', 0x81},
        {'z', 0xA9}, {'0', 0xF0},  {'9', 0xF9},  {'@', 0x7C},
        {'*', 0x5C}, {'#', 0x7B},  {'X', 0xE7},  {'.', 0x4B},
        {'$', 0x5B}, {0x00, 0x00}, {'\n', 0x25}, {0xE9 /* e acute */, 0x51},
    };
    for (const auto& [latin1, ebcdic] : points) {
        SCOPED_TRACE(testing::Message() << "0x" << std::hex << int(latin1));
        EXPECT_EQ(static_cast<unsigned char>(Convert(toHost, std::string(1, latin1), 1)[0]),
                  ebcdic);
        EXPECT_EQ(static_cast<unsigned char>(Convert(toWorkstation, std::string(1, ebcdic), 1)[0]),
                  latin1);
    }
}

TEST_F(Conversion, SameCodePageCopies) {
    const auto same = Make(37, 37);
    EXPECT_EQ(Convert(same, AllBytes(), 256), AllBytes());
}

TEST_F(Conversion, ShortTargetReportsTheRequiredLength) {
    const auto toHost = Make(819, 37);
    std::string source = "ABCDEF";
    char target[4] = {'\x11', '\x11', '\x11', '\x11'};
    unsigned long numberOfErrors = 0, firstError = 0, required = 0;
    EXPECT_EQ(cwbNL_Convert(toHost, source.size(), 3, source.data(), target, &numberOfErrors,
                            &firstError, &required, errors),
              CWB_BUFFER_OVERFLOW);
    EXPECT_EQ(required, 6u);
    EXPECT_EQ(std::string(target, 4), "\xC1\xC2\xC3\x11") << "writes past the target";
    EXPECT_NE(OnlyError(errors).find("6"), std::string::npos);
}

TEST_F(Conversion, PadFillsALongerTarget) {
    const char ebcdicBlank = '\x40';
    const auto padded = Make(819, 37, &ebcdicBlank);
    EXPECT_EQ(Convert(padded, "AB", 5), "\xC1\xC2\x40\x40\x40");
    EXPECT_EQ(Convert(padded, "", 2), "\x40\x40");

    const auto unpadded = Make(819, 37);
    EXPECT_EQ(Convert(unpadded, "AB", 4), "\xC1\xC2\x11\x11") << "no pad: the rest is left alone";
}

TEST_F(Conversion, UnsupportedCodePageIsRefusedWithText) {
    const std::pair<unsigned long, unsigned long> pairs[] = {{819, 500}, {1208, 37}, {0, 819}};
    for (const auto& [from, to] : pairs) {
        SCOPED_TRACE(testing::Message() << from << " -> " << to);
        cwbNL_Converter converter = 12345;
        EXPECT_EQ(cwbNL_CreateConverterEx(from, to, &converter, errors, 0, 0, nullptr),
                  CWBNL_ERR_CNV_UNSUPPORTED);
        const auto text = OnlyError(errors);
        EXPECT_NE(text.find(std::to_string(from)), std::string::npos) << text;
        EXPECT_NE(text.find(std::to_string(to)), std::string::npos) << text;
    }
}

TEST_F(Conversion, BadArgumentsAndHandles) {
    cwbNL_Converter converter = 0;
    char pad[2] = {' ', ' '};
    EXPECT_EQ(cwbNL_CreateConverterEx(819, 37, nullptr, errors, 0, 0, nullptr),
              CWB_INVALID_POINTER);
    EXPECT_EQ(cwbNL_CreateConverterEx(819, 37, &converter, errors, 0, 2, pad),
              CWB_INVALID_PARAMETER);
    EXPECT_EQ(cwbNL_CreateConverterEx(819, 37, &converter, errors, 0, 1, nullptr),
              CWB_INVALID_PARAMETER);

    converter = Make(819, 37);
    char out[4];
    unsigned long required = 0;
    EXPECT_EQ(cwbNL_Convert(converter, 1, 4, nullptr, out, nullptr, nullptr, &required, errors),
              CWB_INVALID_POINTER);
    EXPECT_EQ(cwbNL_DeleteConverter(converter, errors), CWB_OK);
    char in[1] = {'A'};
    EXPECT_EQ(cwbNL_Convert(converter, 1, 4, in, out, nullptr, nullptr, &required, errors),
              CWBNL_ERR_CNV_INVALID_HANDLE);
    EXPECT_FALSE(OnlyError(errors).empty());
    EXPECT_EQ(cwbNL_DeleteConverter(converter, errors), CWBNL_ERR_CNV_INVALID_HANDLE);
}
