#include "Messages.h"

#include <algorithm>

#include "Ccsid37.h"
#include "Rle.h"

namespace tavo::ibmi {

namespace {

constexpr std::uint8_t kBlank = codepage::kEbcdicBlank;
// The compressed form is tried only for areas this large, as IBM's client does.
constexpr std::size_t kCompressAbove = 1024;

Header Make(std::uint16_t server, std::uint16_t id, std::uint32_t correlation,
            std::uint16_t templateLength, std::uint8_t headerId0 = 0) {
    Header h;
    h.serverId = server;
    h.requestId = id;
    h.correlation = correlation;
    h.templateLength = templateLength;
    h.headerId0 = headerId0;
    return h;
}

// The header of a datastream that must be `id`, checked against the bytes it came in.
Header Expect(ByteView data, std::uint16_t id, std::size_t minimum = kHeaderLength) {
    if (data.size() < kHeaderLength)
        throw DatastreamError("a datastream is shorter than its header");
    const Header h = ReadHeader(data);
    if (h.length != data.size())
        throw DatastreamError("the datastream's length field says " + std::to_string(h.length) +
                              " bytes, but " + std::to_string(data.size()) + " arrived");
    if ((h.serverId >> 8) != 0xE0)
        throw DatastreamError("the datastream names no host server");
    if (h.requestId != id)
        throw DatastreamError("expected datastream " + std::to_string(id) + ", got " +
                              std::to_string(h.requestId));
    if (data.size() < minimum)
        throw DatastreamError("datastream " + std::to_string(id) + " is too short");
    return h;
}

Bytes Copy(ByteView v) {
    return Bytes(v.begin(), v.end());
}

Seed ReadSeed(ByteView v) {
    if (v.size() != 8)
        throw DatastreamError("a seed is not 8 bytes");
    Seed s;
    std::copy(v.begin(), v.end(), s.begin());
    return s;
}

std::uint32_t ItemU32(const Item& item) {
    if (item.data.size() < 4)
        throw DatastreamError("a numeric item is too short");
    return Reader(item.data).U32();
}

// Items that carry a CCSID before their text: a job name or a user in a reply.
Bytes WithCcsid(std::string_view latin1, bool objectName = false) {
    Bytes text = objectName ? ObjectName(latin1) : ToEbcdic(latin1);
    Bytes out(4 + text.size(), 0);
    out[3] = 37;
    std::copy(text.begin(), text.end(), out.begin() + 4);
    return out;
}

std::string FromCcsidItem(const Item& item) {
    if (item.data.size() < 4)
        throw DatastreamError("a text item is too short");
    return FromObjectName(item.data.subspan(4));
}

Bytes Zoned(int value) {
    return {static_cast<std::uint8_t>(0xF0 + value / 10 % 10),
            static_cast<std::uint8_t>(0xF0 + value % 10)};
}

int FromZoned(ByteView two) {
    if (two.size() < 2)
        return 0;
    return (two[0] & 0x0F) * 10 + (two[1] & 0x0F);
}

std::string TrimRight(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
    return s;
}

// Message texts come in the job's CCSID, or in UTF-16 when the host says so; our
// workstation text is Latin-1, so anything beyond it becomes '?'.
std::string FromHostText(ByteView bytes, std::uint32_t ccsid) {
    if (ccsid != 1200 && ccsid != 13488)
        return FromEbcdic(bytes);
    std::string out;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const unsigned unit = bytes[i] << 8 | bytes[i + 1];
        out += unit < 0x100 ? static_cast<char>(unit) : '?';
    }
    return out;
}

std::string ObjectNameAt(Reader& in) {
    return FromObjectName(in.Take(10));
}

void PutField(Writer& w, ByteView bytes) {
    w.U32(static_cast<std::uint32_t>(bytes.size())).Raw(bytes);
}

void PutFieldU32(Writer& w, std::uint32_t v) {
    w.U32(4).U32(v);
}

ByteView Field(Reader& in) {
    return in.Take(in.U32());
}

std::uint32_t FieldNumber(ByteView field) {
    std::uint32_t v = 0;
    for (std::uint8_t b : field.first(std::min<std::size_t>(field.size(), 4)))
        v = v << 8 | b;
    return v;
}

void EncodeDescribedFields(Writer& w, const HostMessage& m) {
    w.U32(37).U32(37).U16(m.severity);
    PutField(w, Zoned(m.type));
    PutField(w, ToEbcdic(m.id));
    PutField(w, ToEbcdic(m.file));
    PutField(w, ToEbcdic(m.library));
    PutField(w, ToEbcdic(m.text));
    PutField(w, m.substitution);
    PutField(w, ToEbcdic(m.help));
}

HostMessage DecodeDescribedFields(ByteView data) {
    Reader in(data);
    HostMessage m;
    const std::uint32_t textCcsid = in.U32();
    in.U32();
    m.severity = in.U16();
    m.type = FromZoned(Field(in));
    m.id = FromEbcdic(Field(in));
    m.file = TrimRight(FromEbcdic(Field(in)));
    m.library = TrimRight(FromEbcdic(Field(in)));
    m.text = FromHostText(Field(in), textCcsid);
    m.substitution = Copy(Field(in));
    m.help = FromHostText(Field(in), textCcsid);
    return m;
}

// The full form follows the order in which the host's receive-message API lays out a
// message; what we do not use is written as blanks and skipped when read.
enum FullField {
    kSeverity, kId, kType, kKey, kFile, kLibrarySpecified, kLibraryUsed, kSendingJob,
    kSendingUser, kSendingJobNumber, kSendingProgram, kSendingInstruction, kDateSent,
    kTimeSent, kReceivingProgram, kReceivingInstruction, kSendingType, kReceivingType,
    kTextConversion, kDataConversion, kAlertOption, kTextCcsid, kDataCcsid, kReplacement,
    kText, kHelp, kFullFields
};

void EncodeFullFields(Writer& w, const HostMessage& m) {
    PutFieldU32(w, m.severity);
    PutField(w, ToEbcdic(m.id));
    PutField(w, Zoned(m.type));
    PutField(w, Bytes(4, 0));
    PutField(w, ObjectName(m.file));
    PutField(w, ObjectName(m.library));
    PutField(w, ObjectName(m.library));
    for (std::size_t blanks : {10, 10, 6, 12, 4, 7, 6, 10, 4, 1, 1})
        PutField(w, Bytes(blanks, kBlank));
    PutFieldU32(w, 0);
    PutFieldU32(w, 0);
    PutField(w, ToEbcdic("*NO"));
    PutFieldU32(w, 37);
    PutFieldU32(w, 37);
    PutField(w, m.substitution);
    PutField(w, ToEbcdic(m.text));
    PutField(w, ToEbcdic(m.help));
}

HostMessage DecodeFullFields(ByteView data) {
    Reader in(data);
    std::array<ByteView, kFullFields> f;
    for (auto& field : f)
        field = Field(in);
    HostMessage m;
    const std::uint32_t textCcsid = FieldNumber(f[kTextCcsid]);
    m.severity = static_cast<std::uint16_t>(FieldNumber(f[kSeverity]));
    m.id = FromEbcdic(f[kId]);
    m.type = FromZoned(f[kType]);
    m.file = TrimRight(FromEbcdic(f[kFile]));
    m.library = TrimRight(FromEbcdic(f[kLibraryUsed]));
    m.substitution = Copy(f[kReplacement]);
    m.text = FromHostText(f[kText], textCcsid);
    m.help = TrimRight(FromHostText(f[kHelp], textCcsid));
    return m;
}

} // namespace

