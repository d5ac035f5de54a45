#pragma once

// The framing shared by the IBM i host servers: a 20-byte header (total length, header
// ID, server ID, CS instance, correlation ID, template length, request or reply ID), a
// fixed template, then LL/CP items (a 4-byte length that counts itself and the 2-byte
// code point, then the data). Every integer is big-endian. Reading never goes past the
// bytes given: a short or inconsistent datastream throws DatastreamError.

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tavo::ibmi {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

class DatastreamError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

inline constexpr std::size_t kHeaderLength = 20;
// Nothing we exchange comes near this; a larger length is a broken or hostile peer.
inline constexpr std::uint32_t kMaxDatastreamLength = 16u << 20;

enum ServerId : std::uint16_t {
    kDataQueueServer = 0xE007,
    kRemoteCommandServer = 0xE008,
    kSignonServer = 0xE009,
};

struct Header {
    std::uint32_t length = 0;
    std::uint8_t headerId0 = 0; // client attributes on a seeds request, 2 on start server
    std::uint8_t headerId1 = 0;
    std::uint16_t serverId = 0;
    std::uint32_t csInstance = 0;
    std::uint32_t correlation = 0;
    std::uint16_t templateLength = 0;
    std::uint16_t requestId = 0;
};

// The header of a whole datastream (at least 20 bytes; the length field is not checked
// against the span, so it can be read from the first 20 bytes alone).
Header ReadHeader(ByteView data);

// Where a whole datastream's correlation ID sits, and how one is set on a datastream made
// before its correlation was known (at least 20 bytes).
inline constexpr std::size_t kCorrelationOffset = 12;
void SetCorrelation(Bytes& datastream, std::uint32_t correlation);

// Builds one datastream; Finish() writes the total length into the header.
class Writer {
  public:
    explicit Writer(const Header& header);
    Writer& U8(std::uint8_t v);
    Writer& U16(std::uint16_t v);
    Writer& U32(std::uint32_t v);
    Writer& U64(std::uint64_t v);
    Writer& Raw(ByteView bytes);
    Writer& Fill(std::size_t count, std::uint8_t byte);
    // An LL/CP item around `data`.
    Writer& Item(std::uint16_t cp, ByteView data);
    Writer& ItemU32(std::uint16_t cp, std::uint32_t v);
    std::size_t Size() const { return bytes_.size(); }
    Bytes Finish() &&;

  private:
    Bytes bytes_;
};

// Reads a datastream from a given offset, each read checked against the end.
class Reader {
  public:
    explicit Reader(ByteView data, std::size_t offset = 0) : data_(data), offset_(offset) {}
    std::uint8_t U8();
    std::uint16_t U16();
    std::uint32_t U32();
    std::uint64_t U64();
    ByteView Take(std::size_t n);
    void Skip(std::size_t n) { Take(n); }
    std::size_t Offset() const { return offset_; }
    std::size_t Remaining() const { return offset_ <= data_.size() ? data_.size() - offset_ : 0; }

  private:
    ByteView data_;
    std::size_t offset_;
};

struct Item {
    std::uint16_t cp;
    ByteView data; // LL - 6 bytes
};

// The LL/CP items from `offset` up to the first one whose length does not fit (shorter
// than its own LL/CP, or running past the end): nothing after it can be framed. A reader
// that needs an item checks that it came.
std::vector<Item> ReadItems(ByteView data, std::size_t offset);
const Item* FindItem(const std::vector<Item>& items, std::uint16_t cp);

// Host object names: up to 10 characters, EBCDIC, padded with blanks.
Bytes ObjectName(std::string_view latin1);
std::string FromObjectName(ByteView ebcdic); // trailing blanks removed
Bytes ToEbcdic(std::string_view latin1);
std::string FromEbcdic(ByteView ebcdic);
// The same in one of the host's own CCSIDs (CCSID 37 for one we have no table for). A
// character the CCSID lacks becomes '?' either way.
std::string FromObjectName(ByteView ebcdic, std::uint32_t ccsid);
Bytes ToEbcdic(std::string_view latin1, std::uint32_t ccsid);
std::string FromEbcdic(ByteView ebcdic, std::uint32_t ccsid);

} // namespace tavo::ibmi
