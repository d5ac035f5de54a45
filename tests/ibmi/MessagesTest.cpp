// Each datastream through its encoder and back through its decoder, the bytes IBM's own
// client puts on the wire, and the shapes of the replies a host may choose.
#include <gtest/gtest.h>

#include "Messages.h"

using namespace tavo::ibmi;

namespace {

Bytes Hex(std::string hex) {
    std::erase(hex, ' ');
    Bytes out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

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
    SignonInfoReply refused{1, kSignonPasswordExpired, 37, {expired}};
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
    EXPECT_THROW(CallProgramReply::Decode(good), DatastreamError); // wrong reply ID
    EXPECT_THROW(DecodePortMapperReply(Bytes{'+', 0, 0}), DatastreamError);
    EXPECT_EQ(DecodePortMapperReply(Bytes{'-', 0, 0, 0, 0}), std::nullopt);
    ProgramParm lying{10, kUsageInput, Bytes(11, 1)};
    EXPECT_THROW(ExpandParm(lying), DatastreamError);
    ProgramParm huge{0xFFFFFFFF, kUsageOutputRleOk, {}};
    EXPECT_THROW(ExpandParm(huge), DatastreamError);
}