// ---- port mapper ------------------------------------------------------------------------

Bytes EncodePortMapperReply(std::uint16_t port) {
    return {'+', 0, 0, static_cast<std::uint8_t>(port >> 8), static_cast<std::uint8_t>(port)};
}

std::optional<std::uint16_t> DecodePortMapperReply(ByteView reply) {
    if (reply.size() != 5)
        throw DatastreamError("the port mapper's reply is not 5 bytes");
    if (reply[0] != '+')
        return std::nullopt;
    const std::uint32_t port = Reader(reply, 1).U32();
    if (port == 0 || port > 65535)
        throw DatastreamError("the port mapper named port " + std::to_string(port));
    return static_cast<std::uint16_t>(port);
}

// ---- messages ---------------------------------------------------------------------------

std::string HostMessage::Display() const {
    const std::string trimmed = TrimRight(text);
    return id.empty() ? trimmed : id + " " + trimmed;
}

void EncodeMessage(Writer& out, const HostMessage& m, MessageFormat format) {
    Writer body{Header{}};
    switch (format) {
    case MessageFormat::Fixed: {
        Bytes id = ToEbcdic(m.id);
        id.resize(7, kBlank);
        const Bytes text = ToEbcdic(m.text);
        body.Raw(id).Raw(Zoned(m.type)).U16(m.severity);
        body.Raw(ObjectName(m.file)).Raw(ObjectName(m.library));
        body.U16(static_cast<std::uint16_t>(m.substitution.size()));
        body.U16(static_cast<std::uint16_t>(text.size()));
        body.Raw(m.substitution).Raw(text);
        break;
    }
    case MessageFormat::Described:
        EncodeDescribedFields(body, m);
        break;
    case MessageFormat::Full:
        EncodeFullFields(body, m);
        break;
    }
    const Bytes bytes = std::move(body).Finish();
    out.Item(static_cast<std::uint16_t>(format), ByteView(bytes).subspan(kHeaderLength));
}

