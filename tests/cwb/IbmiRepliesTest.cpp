// Replies in the forms a real IBM i may choose, written byte by byte from IBM's reply
// layouts rather than by our encoder, read as leniently as IBM's own clients read them.
#include <gtest/gtest.h>

#include <functional>

#include "HexBytes.h"
#include "IbmiReplies.h"
#include "Messages.h"
#include "cwbrc.h"

using namespace cwb;
namespace ib = tavo::ibmi;
using testsupport::Hex;

namespace {

// A reply of `server` with ID `id`: the 20-byte header, its length filled in.
ib::Bytes Reply(const char* server, const char* id, const std::string& body) {
    auto bytes = Hex("00000000 0000" + std::string(server) + "00000000 00000002 0000" + id + body);
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<std::uint8_t>(bytes.size() >> (24 - 8 * i));
    return bytes;
}

// Outputs of 6 bytes (in/out, "ABCDEF") and 3 bytes (output, "XYZ"), usages 13 and 12.
const std::string kInOut = "00000012 1103 00000006 000D C1C2C3C4C5C6 ";
const std::string kOutput = "0000000F 1103 00000003 000C E7E8E9 ";
// CPF9811 escape, severity 40, QCPFMSG in QSYS, no substitution data, text "Program X".
const std::string kFixedMessage = "00000032 1102 C3D7C6F9F8F1F1 F1F5 0028 D8C3D7C6D4E2C74040"
                                  "40 D8E2E8E240404040 4040 0000 0009 D799968799819440E7";

} // namespace

TEST(IbmiReplies, ReadLikeIbmsClients) {
    const std::string where = "the host";
    struct Case {
        const char* what;
        ib::Bytes reply;
        unsigned rc;
        std::string text; // part of the status text or its first message
        std::string areas;
    } cases[] = {
        {"outputs", Reply("E008", "8003", "0000 0000 " + kInOut + kOutput), CWB_OK, "",
         "ABCDEFXYZ"},
        {"items after the outputs",
         Reply("E008", "8003", "0000 0000 " + kInOut + kOutput + kFixedMessage + "7FFFFFFF 1102"),
         CWB_OK, "", "ABCDEFXYZ"},
        {"an output shorter and one longer than its area",
         Reply("E008", "8003",
               "0000 0000 0000000E 1103 00000002 000D C1C2 "
               "00000011 1103 00000005 000C E7E8E9E7E8"),
         CWB_OK, "", std::string("AB\0\0\0\0XYZ", 9)},
        {"an output missing", Reply("E008", "8003", "0000 0000 " + kInOut), CWB_REPLY_LOST,
         "1 of 2 output parameters", "........."},
        {"a reply cut short", Reply("E008", "8003", "0000"), CWB_REPLY_LOST, "may have run",
         "........."},
        {"program not found", Reply("E008", "8003", "0500 0001 " + kFixedMessage),
         CWBRC_HOST_PROGRAM_ERROR, "CPF9811 Program X", "........."},
        {"a message cut short",
         Reply("E008", "9003",
               "0501 0001 00000025 1106 00000025 00000025"
               "0028 00000002 F1F5 00000007 C3D7C6F9F8F9F8"
               " 000000FF"),
         CWBRC_HOST_PROGRAM_ERROR, "CPF9898", "........."},
        {"a refused call", Reply("E008", "8003", "0303 0000"), CWB_COMMUNICATIONS_ERROR,
         "refused the call (0x0303)", "........."},
    };
    for (const auto& c : cases) {
        std::string area1(6, '.'), area2(3, '.');
        ib::Bytes input(4, 0x40);
        BoundParm parms[] = {{CWBRC_INPUT, input.data(), 4},
                             {CWBRC_INOUT, reinterpret_cast<unsigned char*>(area1.data()), 6},
                             {CWBRC_OUTPUT, reinterpret_cast<unsigned char*>(area2.data()), 3}};
        bool close = false;
        const auto status =
            ibmireplies::ReadCallReply(c.reply, parms, "TVOCUPD", "TAVO400", where, close);
        EXPECT_EQ(status.rc, c.rc) << c.what << ": " << status.text;
        const std::string shown = status.messages.empty() ? status.text : status.messages[0];
        EXPECT_NE(shown.find(c.text), std::string::npos) << c.what << ": " << shown;
        const std::string raw = area1 + area2;
        const auto bytes = ib::ByteView(reinterpret_cast<const std::uint8_t*>(raw.data()), 9);
        // Untouched areas still hold their dots, which are not EBCDIC text.
        EXPECT_EQ(c.rc == CWB_OK ? ib::FromEbcdic(bytes) : raw, c.areas) << c.what;
    }

    std::uint16_t level = 0;
    EXPECT_EQ(ibmireplies::ReadRcAttributes(Reply("E008", "8001",
                                                  "0104 00000025 F2F9F2F4 "
                                                  "00000001 000A"),
                                            where, level)
                  .rc,
              CWB_OK);
    EXPECT_EQ(level, 10);
    const auto badLevel =
        ibmireplies::ReadRcAttributes(Reply("E008", "8001", "0102"), where, level);
    EXPECT_EQ(badLevel.rc, CWB_COMMUNICATIONS_ERROR);
    EXPECT_NE(badLevel.text.find("datastream level is not valid"), std::string::npos);

    const auto dq = ibmireplies::ReadDqAttributes(
        Reply("E007", "8002", "F001 00000012 0000 C3D7C6F9F9F9F9 4040 C19385"), where);
    EXPECT_NE(dq.text.find("refused us (0xF001): CPF9999"), std::string::npos) << dq.text;

    // A refused sign-on need carry no seed.
    const auto refused = ib::SignonXchgAttributesReply::Decode(
        Reply("E009", "F003", "00020001 0000000A 1101 00070500"));
    EXPECT_EQ(refused.returnCode, 0x00020001u);
}
