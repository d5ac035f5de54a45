#include "Messages.h"

#include <algorithm>

#include "Ccsid37.h"
#include "Codec.h"
#include "EbcdicCcsids.h"

namespace tavo::ibmi {

namespace codec {

Header Make(std::uint16_t server, std::uint16_t id, std::uint32_t correlation,
            std::uint16_t templateLength, std::uint8_t headerId0) {
    Header h;
    h.serverId = server;
    h.requestId = id;
    h.correlation = correlation;
    h.templateLength = templateLength;
    h.headerId0 = headerId0;
    return h;
}

Header Expect(ByteView data, std::uint16_t id, std::size_t minimum) {
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

std::string TrimRight(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0'))
        s.pop_back();
    return s;
}

std::string ObjectNameAt(Reader& in) {
    return FromObjectName(in.Take(10));
}

} // namespace codec

using namespace codec;

namespace {

Seed ReadSeed(ByteView v) {
    if (v.size() != 8)
        throw DatastreamError("a seed is not 8 bytes");
    Seed s;
    std::copy(v.begin(), v.end(), s.begin());
    return s;
}

// A date that cannot be one is no date: it only ever feeds a warning.
std::optional<HostDate> ReadDate(const Item& item) {
    if (item.data.size() < 7)
        return std::nullopt;
    const ByteView d = item.data;
    HostDate date{static_cast<std::uint16_t>(d[0] << 8 | d[1]), d[2], d[3], d[4], d[5], d[6]};
    if (date.month < 1 || date.month > 12 || date.day < 1 || date.day > 31 || date.hour > 23 ||
        date.minute > 59 || date.second > 60)
        return std::nullopt;
    return date;
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

bool IsUtf16(std::uint32_t ccsid) {
    return ccsid == 1200 || ccsid == 13488;
}

// A message's own CCSID where it names one we can read, else the job's.
std::uint32_t TextCcsid(std::uint32_t own, std::uint32_t job) {
    return IsUtf16(own) || text::EbcdicCodePage::Find(own) ? own : job;
}

// Message texts come in the job's CCSID, or in UTF-16 when the host says so; our
// workstation text is Latin-1, so anything beyond it becomes '?'.
std::string FromHostText(ByteView bytes, std::uint32_t ccsid) {
    if (!IsUtf16(ccsid))
        return FromEbcdic(bytes, ccsid);
    std::string out;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const unsigned unit = bytes[i] << 8 | bytes[i + 1];
        out += unit < 0x100 ? static_cast<char>(unit) : '?';
    }
    return out;
}

void PutField(Writer& w, ByteView bytes) {
    w.U32(static_cast<std::uint32_t>(bytes.size())).Raw(bytes);
}

void PutFieldU32(Writer& w, std::uint32_t v) {
    w.U32(4).U32(v);
}

// A field that claims more than is left is read as far as it goes, and one that is not
// there is empty, so a message cut short still shows its start.
ByteView Field(Reader& in) {
    if (in.Remaining() < 4)
        return {};
    const std::uint32_t length = in.U32();
    return in.Take(std::min<std::size_t>(length, in.Remaining()));
}

std::uint32_t FieldNumber(ByteView field) {
    std::uint32_t v = 0;
    for (std::uint8_t b : field.first(std::min<std::size_t>(field.size(), 4)))
        v = v << 8 | b;
    return v;
}

void EncodeDescribedFields(Writer& w, const HostMessage& m, std::uint32_t ccsid) {
    w.U32(ccsid).U32(ccsid).U16(m.severity);
    PutField(w, Zoned(m.type));
    PutField(w, ToEbcdic(m.id));
    PutField(w, ToEbcdic(m.file));
    PutField(w, ToEbcdic(m.library));
    PutField(w, ToEbcdic(m.text, ccsid));
    PutField(w, m.substitution);
    PutField(w, ToEbcdic(m.help, ccsid));
}

HostMessage DecodeDescribedFields(ByteView data, std::uint32_t ccsid) {
    Reader in(data);
    HostMessage m;
    const std::uint32_t textCcsid = TextCcsid(in.U32(), ccsid);
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
    kSeverity,
    kId,
    kType,
    kKey,
    kFile,
    kLibrarySpecified,
    kLibraryUsed,
    kSendingJob,
    kSendingUser,
    kSendingJobNumber,
    kSendingProgram,
    kSendingInstruction,
    kDateSent,
    kTimeSent,
    kReceivingProgram,
    kReceivingInstruction,
    kSendingType,
    kReceivingType,
    kTextConversion,
    kDataConversion,
    kAlertOption,
    kTextCcsid,
    kDataCcsid,
    kReplacement,
    kText,
    kHelp,
    kFullFields
};

void EncodeFullFields(Writer& w, const HostMessage& m, std::uint32_t ccsid) {
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
    PutFieldU32(w, ccsid);
    PutFieldU32(w, ccsid);
    PutField(w, m.substitution);
    PutField(w, ToEbcdic(m.text, ccsid));
    PutField(w, ToEbcdic(m.help, ccsid));
}

HostMessage DecodeFullFields(ByteView data, std::uint32_t ccsid) {
    Reader in(data);
    std::array<ByteView, kFullFields> f;
    for (auto& field : f)
        field = Field(in);
    HostMessage m;
    const std::uint32_t textCcsid = TextCcsid(FieldNumber(f[kTextCcsid]), ccsid);
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

void EncodeMessage(Writer& out, const HostMessage& m, MessageFormat format, std::uint32_t ccsid) {
    Writer body{Header{}};
    switch (format) {
    case MessageFormat::Fixed: {
        Bytes id = ToEbcdic(m.id);
        id.resize(7, kBlank);
        const Bytes text = ToEbcdic(m.text, ccsid);
        body.Raw(id).Raw(Zoned(m.type)).U16(m.severity);
        body.Raw(ObjectName(m.file)).Raw(ObjectName(m.library));
        body.U16(static_cast<std::uint16_t>(m.substitution.size()));
        body.U16(static_cast<std::uint16_t>(text.size()));
        body.Raw(m.substitution).Raw(text);
        break;
    }
    case MessageFormat::Described:
        EncodeDescribedFields(body, m, ccsid);
        break;
    case MessageFormat::Full:
        EncodeFullFields(body, m, ccsid);
        break;
    }
    const Bytes bytes = std::move(body).Finish();
    out.Item(static_cast<std::uint16_t>(format), ByteView(bytes).subspan(kHeaderLength));
}

HostMessage DecodeMessage(const Item& item, std::uint32_t ccsid) {
    if ((item.cp & 0xFF) == 0x06 || item.cp == kCpMessage)
        return DecodeDescribedFields(item.data, ccsid);
    if ((item.cp & 0xFF) == 0x07)
        return DecodeFullFields(item.data, ccsid);
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
    m.text = FromEbcdic(in.Take(text), ccsid);
    m.help.clear();
    return m;
}

HostMessage ReadMessage(const Item& item, std::uint32_t ccsid) {
    try {
        return DecodeMessage(item, ccsid);
    } catch (const DatastreamError&) {
        HostMessage m;
        if ((item.cp & 0xFF) != 0x06 && (item.cp & 0xFF) != 0x07 && item.cp != kCpMessage &&
            item.data.size() >= 7)
            m.id = TrimRight(FromEbcdic(item.data.first(7)));
        m.text = "(the rest of this message from the host cannot be read)";
        return m;
    }
}

// ---- sign-on server ---------------------------------------------------------------------

Bytes SignonXchgAttributesRequest::Encode() const {
    Writer w(Make(kSignonServer, kSignonXchgAttributes, 0, 0));
    w.ItemU32(kCpVersion, 1);
    w.U32(8).U16(kCpDatastreamLevel).U16(clientLevel);
    w.Item(kCpSeed, clientSeed);
    return std::move(w).Finish();
}

SignonXchgAttributesRequest SignonXchgAttributesRequest::Decode(ByteView data) {
    Expect(data, kSignonXchgAttributes);
    const auto items = ReadItems(data, kHeaderLength);
    SignonXchgAttributesRequest r;
    if (const Item* level = FindItem(items, kCpDatastreamLevel); level && level->data.size() >= 2)
        r.clientLevel = Reader(level->data).U16();
    const Item* seed = FindItem(items, kCpSeed);
    if (!seed)
        throw DatastreamError("the sign-on request carries no client seed");
    r.clientSeed = ReadSeed(seed->data);
    return r;
}

Bytes SignonXchgAttributesReply::Encode() const {
    Writer w(Make(kSignonServer, kSignonXchgAttributesReply, 0, 0));
    // IBM's client reads the version and level by position, so they come first and fixed.
    w.U32(returnCode);
    w.ItemU32(kCpVersion, vrm);
    w.U32(8).U16(kCpDatastreamLevel).U16(serverLevel);
    w.Item(kCpSeed, serverSeed);
    w.U32(7).U16(kCpPasswordLevel).U8(passwordLevel);
    if (!jobName.empty())
        w.Item(kCpJobName, WithCcsid(jobName));
    return std::move(w).Finish();
}

SignonXchgAttributesReply SignonXchgAttributesReply::Decode(ByteView data) {
    Expect(data, kSignonXchgAttributesReply, 24);
    SignonXchgAttributesReply r;
    r.returnCode = Reader(data, 20).U32();
    if (r.returnCode != 0) // a refusal need carry nothing else
        return r;
    r.vrm = Reader(data, 30).U32();
    r.serverLevel = Reader(data, 40).U16();
    const auto items = ReadItems(data, 42);
    const Item* seed = FindItem(items, kCpSeed);
    if (!seed)
        throw DatastreamError("the sign-on server sent no seed");
    r.serverSeed = ReadSeed(seed->data);
    if (const Item* level = FindItem(items, kCpPasswordLevel); level && !level->data.empty())
        r.passwordLevel = level->data[0];
    if (const Item* job = FindItem(items, kCpJobName))
        r.jobName = FromCcsidItem(*job);
    return r;
}

Bytes SignonInfoRequest::Encode() const {
    Writer w(Make(kSignonServer, kSignonInfo, correlation, 1));
    w.U8(authenticationType);
    w.ItemU32(kCpClientCcsid, 1200);
    w.Item(kCpPassword, substitute);
    w.Item(kCpUserId, ObjectName(user));
    if (returnMessages)
        w.U32(7).U16(kCpReturnMessages).U8(1);
    return std::move(w).Finish();
}

SignonInfoRequest SignonInfoRequest::Decode(ByteView data) {
    const Header h = Expect(data, kSignonInfo, 21);
    SignonInfoRequest r;
    r.correlation = h.correlation;
    r.authenticationType = data[20];
    const auto items = ReadItems(data, 21);
    const Item* substitute = FindItem(items, kCpPassword);
    const Item* user = FindItem(items, kCpUserId);
    if (!substitute || !user)
        throw DatastreamError("the sign-on request lacks a user or a password substitute");
    r.substitute = Copy(substitute->data);
    r.user = FromObjectName(user->data);
    r.returnMessages = FindItem(items, kCpReturnMessages) != nullptr;
    return r;
}

Bytes SignonInfoReply::Encode() const {
    Writer w(Make(kSignonServer, kSignonInfoReply, correlation, 0));
    w.U32(returnCode);
    w.ItemU32(kCpServerCcsid, serverCcsid);
    for (const auto& [cp, date] :
         {std::pair{kCpSignonDate, now}, std::pair{kCpLastSignonDate, lastSignOn},
          std::pair{kCpPasswordExpirationDate, passwordExpires}})
        if (date)
            w.Item(static_cast<std::uint16_t>(cp),
                   Bytes{static_cast<std::uint8_t>(date->year >> 8),
                         static_cast<std::uint8_t>(date->year), date->month, date->day, date->hour,
                         date->minute, date->second, 0});
    if (expiryWarningDays)
        w.ItemU32(kCpPasswordExpiryWarning, *expiryWarningDays);
    EncodeSignonMessages(w, messages, serverCcsid);
    return std::move(w).Finish();
}

SignonInfoReply SignonInfoReply::Decode(ByteView data) {
    const Header h = Expect(data, kSignonInfoReply, 24);
    SignonInfoReply r;
    r.correlation = h.correlation;
    r.returnCode = Reader(data, 20).U32();
    r.serverCcsid = 0;
    for (const Item& item : ReadItems(data, 24)) {
        if (item.cp == kCpServerCcsid && item.data.size() >= 4)
            r.serverCcsid = ItemU32(item);
        else if (item.cp == kCpMessage)
            r.messages.push_back(ReadMessage(item, r.serverCcsid)); // when they name none
        else if (item.cp == kCpSignonDate)
            r.now = ReadDate(item);
        else if (item.cp == kCpLastSignonDate)
            r.lastSignOn = ReadDate(item);
        else if (item.cp == kCpPasswordExpirationDate)
            r.passwordExpires = ReadDate(item);
        else if (item.cp == kCpPasswordExpiryWarning && item.data.size() >= 4)
            r.expiryWarningDays = ItemU32(item);
    }
    return r;
}

Bytes EncodeSignonEnd(std::uint32_t correlation) {
    return Writer(Make(kSignonServer, kSignonEnd, correlation, 0)).Finish();
}

void EncodeSignonMessages(Writer& w, const std::vector<HostMessage>& messages,
                          std::uint32_t ccsid) {
    if (messages.empty())
        return;
    w.U32(8).U16(kCpMessageCount).U16(static_cast<std::uint16_t>(messages.size()));
    for (const auto& m : messages) {
        Writer fields{Header{}};
        EncodeDescribedFields(fields, m, ccsid);
        const Bytes bytes = std::move(fields).Finish();
        w.Item(kCpMessage, ByteView(bytes).subspan(kHeaderLength));
    }
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
    w.Item(kCpPassword, substitute);
    w.Item(kCpUserId, ObjectName(user));
    return std::move(w).Finish();
}

StartServerRequest StartServerRequest::Decode(ByteView data) {
    const Header h = Expect(data, kStartServer, 22);
    StartServerRequest r;
    r.serverId = h.serverId;
    r.authenticationType = data[20];
    const auto items = ReadItems(data, 22);
    const Item* substitute = FindItem(items, kCpPassword);
    const Item* user = FindItem(items, kCpUserId);
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
        w.Item(kCpUserId, WithCcsid(user, true));
    if (!jobName.empty())
        w.Item(kCpJobName, WithCcsid(jobName));
    return std::move(w).Finish();
}

StartServerReply StartServerReply::Decode(ByteView data) {
    const Header h = Expect(data, kStartServerReply, 24);
    StartServerReply r;
    r.serverId = h.serverId;
    r.returnCode = Reader(data, 20).U32();
    // Neither the user nor the job name is needed: one that cannot be read is left out.
    for (const Item& item : ReadItems(data, 24)) {
        if (item.data.size() < 4)
            continue;
        if (item.cp == kCpUserId)
            r.user = FromCcsidItem(item);
        else if (item.cp == kCpJobName)
            r.jobName = FromCcsidItem(item);
    }
    return r;
}

} // namespace tavo::ibmi