HostMessage DecodeMessage(const Item& item) {
    if ((item.cp & 0xFF) == 0x06 || item.cp == 0x112B)
        return DecodeDescribedFields(item.data);
    if ((item.cp & 0xFF) == 0x07)
        return DecodeFullFields(item.data);
    Reader in(item.data);
    HostMessage m;
    m.id = FromEbcdic(in.Take(7));
    m.type = FromZoned(in.Take(2));
    m.severity = in.U16();
    m.file = ObjectNameAt(in);
    m.library = ObjectNameAt(in);
    const std::uint16_t substitution = in.U16();
    const std::uint16_t text = in.U16();
    m.substitution = Copy(in.Take(substitution));
    m.text = FromEbcdic(in.Take(text));
    m.help.clear();
    return m;
}

// ---- sign-on server ---------------------------------------------------------------------

Bytes SignonXchgAttributesRequest::Encode() const {
    Writer w(Make(kSignonServer, kSignonXchgAttributes, 0, 0));
    w.ItemU32(0x1101, 1);
    w.U32(8).U16(0x1102).U16(clientLevel);
    w.Item(0x1103, clientSeed);
    return std::move(w).Finish();
}

SignonXchgAttributesRequest SignonXchgAttributesRequest::Decode(ByteView data) {
    Expect(data, kSignonXchgAttributes);
    const auto items = ReadItems(data, kHeaderLength);
    SignonXchgAttributesRequest r;
    if (const Item* level = FindItem(items, 0x1102); level && level->data.size() >= 2)
        r.clientLevel = Reader(level->data).U16();
    const Item* seed = FindItem(items, 0x1103);
    if (!seed)
        throw DatastreamError("the sign-on request carries no client seed");
    r.clientSeed = ReadSeed(seed->data);
    return r;
}

Bytes SignonXchgAttributesReply::Encode() const {
    Writer w(Make(kSignonServer, kSignonXchgAttributesReply, 0, 0));
    // IBM's client reads the version and level by position, so they come first and fixed.
    w.U32(returnCode);
    w.ItemU32(0x1101, vrm);
    w.U32(8).U16(0x1102).U16(serverLevel);
    w.Item(0x1103, serverSeed);
    w.U32(7).U16(0x1119).U8(passwordLevel);
    if (!jobName.empty())
        w.Item(0x111F, WithCcsid(jobName));
    return std::move(w).Finish();
}

SignonXchgAttributesReply SignonXchgAttributesReply::Decode(ByteView data) {
    Expect(data, kSignonXchgAttributesReply, 24);
    SignonXchgAttributesReply r;
    r.returnCode = Reader(data, 20).U32();
    if (r.returnCode != 0 && data.size() < 42)
        return r;
    r.vrm = Reader(data, 30).U32();
    r.serverLevel = Reader(data, 40).U16();
    const auto items = ReadItems(data, 42);
    const Item* seed = FindItem(items, 0x1103);
    if (!seed)
        throw DatastreamError("the sign-on server sent no seed");
    r.serverSeed = ReadSeed(seed->data);
    if (const Item* level = FindItem(items, 0x1119); level && !level->data.empty())
        r.passwordLevel = level->data[0];
    if (const Item* job = FindItem(items, 0x111F))
        r.jobName = FromCcsidItem(*job);
    return r;
}

