// The daemon's frame decoder and message parser take bytes from anyone who connects:
// any input must give frames and messages or a ProtocolError, and every message that
// decodes must encode back to the very same bytes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "HostProtocol.h"

namespace pr = tavo::protocol;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    // The first byte cuts the rest into reads of that size, as a network would.
    const std::size_t chunk = 1 + data[0];
    const std::span<const std::uint8_t> stream(data + 1, size - 1);
    pr::FrameDecoder decoder;
    try {
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            decoder.Feed(stream.subspan(at, std::min(chunk, stream.size() - at)));
            while (auto body = decoder.Next()) {
                if (body->empty() || body->size() > pr::kMaxFrameLength)
                    __builtin_trap();
                try {
                    const pr::Message message = pr::Decode(*body);
                    const std::string again = pr::Encode(message);
                    if (again.size() != body->size() + pr::kHeaderLength ||
                        again.compare(pr::kHeaderLength, std::string::npos,
                                      reinterpret_cast<const char*>(body->data()),
                                      body->size()) != 0)
                        __builtin_trap();
                } catch (const pr::ProtocolError&) {
                }
            }
        }
    } catch (const pr::ProtocolError&) {
    }
    return 0;
}
