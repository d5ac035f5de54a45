// Each datastream through its encoder and back through its decoder, the bytes IBM's own
// client puts on the wire, and the shapes of the replies a host may choose.
#include <gtest/gtest.h>

#include "ChangePassword.h"
#include "HexBytes.h"
#include "Messages.h"

using namespace tavo::ibmi;
using testsupport::Hex;

namespace {

const Seed kSeed{1, 2, 3, 4, 5, 6, 7, 8};

} // namespace

TEST(IbmiDatastream, RequestsMatchTheBytesIbmsClientSends) {
    SignonXchgAttributesRequest xa;
    xa.clientLevel = 5;
    xa.clientSeed = kSeed;
    EXPECT_EQ(xa.Encode(), Hex("00000034 0000 E009 00000000 00000000 0000 7003 0000000A 1101 "
                               "00000001 00000008 1102 0005 0000000E 1103 0102030405060708"));

    DqReadRequest read;
    read.correlation = 4;
    read.queue = "#TVOCGET";
    read.library = "TAVO400";
    read.key = Bytes(24, 0xC1);
    Bytes expected = Hex("0000004E 0000 E007 00000000 00000004 001C 0002 7BE3E5D6C3C7C5E34040 "
                         "E3C1E5D6F4F0F0404040 F1 C5D8 00000000 F0 0000001E 5002");
    expected.insert(expected.end(), 24, 0xC1);
    EXPECT_EQ(read.Encode(), expected);
}

TEST(IbmiDatastream, EveryRequestAndReplySurvivesARoundTrip) {
    SignonXchgAttributesReply xa;
    xa.serverSeed = kSeed;
    xa.passwordLevel = 4;
    xa.jobName = "123456/QUSER/QZSOSIGN";
    const Bytes xaBytes = xa.Encode();
    // IBM's client reads the version and the level at fixed offsets
    EXPECT_EQ(Reader(xaBytes, 30).U32(), 0x00070500u);
    const auto xaBack = SignonXchgAttributesReply::Decode(xaBytes);
    EXPECT_EQ(xaBack.serverSeed, kSeed);
    EXPECT_EQ(xaBack.passwordLevel, 4);
    EXPECT_EQ(xaBack.jobName, xa.jobName);

    SignonInfoRequest info{7, 3, Bytes(20, 0xAB), "oper", true};
    const auto infoBack = SignonInfoRequest::Decode(info.Encode());
    EXPECT_EQ(infoBack.correlation, 7u);
    EXPECT_EQ(infoBack.substitute, info.substitute);
    EXPECT_EQ(infoBack.user, "oper");
    EXPECT_TRUE(infoBack.returnMessages);

    const HostMessage expired{"CPF22E3", 15, 40, "QCPFMSG", "QSYS", "Password expired.", {}, ""};
    SignonInfoReply refused;
    refused.returnCode = kSignonPasswordExpired;
    refused.messages = {expired};
    const auto refusedBack = SignonInfoReply::Decode(refused.Encode());
    EXPECT_EQ(refusedBack.returnCode, kSignonPasswordExpired);
    EXPECT_EQ(refusedBack.serverCcsid, 37u);
    ASSERT_EQ(refusedBack.messages.size(), 1u);
    EXPECT_EQ(refusedBack.messages[0].Display(), "CPF22E3 Password expired.");

    const auto seeds = SeedsReply::Decode(SeedsReply{kDataQueueServer, 0, kSeed}.Encode());
    EXPECT_EQ(seeds.serverSeed, kSeed);
    EXPECT_EQ((SeedsReply{kDataQueueServer, 0, kSeed}.Encode().size()), 32u);

    StartServerRequest start{kRemoteCommandServer, 7, Bytes(64, 1), "LONGUSER10"};
    const auto startBack = StartServerRequest::Decode(start.Encode());
    EXPECT_EQ(startBack.authenticationType, 7);
    EXPECT_EQ(startBack.user, "LONGUSER10");
    const auto started = StartServerReply::Decode(
        StartServerReply{kRemoteCommandServer, 0, "OPER", "1/OPER/Q"}.Encode());
    EXPECT_EQ(started.user, "OPER");
    EXPECT_EQ(started.jobName, "1/OPER/Q");

    CallProgramRequest call;
    call.program = "TVOCGET";
    call.library = "TAVO400";
    Bytes big(32000, 0);
    big[0] = 0x1B;
    call.parms = {MakeCallParm(1, Bytes(124, 0x40), 2), MakeCallParm(3, big, 2),
                  MakeCallParm(2, Bytes(10, 0), 2)};
    const auto callBack = CallProgramRequest::Decode(call.Encode());
    ASSERT_EQ(callBack.parms.size(), 3u);
    EXPECT_EQ(callBack.program, "TVOCGET");
    EXPECT_EQ(callBack.parms[1].usage, kUsageInOutRle);
    EXPECT_EQ(ExpandParm(callBack.parms[1]), big);
    EXPECT_EQ(ParmDirection(callBack.parms[2].usage), 2);
    EXPECT_EQ(ExpandParm(callBack.parms[2]), Bytes(10, 0));

    DqQueryAttributesReply attributes;
    attributes.keyLength = 24;
    attributes.description = "Reply queue";
    const Bytes attributeBytes = attributes.Encode();
    EXPECT_EQ(attributeBytes.size(), 81u);
    EXPECT_EQ(attributeBytes[27], 0xF2); // keyed
    EXPECT_EQ(DqQueryAttributesReply::Decode(attributeBytes).description, "Reply queue");

    DqReadReply entry{9, Bytes(600, 0x40), Bytes(24, 0xF1)};
    EXPECT_EQ(DqReadReply::Decode(entry.Encode()).entry, entry.entry);
    const auto missing = DqCommonReply::Decode(
        DqCommonReply{3, kDqCommandCheck, "CPF9801", "Object #TVOCGET not found."}.Encode());
    EXPECT_EQ(missing.messageId, "CPF9801");
    EXPECT_EQ(missing.text, "Object #TVOCGET not found.");
    EXPECT_EQ((DqCommonReply{3, kDqNoEntry, "", ""}.Encode().size()), 22u);
    EXPECT_EQ(DecodePortMapperReply(EncodePortMapperReply(8476)), 8476);
}