Bytes SignonInfoRequest::Encode() const {
    Writer w(Make(kSignonServer, kSignonInfo, correlation, 1));
    w.U8(authenticationType);
    w.ItemU32(0x1113, 1200);
    w.Item(0x1105, substitute);
    w.Item(0x1104, ObjectName(user));
    if (returnMessages)
        w.U32(7).U16(0x1128).U8(1);
    return std::move(w).Finish();
}

SignonInfoRequest SignonInfoRequest::Decode(ByteView data) {
    const Header h = Expect(data, kSignonInfo, 21);
    SignonInfoRequest r;
    r.correlation = h.correlation;
    r.authenticationType = data[20];
    const auto items = ReadItems(data, 21);
    const Item* substitute = FindItem(items, 0x1105);
    const Item* user = FindItem(items, 0x1104);
    if (!substitute || !user)
        throw DatastreamError("the sign-on request lacks a user or a password substitute");
    r.substitute = Copy(substitute->data);
    r.user = FromObjectName(user->data);
    r.returnMessages = FindItem(items, 0x1128) != nullptr;
    return r;
}

Bytes SignonInfoReply::Encode() const {
    Writer w(Make(kSignonServer, kSignonInfoReply, correlation, 0));
    w.U32(returnCode);
    w.ItemU32(0x1114, serverCcsid);
    if (!messages.empty()) {
        w.U32(8).U16(0x112A).U16(static_cast<std::uint16_t>(messages.size()));
        for (const auto& m : messages) {
            Writer fields{Header{}};
            EncodeDescribedFields(fields, m);
            const Bytes bytes = std::move(fields).Finish();
            w.Item(0x112B, ByteView(bytes).subspan(kHeaderLength));
        }
    }
    return std::move(w).Finish();
}

SignonInfoReply SignonInfoReply::Decode(ByteView data) {
    const Header h = Expect(data, kSignonInfoReply, 24);
    SignonInfoReply r;
    r.correlation = h.correlation;
    r.returnCode = Reader(data, 20).U32();
    r.serverCcsid = 0;
    for (const Item& item : ReadItems(data, 24)) {
        if (item.cp == 0x1114)
            r.serverCcsid = ItemU32(item);
        else if (item.cp == 0x112B)
            r.messages.push_back(DecodeMessage(item));
    }
    return r;
}

Bytes EncodeSignonEnd(std::uint32_t correlation) {
    return Writer(Make(kSignonServer, kSignonEnd, correlation, 0)).Finish();
}

// ---- service connections ----------------------------------------------------------------

Bytes SeedsRequest::Encode() const {
    Writer w(Make(serverId, kXchgSeeds, 0, 8, clientAttributes));
    w.Raw(clientSeed);
    return std::move(w).Finish();
}

SeedsRequest SeedsRequest::Decode(ByteView data) {
    const Header h = Expect(data, kXchgSeeds, 28);
    SeedsRequest r;
    r.serverId = h.serverId;
    r.clientAttributes = h.headerId0;
    r.clientSeed = ReadSeed(data.subspan(20, 8));
    return r;
}

Bytes SeedsReply::Encode() const {
    Writer w(Make(serverId, kXchgSeedsReply, 0, 0));
    w.U32(returnCode).Raw(serverSeed);
    return std::move(w).Finish();
}

SeedsReply SeedsReply::Decode(ByteView data) {
    const Header h = Expect(data, kXchgSeedsReply, 24);
    SeedsReply r;
    r.serverId = h.serverId;
    r.returnCode = Reader(data, 20).U32();
    if (r.returnCode == 0) {
        if (data.size() < 32)
            throw DatastreamError("the seeds reply carries no seed");
        r.serverSeed = ReadSeed(data.subspan(24, 8));
    }
    return r;
}

Bytes StartServerRequest::Encode() const {
    Writer w(Make(serverId, kStartServer, 0, 2, 2));
    w.U8(authenticationType).U8(1);
    w.Item(0x1105, substitute);
    w.Item(0x1104, ObjectName(user));
    return std::move(w).Finish();
}

