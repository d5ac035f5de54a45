#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace tavo::hostd {

// What a connection's protocol does with the bytes its stream session reads: the one
// thing that differs between our own protocol and the IBM i host servers.
class ProtocolHandler {
  public:
    virtual ~ProtocolHandler() = default;
    // The bytes just read; a text saying why they cannot be requests closes the connection.
    virtual std::string Take(std::span<const std::uint8_t> bytes) = 0;
    // Handles the next whole request; false when none is whole yet or the request closed
    // the connection.
    virtual bool HandleNext() = 0;
    // A request has begun and is not whole yet.
    virtual bool Partial() const = 0;
    // Signed on: the client may idle between requests.
    virtual bool MayIdle() const = 0;
    // What one request is called in the log: "frame", "datastream".
    virtual const char* Unit() const = 0;
    // `kind`: see Log::Line.
    virtual void LogLine(const std::string& line, std::string_view kind = {}) const = 0;
};

} // namespace tavo::hostd
