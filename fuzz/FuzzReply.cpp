// The host's reply area and list entries: bytes from outside, read through the
// records readers. Must never read or write out of bounds, whatever the lengths claim.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "Ccsid37.h"
#include "Records.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto fromHost = [](char* target, unsigned long targetLength, const char* source,
                             unsigned long sourceLength) {
        const bool separate = target != source;
        if (separate)
            std::memset(target, 0, targetLength);
        const auto n = sourceLength < targetLength ? sourceLength : targetLength;
        for (unsigned long i = 0; i < n; ++i)
            target[i] = static_cast<char>(
                tavo::codepage::kEbcdicToLatin1[static_cast<unsigned char>(source[i])]);
        if (separate)
            target[targetLength] = '\0';
    };
    // An exact-size heap copy, so any read past the end is caught.
    std::string area(reinterpret_cast<const char*>(data), size);
    auto reply = records::ReadReplyTexts(reinterpret_cast<const unsigned char*>(area.data()),
                                         area.size(), fromHost);
    std::size_t total = 0;
    for (const auto& text : reply.texts)
        total += text.size();
    if (total > size)
        __builtin_trap();

    if (size >= records::kListEntryLength) {
        char entry[records::kListEntryLength + 1];
        fromHost(entry, records::kListEntryLength, area.data(), records::kListEntryLength);
        auto fields = records::ReadListEntry(entry);
        if (fields.name.size() > records::kNameLength ||
            fields.description.size() > records::kDescriptionLength)
            __builtin_trap();
    }
    return 0;
}