StartServerRequest StartServerRequest::Decode(ByteView data) {
    const Header h = Expect(data, kStartServer, 22);
    StartServerRequest r;
    r.serverId = h.serverId;
    r.authenticationType = data[20];
    const auto items = ReadItems(data, 22);
    const Item* substitute = FindItem(items, 0x1105);
    const Item* user = FindItem(items, 0x1104);
    if (!substitute || !user)
        throw DatastreamError("the start request lacks a user or a password substitute");
    r.substitute = Copy(substitute->data);
    r.user = FromObjectName(user->data);
    return r;
}

Bytes StartServerReply::Encode() const {
    Writer w(Make(serverId, kStartServerReply, 0, 0));
    w.U32(returnCode);
    if (!user.empty())
        w.Item(0x1104, WithCcsid(user, true));
    if (!jobName.empty())
        w.Item(0x111F, WithCcsid(jobName));
    return std::move(w).Finish();
}

StartServerReply StartServerReply::Decode(ByteView data) {
    const Header h = Expect(data, kStartServerReply, 24);
    StartServerReply r;
    r.serverId = h.serverId;
    r.returnCode = Reader(data, 20).U32();
    for (const Item& item : ReadItems(data, 24)) {
        if (item.cp == 0x1104)
            r.user = FromCcsidItem(item);
        else if (item.cp == 0x111F)
            r.jobName = FromCcsidItem(item);
    }
    return r;
}

// ---- remote command server --------------------------------------------------------------

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
    const bool compressed = p.usage == kUsageInputRle || p.usage == kUsageOutputRleOk ||
                            p.usage == kUsageInOutRle;
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

CallProgramRequest CallProgramRequest::Decode(ByteView data) {
    const Header h = Expect(data, kRcCallProgram, 43);
    CallProgramRequest r;
    r.correlation = h.correlation;
    Reader in(data, 20);
    r.program = ObjectNameAt(in);
    r.library = ObjectNameAt(in);
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

Bytes CallProgramReply::Encode() const {
    Writer w(Make(kRemoteCommandServer, replyId, correlation, 0));
    w.U16(returnCode).U16(returnCode == 0 ? 0 : static_cast<std::uint16_t>(messages.size()));
    if (returnCode == 0)
        for (const auto& p : outputs)
            PutParm(w, p);
    else
        for (const auto& m : messages)
            EncodeMessage(w, m, messageFormat);
    return std::move(w).Finish();
}

CallProgramReply CallProgramReply::Decode(ByteView data) {
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
        for (const Item& item : items)
            r.outputs.push_back(ParmFrom(item));
        return r;
    }
    for (std::size_t i = 0; i < items.size() && i < count; ++i)
        r.messages.push_back(DecodeMessage(items[i]));
    if (!items.empty())
        r.messageFormat = static_cast<MessageFormat>(items[0].cp);
    return r;
}

Bytes EncodeEndJob() {
    return Writer(Make(kRemoteCommandServer, kRcEndJob, 0, 0)).Finish();
}

// ---- data queue server ------------------------------------------------------------------

Bytes DqXchgAttributesRequest::Encode() const {
    Writer w(Make(kDataQueueServer, kDqXchgAttributes, correlation, 6));
    w.U32(1).U16(0);
    return std::move(w).Finish();
}

DqXchgAttributesRequest DqXchgAttributesRequest::Decode(ByteView data) {
    return {Expect(data, kDqXchgAttributes).correlation};
}

Bytes DqXchgAttributesReply::Encode() const {
    Writer w(Make(kDataQueueServer, kDqXchgAttributesReply, correlation, 6));
    w.U16(0).U32(1);
    return std::move(w).Finish();
}

DqXchgAttributesReply DqXchgAttributesReply::Decode(ByteView data) {
    return {Expect(data, kDqXchgAttributesReply).correlation};
}

Bytes DqQueryAttributesRequest::Encode() const {
    Writer w(Make(kDataQueueServer, kDqQueryAttributes, correlation, 20));
    w.Raw(ObjectName(queue)).Raw(ObjectName(library));
    return std::move(w).Finish();
}

DqQueryAttributesRequest DqQueryAttributesRequest::Decode(ByteView data) {
    const Header h = Expect(data, kDqQueryAttributes, 40);
    Reader in(data, 20);
    DqQueryAttributesRequest r;
    r.correlation = h.correlation;
    r.queue = ObjectNameAt(in);
    r.library = ObjectNameAt(in);
    return r;
}

