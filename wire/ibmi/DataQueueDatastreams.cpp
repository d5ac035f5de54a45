// The data queue server's datastreams: attributes, the queue's description, keyed reads.
#include <algorithm>

#include "Codec.h"
#include "Messages.h"

namespace tavo::ibmi {

using namespace codec;

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

DqQueryAttributesRequest DqQueryAttributesRequest::Decode(ByteView data, std::uint32_t ccsid) {
    const Header h = Expect(data, kDqQueryAttributes, 40);
    Reader in(data, 20);
    DqQueryAttributesRequest r;
    r.correlation = h.correlation;
    r.queue = FromObjectName(in.Take(10), ccsid);
    r.library = FromObjectName(in.Take(10), ccsid);
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
    w.Item(kCpDqKey, key);
    return std::move(w).Finish();
}

DqReadRequest DqReadRequest::Decode(ByteView data, std::uint32_t ccsid) {
    const Header h = Expect(data, kDqRead, 48);
    Reader in(data, 20);
    DqReadRequest r;
    r.correlation = h.correlation;
    r.queue = FromObjectName(in.Take(10), ccsid);
    r.library = FromObjectName(in.Take(10), ccsid);
    r.keyed = in.U8() == 0xF1;
    const ByteView how = in.Take(2);
    r.search = r.keyed ? FromEbcdic(how) : std::string();
    r.wait = static_cast<std::int32_t>(in.U32());
    r.peek = in.U8() == 0xF1;
    const auto items = ReadItems(data, in.Offset());
    if (const Item* key = FindItem(items, kCpDqKey))
        r.key = Copy(key->data);
    return r;
}

Bytes DqReadReply::Encode() const {
    Writer w(Make(kDataQueueServer, kDqReadReply, correlation, 38));
    w.U16(0).Fill(36, kBlank);
    w.Item(kCpDqEntry, entry);
    w.Item(kCpDqKey, key);
    return std::move(w).Finish();
}

DqReadReply DqReadReply::Decode(ByteView data) {
    const Header h = Expect(data, kDqReadReply, 58);
    DqReadReply r;
    r.correlation = h.correlation;
    const auto items = ReadItems(data, 58);
    const Item* entry = FindItem(items, kCpDqEntry);
    if (!entry)
        throw DatastreamError("the data queue sent an entry reply without the entry");
    r.entry = Copy(entry->data);
    if (const Item* key = FindItem(items, kCpDqKey))
        r.key = Copy(key->data);
    return r;
}

Bytes DqCommonReply::Encode(std::uint32_t ccsid) const {
    Writer w(Make(kDataQueueServer, kDqCommonReply, correlation, 2));
    w.U16(returnCode);
    if (!messageId.empty()) {
        std::string id = messageId;
        id.resize(7, ' ');
        w.Item(kCpDqMessage, ToEbcdic(id + "  " + text, ccsid));
    }
    return std::move(w).Finish();
}

DqCommonReply DqCommonReply::Decode(ByteView data, std::uint32_t ccsid) {
    const Header h = Expect(data, kDqCommonReply, 22);
    DqCommonReply r;
    r.correlation = h.correlation;
    r.returnCode = Reader(data, 20).U16();
    const auto items = ReadItems(data, 22);
    if (!items.empty()) {
        const std::string message = FromEbcdic(items[0].data, ccsid);
        r.messageId = TrimRight(message.substr(0, 7));
        r.text = message.size() > 9 ? TrimRight(message.substr(9)) : std::string();
    }
    return r;
}

} // namespace tavo::ibmi
