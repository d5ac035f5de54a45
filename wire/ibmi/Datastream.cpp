#include "Datastream.h"

#include <algorithm>

#include "Ccsid37.h"
#include "EbcdicCcsids.h"

namespace tavo::ibmi {

void SetCorrelation(Bytes& datastream, std::uint32_t correlation) {
    for (std::size_t i = 0; i < 4; ++i)
        datastream.at(kCorrelationOffset + i) =
            static_cast<std::uint8_t>(correlation >> (24 - 8 * i));
}

Header ReadHeader(ByteView data) {
    Reader in(data);
    Header h;
    h.length = in.U32();
    h.headerId0 = in.U8();
    h.headerId1 = in.U8();
    h.serverId = in.U16();
    h.csInstance = in.U32();
    h.correlation = in.U32();
    h.templateLength = in.U16();
    h.requestId = in.U16();
    return h;
}

Writer::Writer(const Header& h) {
    bytes_.reserve(64);
    U32(0).U8(h.headerId0).U8(h.headerId1).U16(h.serverId).U32(h.csInstance);
    U32(h.correlation).U16(h.templateLength).U16(h.requestId);
}

Writer& Writer::U8(std::uint8_t v) {
    bytes_.push_back(v);
    return *this;
}

Writer& Writer::U16(std::uint16_t v) {
    return U8(static_cast<std::uint8_t>(v >> 8)).U8(static_cast<std::uint8_t>(v));
}

Writer& Writer::U32(std::uint32_t v) {
    return U16(static_cast<std::uint16_t>(v >> 16)).U16(static_cast<std::uint16_t>(v));
}

Writer& Writer::U64(std::uint64_t v) {
    return U32(static_cast<std::uint32_t>(v >> 32)).U32(static_cast<std::uint32_t>(v));
}

Writer& Writer::Raw(ByteView bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

Writer& Writer::Fill(std::size_t count, std::uint8_t byte) {
    bytes_.insert(bytes_.end(), count, byte);
    return *this;
}

Writer& Writer::Item(std::uint16_t cp, ByteView data) {
    return U32(static_cast<std::uint32_t>(data.size() + 6)).U16(cp).Raw(data);
}

Writer& Writer::ItemU32(std::uint16_t cp, std::uint32_t v) {
    return U32(10).U16(cp).U32(v);
}

Bytes Writer::Finish() && {
    const auto n = static_cast<std::uint32_t>(bytes_.size());
    for (int i = 0; i < 4; ++i)
        bytes_[i] = static_cast<std::uint8_t>(n >> (24 - 8 * i));
    return std::move(bytes_);
}

ByteView Reader::Take(std::size_t n) {
    if (offset_ > data_.size() || n > data_.size() - offset_)
        throw DatastreamError("the datastream ends before offset " + std::to_string(offset_ + n));
    auto part = data_.subspan(offset_, n);
    offset_ += n;
    return part;
}

std::uint8_t Reader::U8() {
    return Take(1)[0];
}

std::uint16_t Reader::U16() {
    auto b = Take(2);
    return static_cast<std::uint16_t>(b[0] << 8 | b[1]);
}

std::uint32_t Reader::U32() {
    const std::uint32_t high = U16();
    return high << 16 | U16();
}

std::uint64_t Reader::U64() {
    const std::uint64_t high = U32();
    return high << 32 | U32();
}

std::vector<Item> ReadItems(ByteView data, std::size_t offset) {
    std::vector<Item> items;
    // Nothing after an item whose length does not fit can be framed, but what came before
    // it can still be read: IBM's clients take the code points they need and stop.
    for (std::size_t at = offset; data.size() >= at && data.size() - at >= 6;) {
        Reader in(data, at);
        const std::uint32_t ll = in.U32();
        const std::uint16_t cp = in.U16();
        if (ll < 6 || ll > data.size() - at)
            break;
        items.push_back({cp, data.subspan(at + 6, ll - 6)});
        at += ll;
    }
    return items;
}

const Item* FindItem(const std::vector<Item>& items, std::uint16_t cp) {
    auto it = std::find_if(items.begin(), items.end(), [cp](const Item& i) { return i.cp == cp; });
    return it == items.end() ? nullptr : &*it;
}

Bytes ToEbcdic(std::string_view latin1) {
    Bytes out(latin1.size());
    std::transform(latin1.begin(), latin1.end(), out.begin(),
                   [](char c) { return codepage::kLatin1ToEbcdic[static_cast<std::uint8_t>(c)]; });
    return out;
}

std::string FromEbcdic(ByteView ebcdic) {
    std::string out(ebcdic.size(), '\0');
    std::transform(ebcdic.begin(), ebcdic.end(), out.begin(),
                   [](std::uint8_t b) { return static_cast<char>(codepage::kEbcdicToLatin1[b]); });
    return out;
}

Bytes ObjectName(std::string_view latin1) {
    if (latin1.size() > 10)
        throw DatastreamError("the name '" + std::string(latin1) +
                              "' is longer than 10 characters");
    Bytes out = ToEbcdic(latin1);
    out.resize(10, codepage::kEbcdicBlank);
    return out;
}

std::string FromObjectName(ByteView ebcdic) {
    return FromObjectName(ebcdic, 37);
}

Bytes ToEbcdic(std::string_view latin1, std::uint32_t ccsid) {
    if (ccsid == 37)
        return ToEbcdic(latin1);
    const std::string bytes = text::EbcdicCodePage::FindOr37(ccsid).FromLatin1Replacing(latin1);
    return Bytes(bytes.begin(), bytes.end());
}

std::string FromEbcdic(ByteView ebcdic, std::uint32_t ccsid) {
    return ccsid == 37 ? FromEbcdic(ebcdic)
                       : text::EbcdicCodePage::FindOr37(ccsid).ToLatin1(ebcdic);
}

std::string FromObjectName(ByteView ebcdic, std::uint32_t ccsid) {
    std::string name = FromEbcdic(ebcdic, ccsid);
    while (!name.empty() && (name.back() == ' ' || name.back() == '\0'))
        name.pop_back();
    return name;
}

} // namespace tavo::ibmi