Bytes DqQueryAttributesReply::Encode() const {
    Writer w(Make(kDataQueueServer, kDqQueryAttributesReply, correlation, 61));
    Bytes text = ToEbcdic(description.substr(0, 50));
    text.resize(50, kBlank);
    w.U16(0).U32(maxEntryLength).U8(saveSender ? 0xF1 : 0xF0);
    w.U8(static_cast<std::uint8_t>(0xF0 | queueType)).U16(keyLength);
    w.U8(forceToStorage ? 0xF1 : 0xF0).Raw(text);
    return std::move(w).Finish();
}

DqQueryAttributesReply DqQueryAttributesReply::Decode(ByteView data) {
    const Header h = Expect(data, kDqQueryAttributesReply, 81);
    Reader in(data, 22);
    DqQueryAttributesReply r;
    r.correlation = h.correlation;
    r.maxEntryLength = in.U32();
    r.saveSender = in.U8() == 0xF1;
    r.queueType = in.U8() & 0x0F;
    r.keyLength = in.U16();
    r.forceToStorage = in.U8() == 0xF1;
    r.description = TrimRight(FromEbcdic(in.Take(50)));
    return r;
}

Bytes DqReadRequest::Encode() const {
    Writer w(Make(kDataQueueServer, kDqRead, correlation, 28));
    w.Raw(ObjectName(queue)).Raw(ObjectName(library)).U8(keyed ? 0xF1 : 0xF0);
    if (keyed) {
        Bytes how = ToEbcdic(search);
        how.resize(2, kBlank);
        w.Raw(how);
    } else {
        w.U16(0);
    }
    w.U32(static_cast<std::uint32_t>(wait)).U8(peek ? 0xF1 : 0xF0);
    w.Item(0x5002, key);
    return std::move(w).Finish();
}

DqReadRequest DqReadRequest::Decode(ByteView data) {
    const Header h = Expect(data, kDqRead, 48);
    Reader in(data, 20);
    DqReadRequest r;
    r.correlation = h.correlation;
    r.queue = ObjectNameAt(in);
    r.library = ObjectNameAt(in);
    r.keyed = in.U8() == 0xF1;
    const ByteView how = in.Take(2);
    r.search = r.keyed ? FromEbcdic(how) : std::string();
    r.wait = static_cast<std::int32_t>(in.U32());
    r.peek = in.U8() == 0xF1;
    const auto items = ReadItems(data, in.Offset());
    if (const Item* key = FindItem(items, 0x5002))
        r.key = Copy(key->data);
    return r;
}

Bytes DqReadReply::Encode() const {
    Writer w(Make(kDataQueueServer, kDqReadReply, correlation, 38));
    w.U16(0).Fill(36, kBlank);
    w.Item(0x5001, entry);
    w.Item(0x5002, key);
    return std::move(w).Finish();
}

DqReadReply DqReadReply::Decode(ByteView data) {
    const Header h = Expect(data, kDqReadReply, 58);
    DqReadReply r;
    r.correlation = h.correlation;
    const auto items = ReadItems(data, 58);
    const Item* entry = FindItem(items, 0x5001);
    if (!entry)
        throw DatastreamError("the data queue sent an entry reply without the entry");
    r.entry = Copy(entry->data);
    if (const Item* key = FindItem(items, 0x5002))
        r.key = Copy(key->data);
    return r;
}

Bytes DqCommonReply::Encode() const {
    Writer w(Make(kDataQueueServer, kDqCommonReply, correlation, 2));
    w.U16(returnCode);
    if (!messageId.empty()) {
        std::string id = messageId;
        id.resize(7, ' ');
        w.Item(0x5003, ToEbcdic(id + "  " + text));
    }
    return std::move(w).Finish();
}

DqCommonReply DqCommonReply::Decode(ByteView data) {
    const Header h = Expect(data, kDqCommonReply, 22);
    DqCommonReply r;
    r.correlation = h.correlation;
    r.returnCode = Reader(data, 20).U16();
    const auto items = ReadItems(data, 22);
    if (!items.empty()) {
        const std::string message = FromEbcdic(items[0].data);
        r.messageId = TrimRight(message.substr(0, 7));
        r.text = message.size() > 9 ? TrimRight(message.substr(9)) : std::string();
    }
    return r;
}

} // namespace tavo::ibmi