TEST(IbmiDatastream, OutputsComeBackRawOrCompressedAndFailedCallsInEveryMessageForm) {
    Bytes area(32000, 0);
    area[5] = 'x';
    CallProgramReply reply;
    reply.outputs = {MakeOutputParm(area, true), MakeOutputParm(area, false)};
    const auto back = CallProgramReply::Decode(reply.Encode());
    ASSERT_EQ(back.outputs.size(), 2u);
    EXPECT_EQ(back.outputs[0].usage, kUsageOutputRleOk);
    EXPECT_EQ(back.outputs[1].data.size(), 6u); // trailing zeros are left for the client to fill
    EXPECT_EQ(ExpandParm(back.outputs[0]), area);
    EXPECT_EQ(ExpandParm(back.outputs[1]), area);

    const std::string mismatch = "Parameters passed on CALL do not match those required.";
    const HostMessage first{"CPD0172", 2,        30,          "QCPFMSG",
                            "QSYS",    mismatch, Bytes{1, 2}, "Help text."};
    const std::string missing = "Program TVOCUPD in library TAVO400 not found.";
    const HostMessage second{"CPF9811", 15, 40, "QCPFMSG", "QSYS", missing, {}, ""};
    for (auto format : {MessageFormat::Fixed, MessageFormat::Described, MessageFormat::Full}) {
        CallProgramReply failed;
        failed.returnCode = 0x0500;
        failed.messages = {first, second};
        failed.messageFormat = format;
        const auto got = CallProgramReply::Decode(failed.Encode());
        ASSERT_EQ(got.messages.size(), 2u) << int(format);
        EXPECT_EQ(got.messages[0].Display(), "CPD0172 " + mismatch);
        EXPECT_EQ(got.messages[0].type, 2);
        EXPECT_EQ(got.messages[0].severity, 30);
        EXPECT_EQ(got.messages[1].Display(), "CPF9811 " + missing);
        EXPECT_EQ(got.messages[1].type, 15);

        // A German job's message: the fixed form is read in the CCSID the caller gives, the
        // others in the one they name.
        const std::string german = std::string("Empf\xe4nger gr\xf6\xdf") + "er";
        failed.messages = {{"CPF9898", 15, 40, "QCPFMSG", "QSYS", german, {}, ""}};
        const bool fixed = format == MessageFormat::Fixed;
        EXPECT_EQ(CallProgramReply::Decode(failed.Encode(273), 273).messages[0].text, german);
        EXPECT_EQ(CallProgramReply::Decode(failed.Encode(273), 37).messages[0].text,
                  fixed ? "Empf{nger gr\xa6~er" : german);
    }
}

