#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "Ccsid37.h"
#include "ProcessState.h"
#include "cwbdq.h"
#include "cwbrc.h"
#include "cwbsv.h"
#include "cwbtest.h"

namespace cwbtesting {

using Bytes = std::vector<unsigned char>;

inline constexpr const char* kLibrary = "TAVO400";
inline constexpr const char* kReplyQueue = "#TVOCGET";

// Every text an error handle holds, oldest first.
inline std::vector<std::string> ErrorTexts(cwbSV_ErrHandle handle) {
    std::vector<std::string> texts;
    unsigned long count = 0, needed = 0;
    EXPECT_EQ(cwbSV_GetErrCount(handle, &count), CWB_OK);
    for (unsigned long i = 1; i <= count; ++i) {
        char text[1024];
        EXPECT_EQ(cwbSV_GetErrTextIndexed(handle, i, text, sizeof text, &needed), CWB_OK);
        texts.emplace_back(text);
    }
    return texts;
}

// The one text a failed call left; a test failure when it left none or several.
inline std::string OnlyError(cwbSV_ErrHandle handle) {
    auto texts = ErrorTexts(handle);
    EXPECT_EQ(texts.size(), 1u);
    return texts.size() == 1 ? texts.front() : std::string();
}

// Created on first use: a fixture member is built before SetUp resets the library.
class ErrHandle {
  public:
    ErrHandle() = default;
    ErrHandle(const ErrHandle&) = delete;
    ErrHandle& operator=(const ErrHandle&) = delete;
    operator cwbSV_ErrHandle() const {
        if (!handle_) {
            EXPECT_EQ(cwbSV_CreateErrHandle(&handle_), CWB_OK);
        }
        return handle_;
    }

  private:
    mutable cwbSV_ErrHandle handle_ = 0;
};

// A list request as the client sends it: code and stamp, blank-padded to 124, EBCDIC.
inline Bytes ListRequest(std::string_view code, std::string_view stamp) {
    std::string text(code);
    text.resize(10, ' ');
    text += stamp;
    text.resize(124, ' ');
    const std::string ebcdic = tavo::codepage::ToEbcdic(text);
    return Bytes(ebcdic.begin(), ebcdic.end());
}

// The host files a request's replies under its first 24 bytes.
inline std::string KeyOf(const Bytes& request) {
    return std::string(request.begin(), request.begin() + 24);
}

// Two in-memory hosts of their own, DEMO (the default) and OTHER, and a connection to DEMO.
class EmbeddedHost : public ::testing::Test {
  protected:
    static constexpr const char* kSystems = "[systems]\ndefault = DEMO\n"
                                            "[DEMO]\naddress = embedded\ndatabase = :memory:\n"
                                            "[OTHER]\naddress = embedded\ndatabase = :memory:\n";
    void SetUp() override {
        ResetProcessState();
        cwbtest::UseSystems(kSystems);
        ASSERT_EQ(cwbRC_StartSys("DEMO", 0, &demo), CWB_OK);
    }
    void TearDown() override { ResetProcessState(); }

    // A TVOCGET-shaped call: the request, then an area the host must leave alone.
    unsigned Call(const char* program, const char* library, Bytes& request,
                  cwbRC_SysHandle system = 0) {
        cwbRC_PgmHandle pgm = 0;
        Bytes unused(32000, 0);
        EXPECT_EQ(cwbRC_CreatePgm(program, library, &pgm), CWB_OK);
        EXPECT_EQ(cwbRC_AddParm(pgm, CWBRC_INPUT, request.size(), request.data()), CWB_OK);
        EXPECT_EQ(cwbRC_AddParm(pgm, CWBRC_INOUT, unused.size(), unused.data()), CWB_OK);
        const unsigned rc = cwbRC_CallPgm(system ? system : demo, pgm, errors);
        EXPECT_EQ(cwbRC_DeletePgm(pgm), CWB_OK);
        return rc;
    }
    unsigned CallGet(Bytes& request, cwbRC_SysHandle system = 0) {
        return Call("TVOCGET", kLibrary, request, system);
    }
    unsigned CallGet(std::string_view code) {
        Bytes request = ListRequest(code, "12403051407095");
        return CallGet(request);
    }
    // Creates the reply queue and files a group list (four entries) under the returned key.
    std::string GroupList(std::string_view stamp) {
        EXPECT_EQ(CallGet("*CRTDTAQ"), CWB_OK);
        Bytes request = ListRequest("*GRPL", stamp);
        EXPECT_EQ(CallGet(request), CWB_OK);
        return KeyOf(request);
    }

    cwbDQ_QueueHandle OpenReplyQueue(const char* system = "DEMO") {
        cwbDQ_QueueHandle queue = 0;
        EXPECT_EQ(cwbDQ_Open(kReplyQueue, kLibrary, system, &queue, errors), CWB_OK);
        return queue;
    }

    struct Reader {
        cwbDQ_Data data = 0;
        Bytes area;
    };
    // A data object reading entries filed under `key`.
    Reader KeyedReader(std::string key, std::size_t areaSize = 61) {
        Reader reader{cwbDQ_CreateData(), Bytes(areaSize, 0)};
        EXPECT_EQ(cwbDQ_SetData(reader.data, reader.area.data(), reader.area.size()), CWB_OK);
        EXPECT_EQ(cwbDQ_SetSearchKey(reader.data, reinterpret_cast<unsigned char*>(key.data()),
                                     static_cast<unsigned short>(key.size())),
                  CWB_OK);
        EXPECT_EQ(cwbDQ_SetSearchOrder(reader.data, CWBDQ_EQUAL), CWB_OK);
        return reader;
    }

    // The entry the last read returned, as Latin-1.
    std::string Entry(const Reader& reader) {
        unsigned long length = 0;
        EXPECT_EQ(cwbDQ_GetDataLen(reader.data, &length), CWB_OK);
        return tavo::codepage::ToLatin1(
            std::string_view(reinterpret_cast<const char*>(reader.area.data()), length));
    }

    ErrHandle errors;
    cwbRC_SysHandle demo = 0;
};

} // namespace cwbtesting
