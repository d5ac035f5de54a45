// The remote command server's datastreams: attributes, program call and its reply.
#include <algorithm>

#include "Codec.h"
#include "Messages.h"
#include "Rle.h"

namespace tavo::ibmi {

using namespace codec;

namespace {
// The compressed form is tried only for areas this large, as IBM's client does.
constexpr std::size_t kCompressAbove = 1024;
} // namespace

Bytes RcXchgAttributesRequest::Encode() const {
    Writer w(Make(kRemoteCommandServer, kRcXchgAttributes, correlation, 14));
    Bytes language = ToEbcdic(nlv);
    language.resize(4, 0xF0);
    w.U32(clientCcsid).Raw(language).U32(1).U16(0);
    return std::move(w).Finish();
}

RcXchgAttributesRequest RcXchgAttributesRequest::Decode(ByteView data) {
    const Header h = Expect(data, kRcXchgAttributes, 34);
    RcXchgAttributesRequest r;
    r.correlation = h.correlation;
    Reader in(data, 20);
    r.clientCcsid = in.U32();
    r.nlv = FromEbcdic(in.Take(4));
    return r;
}

std::uint16_t ReadReturnCode16(ByteView data, std::uint16_t replyId) {
    Expect(data, replyId, 22);
    return Reader(data, 20).U16();
}

Bytes RcXchgAttributesReply::Encode() const {
    Writer w(Make(kRemoteCommandServer, kRcXchgAttributesReply, correlation, 0));
    Bytes language = ToEbcdic(nlv);
    language.resize(4, 0xF0);
    w.U16(returnCode).U32(ccsid).Raw(language).U32(1).U16(serverLevel);
    return std::move(w).Finish();
}

RcXchgAttributesReply RcXchgAttributesReply::Decode(ByteView data) {
    const Header h = Expect(data, kRcXchgAttributesReply, 36);
    RcXchgAttributesReply r;
    r.correlation = h.correlation;
    Reader in(data, 20);
    r.returnCode = in.U16();
    r.ccsid = in.U32();
    r.nlv = FromEbcdic(in.Take(4));
    in.U32();
    r.serverLevel = in.U16();
    return r;
}

int ParmDirection(std::uint16_t usage) {
    switch (usage) {
    case kUsageInput:
    case kUsageInputRle:
        return 1;
    case kUsageOutput:
    case kUsageOutputRleOk:
        return 2;
    case kUsageInOut:
    case kUsageInOutRle:
    case kUsageInOutLevel5:
        return 3;
    default:
        return 0;
    }
}

namespace {

Bytes WithoutTrailingZeros(ByteView area) {
    auto end = area.end();
    while (end != area.begin() && *(end - 1) == 0)
        --end;
    return Bytes(area.begin(), end);
}

} // namespace

ProgramParm MakeCallParm(int direction, ByteView area, std::uint16_t serverLevel) {
    ProgramParm p;
    p.maxLength = static_cast<std::uint32_t>(area.size());
    if (direction == 2) {
        p.usage = kUsageOutputRleOk;
        return p;
    }
    if (area.size() > kCompressAbove)
        if (auto packed = CompressRle(area)) {
            p.usage = direction == 1 ? kUsageInputRle : kUsageInOutRle;
            p.data = std::move(*packed);
            return p;
        }
    p.usage = direction == 1 ? kUsageInput : serverLevel >= 5 ? kUsageInOutLevel5 : kUsageInOut;
    p.data = WithoutTrailingZeros(area);
    return p;
}

ProgramParm MakeOutputParm(ByteView area, bool mayCompress) {
    ProgramParm p;
    p.maxLength = static_cast<std::uint32_t>(area.size());
    if (mayCompress && area.size() > kCompressAbove)
        if (auto packed = CompressRle(area)) {
            p.usage = kUsageOutputRleOk;
            p.data = std::move(*packed);
            return p;
        }
    p.usage = kUsageOutput;
    p.data = WithoutTrailingZeros(area);
    return p;
}

Bytes ExpandParm(const ProgramParm& p) {
    if (p.maxLength > kMaxDatastreamLength)
        throw DatastreamError("a parameter of " + std::to_string(p.maxLength) +
                              " bytes is larger than any this program exchanges");
    const bool compressed =
        p.usage == kUsageInputRle || p.usage == kUsageOutputRleOk || p.usage == kUsageInOutRle;
    if (compressed && !p.data.empty()) {
        auto area = DecompressRle(p.data, p.maxLength);
        if (!area)
            throw DatastreamError("a compressed parameter does not expand to its length");
        return std::move(*area);
    }
    if (p.data.size() > p.maxLength)
        throw DatastreamError("a parameter holds more data than its length");
    Bytes area(p.maxLength, 0);
    std::copy(p.data.begin(), p.data.end(), area.begin());
    return area;
}

void ExpandParmInto(const ProgramParm& p, std::span<std::uint8_t> area) {
    const bool compressed =
        p.usage == kUsageInputRle || p.usage == kUsageOutputRleOk || p.usage == kUsageInOutRle;
    Bytes expanded;
    ByteView data = p.data;
    if (compressed && !p.data.empty()) {
        const std::size_t length =
            std::max<std::size_t>(area.size(), std::min(p.maxLength, kMaxDatastreamLength));
        auto whole = DecompressRle(p.data, length);
        if (!whole)
            throw DatastreamError("a compressed parameter does not expand");
        expanded = std::move(*whole);
        data = expanded;
    }
    const std::size_t copied = std::min(data.size(), area.size());
    std::copy_n(data.begin(), copied, area.begin());
    std::fill(area.begin() + static_cast<std::ptrdiff_t>(copied), area.end(), 0);
}

namespace {

void PutParm(Writer& w, const ProgramParm& p) {
    w.U32(static_cast<std::uint32_t>(12 + p.data.size())).U16(0x1103);
    w.U32(p.maxLength).U16(p.usage).Raw(p.data);
}

ProgramParm ParmFrom(const Item& item) {
    Reader in(item.data);
    ProgramParm p;
    p.maxLength = in.U32();
    p.usage = in.U16();
    p.data = Copy(in.Take(in.Remaining()));
    return p;
}

} // namespace

Bytes CallProgramRequest::Encode() const {
    Writer w(Make(kRemoteCommandServer, kRcCallProgram, correlation, 23));
    w.Raw(ObjectName(program)).Raw(ObjectName(library)).U8(messageOption);
    w.U16(static_cast<std::uint16_t>(parms.size()));
    for (const auto& p : parms)
        PutParm(w, p);
    return std::move(w).Finish();
}

CallProgramRequest CallProgramRequest::Decode(ByteView data, std::uint32_t ccsid) {
    const Header h = Expect(data, kRcCallProgram, 43);
    CallProgramRequest r;
    r.correlation = h.correlation;
    Reader in(data, 20);
    r.program = FromObjectName(in.Take(10), ccsid);
    r.library = FromObjectName(in.Take(10), ccsid);
    r.messageOption = in.U8();
    const std::uint16_t count = in.U16();
    const auto items = ReadItems(data, in.Offset());
    if (items.size() != count)
        throw DatastreamError("the call announces " + std::to_string(count) +
                              " parameters but carries " + std::to_string(items.size()));
    for (const Item& item : items)
        r.parms.push_back(ParmFrom(item));
    return r;
}

Bytes CallProgramReply::Encode(std::uint32_t ccsid) const {
    Writer w(Make(kRemoteCommandServer, replyId, correlation, 0));
    w.U16(returnCode).U16(returnCode == 0 ? 0 : static_cast<std::uint16_t>(messages.size()));
    if (returnCode == 0)
        for (const auto& p : outputs)
            PutParm(w, p);
    else
        for (const auto& m : messages)
            EncodeMessage(w, m, messageFormat, ccsid);
    return std::move(w).Finish();
}

CallProgramReply CallProgramReply::Decode(ByteView data, std::uint32_t ccsid) {
    if (data.size() >= kHeaderLength && ReadHeader(data).requestId == kRcCallProgramFailedReply)
        Expect(data, kRcCallProgramFailedReply, 24);
    else
        Expect(data, kRcCallProgramReply, 24);
    const Header h = ReadHeader(data);
    CallProgramReply r;
    r.correlation = h.correlation;
    r.replyId = h.requestId;
    Reader in(data, 20);
    r.returnCode = in.U16();
    const std::uint16_t count = in.U16();
    const auto items = ReadItems(data, 24);
    if (r.returnCode == 0) {
        // A host may append items of its own after the outputs; the caller takes as many
        // as it has output parameters and ignores the rest.
        for (const Item& item : items) {
            if (item.data.size() < 6)
                break;
            r.outputs.push_back(ParmFrom(item));
        }
        return r;
    }
    for (std::size_t i = 0; i < items.size() && i < count; ++i)
        r.messages.push_back(ReadMessage(items[i], ccsid));
    if (!items.empty())
        r.messageFormat = static_cast<MessageFormat>(items[0].cp);
    return r;
}

Bytes EncodeEndJob() {
    return Writer(Make(kRemoteCommandServer, kRcEndJob, 0, 0)).Finish();
}

} // namespace tavo::ibmi