TEST(IbmiDatastream, MalformedDatastreamsAreRefused) {
    const Bytes good = DqReadReply{3, Bytes(10, 1), Bytes(24, 2)}.Encode();
    Bytes shortLength = good;
    shortLength[3] -= 1; // the length field no longer matches what arrived
    Bytes notAServer = good;
    notAServer[6] = 0x12;
    Bytes zeroItem = good;
    zeroItem[58 + 3] = 0; // LL of the first item: 0 would loop a careless reader for ever
    Bytes overrun = good;
    overrun[58 + 2] = 1;
    for (const Bytes& bad :
         {shortLength, notAServer, zeroItem, overrun, Bytes(good.begin(), good.begin() + 30)})
        EXPECT_THROW(DqReadReply::Decode(bad), DatastreamError);
    // a data queue's entry shares the call reply's ID, but holds no output a caller can take
    EXPECT_TRUE(CallProgramReply::Decode(good).outputs.empty());
    EXPECT_THROW(DecodePortMapperReply(Bytes{'+', 0, 0}), DatastreamError);
    EXPECT_EQ(DecodePortMapperReply(Bytes{'-', 0, 0, 0, 0}), std::nullopt);
    ProgramParm lying{10, kUsageInput, Bytes(11, 1)};
    EXPECT_THROW(ExpandParm(lying), DatastreamError);
    ProgramParm huge{0xFFFFFFFF, kUsageOutputRleOk, {}};
    EXPECT_THROW(ExpandParm(huge), DatastreamError);
}

