#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "Ccsid37.h"
#include "CwbTestSupport.h"
#include "cwbdq.h"
#include "cwbrc.h"

namespace cwbtesting {

using Bytes = std::vector<unsigned char>;

inline constexpr const char* kLibrary = "TAVO400";
inline constexpr const char* kListProgram = "TVOCGET";
inline constexpr const char* kReplyQueue = "#TVOCGET";
inline constexpr std::size_t kRequestLength = 124;
inline constexpr std::size_t kAreaLength = 32000;
inline constexpr std::size_t kEntryLength = 61;

// A list request as the client sends it: function code, then a stamp, blank-padded, EBCDIC.
inline Bytes ListRequest(std::string_view code, std::string_view stamp) {
    std::string text(code);
    text.resize(10, ' ');
    text += stamp;
    text.resize(kRequestLength, ' ');
    const std::string ebcdic = tavo::codepage::ToEbcdic(text);
    return Bytes(ebcdic.begin(), ebcdic.end());
}

// The host files a request's replies under its first 24 bytes.
inline std::string KeyOf(const Bytes& request) {
    return std::string(request.begin(), request.begin() + 24);
}

inline std::string Latin1(const Bytes& bytes, std::size_t length) {
    return tavo::codepage::ToLatin1(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), length));
}

// Two embedded in-memory hosts (DEMO, the default, and OTHER) and a connection to DEMO.
class EmbeddedHostFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        cwbtest::Reset();
        cwbtest::UseSystems(kTwoMemoryHosts);
        ASSERT_EQ(cwbRC_StartSys("DEMO", 0, &demo), CWB_OK);
    }
    void TearDown() override { cwbtest::Reset(); }

    unsigned Call(const char* program, const char* library, Bytes& request,
                  cwbRC_SysHandle system = 0) {
        cwbRC_PgmHandle pgm = 0;
        EXPECT_EQ(cwbRC_CreatePgm(program, library, &pgm), CWB_OK);
        Bytes unused(kAreaLength, 0);
        EXPECT_EQ(cwbRC_AddParm(pgm, CWBRC_INPUT, request.size(), request.data()), CWB_OK);
        EXPECT_EQ(cwbRC_AddParm(pgm, CWBRC_INOUT, unused.size(), unused.data()), CWB_OK);
        const unsigned rc = cwbRC_CallPgm(system ? system : demo, pgm, errors);
        EXPECT_EQ(cwbRC_DeletePgm(pgm), CWB_OK);
        return rc;
    }
    unsigned CallGet(Bytes& request, cwbRC_SysHandle system = 0) {
        return Call(kListProgram, kLibrary, request, system);
    }
    unsigned CallGet(std::string_view code, std::string_view stamp = "12403051407095") {
        Bytes request = ListRequest(code, stamp);
        return CallGet(request);
    }

    cwbDQ_QueueHandle OpenReplyQueue(const char* system = "DEMO") {
        cwbDQ_QueueHandle queue = 0;
        EXPECT_EQ(cwbDQ_Open(kReplyQueue, kLibrary, system, &queue, errors), CWB_OK) << LastText();
        return queue;
    }

    // A data object reading entries filed under `key`.
    struct Reader {
        cwbDQ_Data data = 0;
        Bytes area;
    };
    Reader KeyedReader(const std::string& key, std::size_t areaSize = kEntryLength) {
        Reader reader{cwbDQ_CreateData(), Bytes(areaSize, 0)};
        EXPECT_NE(reader.data, 0u);
        std::string keyBytes = key;
        EXPECT_EQ(cwbDQ_SetData(reader.data, reader.area.data(), reader.area.size()), CWB_OK);
        EXPECT_EQ(cwbDQ_SetSearchKey(reader.data, reinterpret_cast<unsigned char*>(keyBytes.data()),
                                     static_cast<unsigned short>(keyBytes.size())),
                  CWB_OK);
        EXPECT_EQ(cwbDQ_SetSearchOrder(reader.data, CWBDQ_EQUAL), CWB_OK);
        return reader;
    }

    // The entry the last successful read returned, as Latin-1.
    std::string Entry(const Reader& reader) {
        unsigned long length = 0;
        EXPECT_EQ(cwbDQ_GetDataLen(reader.data, &length), CWB_OK);
        return Latin1(reader.area, length);
    }

    std::string LastText() {
        auto texts = ErrorTexts(errors);
        return texts.empty() ? std::string() : texts.back();
    }

    ErrHandle errors;
    cwbRC_SysHandle demo = 0;
};

} // namespace cwbtesting