TEST(IbmiDatastream, ChangePasswordHasTheLayoutOfIbmsClient) {
    // Items in the order and sizes of the Toolbox's ChangePasswordReq: user, substitute,
    // old and new protected passwords, their UTF-16 lengths and CCSID (not for DES), and
    // the message option for servers of level 5 and up.
    ChangePasswordRequest sha;
    sha.user = "OPER";
    sha.change = {Bytes(20, 0xA1), Bytes(20, 0xB2), Bytes(40, 0xC3), 16, 26};
    sha.returnMessages = true;
    Bytes expected = Hex("000000AC 0000 E009 00000000 00000001 0001 7005 03 "
                         "00000010 1104 D6D7C5D9404040404040 0000001A 1105");
    expected.insert(expected.end(), 20, 0xA1);
    const Bytes oldItem = Hex("0000001A 110C"), newItem = Hex("0000002E 110D");
    expected.insert(expected.end(), oldItem.begin(), oldItem.end());
    expected.insert(expected.end(), 20, 0xB2);
    expected.insert(expected.end(), newItem.begin(), newItem.end());
    expected.insert(expected.end(), 40, 0xC3);
    const Bytes tail = Hex("0000000A 111C 00000010 0000000A 111D 0000001A 0000000A 111E 000034B0 "
                           "00000007 1128 01");
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(sha.Encode(), expected);
    const auto back = ChangePasswordRequest::Decode(expected);
    EXPECT_EQ(back.user, "OPER");
    EXPECT_EQ(back.change.protectedNew, sha.change.protectedNew);
    EXPECT_EQ(back.change.newLength, 26u);
    EXPECT_TRUE(back.returnMessages);

    ChangePasswordRequest des;
    des.authenticationType = 1;
    des.user = "OPER";
    des.change = {Bytes(8, 1), Bytes(16, 2), Bytes(8, 3), 0, 0};
    EXPECT_EQ(des.Encode().size(), 63u + 16 + 8);
    EXPECT_EQ(ChangePasswordRequest::Decode(des.Encode()).change.protectedOld, Bytes(16, 2));

    const HostMessage tooShort{"", 15, 30, "", "", "New password too short.", {}, ""};
    const auto reply =
        ChangePasswordReply::Decode(ChangePasswordReply{5, 0x00030002, {tooShort}}.Encode());
    EXPECT_EQ(reply.correlation, 5u);
    EXPECT_EQ(reply.returnCode, 0x00030002u);
    ASSERT_EQ(reply.messages.size(), 1u);
    EXPECT_EQ(reply.messages[0].Display(), "New password too short.");

    // Missing items, and lengths that are not four bytes, are refused.
    Bytes noNew = des.Encode();
    noNew.resize(noNew.size() - 14);
    noNew[3] = static_cast<std::uint8_t>(noNew.size());
    Bytes noLengths = sha.Encode();
    noLengths.resize(noLengths.size() - 37);
    noLengths[3] = static_cast<std::uint8_t>(noLengths.size());
    for (const Bytes& bad : {noNew, noLengths})
        EXPECT_THROW(ChangePasswordRequest::Decode(bad), DatastreamError);
}

TEST(IbmiDatastream, SignOnInfoTellsWhenThePasswordExpiresLeniently) {
    SignonInfoReply info;
    info.now = HostDate{2026, 12, 30, 9, 0, 0};
    info.passwordExpires = HostDate{2027, 1, 2, 8, 59, 59};
    info.expiryWarningDays = 14;
    const Bytes bytes = info.Encode();
    const auto back = SignonInfoReply::Decode(bytes);
    ASSERT_TRUE(back.now && back.passwordExpires && back.expiryWarningDays);
    EXPECT_EQ(back.passwordExpires->day, 2);
    EXPECT_EQ(*back.expiryWarningDays, 14u);
    EXPECT_EQ(DaysUntil(*back.now, *back.passwordExpires), 3); // a second short of three
    EXPECT_EQ(DaysUntil(*back.now, HostDate{2026, 12, 30, 8, 0, 0}), -1);
    EXPECT_EQ(DaysUntil(HostDate{2028, 2, 28}, HostDate{2028, 3, 1}), 2); // a leap year
    EXPECT_EQ(DaysUntil(HostDate{2027, 2, 28}, HostDate{2027, 3, 1}), 1);
    EXPECT_FALSE(SignonInfoReply::Decode(SignonInfoReply{}.Encode()).passwordExpires);

    // A date with month 13, or a count cut short, is no date and no count.
    Bytes odd = bytes;
    const std::size_t expiry = 24 + 10 + 14 + 6; // after the CCSID and current-date items
    ASSERT_EQ(Reader(odd, expiry - 2).U16(), 0x1108);
    odd[expiry + 2] = 13;
    EXPECT_FALSE(SignonInfoReply::Decode(odd).passwordExpires);
    Bytes shortCount = bytes;
    shortCount.resize(shortCount.size() - 1);
    shortCount[3] -= 1;
    shortCount[shortCount.size() - 9] -= 1; // the 0x112C item's LL
    EXPECT_FALSE(SignonInfoReply::Decode(shortCount).expiryWarningDays);
}
