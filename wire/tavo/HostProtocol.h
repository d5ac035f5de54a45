#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The wire between the Client Access layer and tavo400-hostd. Every frame is a
// four-byte big-endian body length, then the body: one type byte and its fields.
// Integers are big-endian; strings and byte runs carry their own length in front.
// A connection opens with Hello, then SignOn (or ChangePassword); after that the client
// sends one request at a time and waits for its reply.
namespace tavo::protocol {

// 2: a call carries its request id.
inline constexpr std::uint16_t kVersion = 2;
inline constexpr std::string_view kMagic = "TAVO400H";

// Hard limits, checked before anything is allocated.
inline constexpr std::size_t kHeaderLength = 4;
inline constexpr std::size_t kMaxFrameLength = 1u << 20;
inline constexpr std::size_t kMaxNameLength = 64; // users, programs, libraries, queues
inline constexpr std::size_t kMaxTextLength = 4096;
inline constexpr std::size_t kMaxKeyLength = 256;
inline constexpr std::size_t kMaxParms = 35;
inline constexpr std::size_t kMaxEntriesPerReply = 4096;
// The sum of a call's parameter lengths, output areas included, which the daemon
// allocates for the call.
inline constexpr std::size_t kMaxCallArea = kMaxFrameLength / 2;

class ProtocolError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class ErrorCode : std::uint32_t {
    BadRequest = 1,
    VersionNotSupported = 2,
    SignOnRefused = 3,
    NotSignedOn = 4,
    QueueNotFound = 5,
    ShuttingDown = 6,
    HostFailure = 7,
    PasswordRefused = 8, // the host's rules refuse the new password; the text says which
    PasswordExpired = 9, // a sign-on with the right password, which must be changed first
    // Sign-ons refused unchecked; the text says until when, or how long to wait.
    LockedOut = 10,   // too many failures: no sign-on of this user (or address) for a while
    SignOnDelay = 11, // failures: wait before the next attempt
    HostBusy = 12,    // too many sign-ons being checked: try again in a moment
};

enum class Direction : std::uint8_t { Input = 1, Output = 2, InOut = 3 };

struct Hello {
    std::uint16_t version = kVersion;
};
struct HelloOk {
    std::uint16_t version = kVersion;
};
struct SignOn {
    std::string user;
    std::string password;
};
// Sent instead of SignOn: the daemon checks the old password as a sign-on does (an expired
// one may be changed), then answers Ok and closes; the client signs on again.
struct ChangePassword {
    std::string user;
    std::string oldPassword;
    std::string newPassword;
};
struct Parm {
    Direction direction = Direction::Input;
    std::uint32_t length = 0;
    std::string data; // what the client sends: the area for Input/InOut, nothing for Output
};
struct Call {
    std::string program;
    std::string library;
    std::vector<Parm> parms;
    // Chosen by the client, unique to it (at most kMaxNameLength); empty: none. A call
    // sent again with the same id, as after a lost reply, gets the first answer and is
    // not run again.
    std::string requestId;
};
struct CallReply {
    bool ok = true;
    std::string message;              // why, when !ok
    std::vector<std::string> outputs; // the Output and InOut areas, in parameter order
};
struct QueueExists {
    std::string queue;
    std::string library;
};
struct Take {
    std::string queue;
    std::string library;
    std::string key;
    std::uint32_t max = 1;
};
struct Entries {
    std::vector<std::string> entries;
};
struct Ok {};
struct Error {
    ErrorCode code = ErrorCode::BadRequest;
    std::string text;
};

using Message = std::variant<Hello, HelloOk, SignOn, Call, CallReply, QueueExists, Take, Entries,
                             Ok, Error, ChangePassword>;

// The whole frame, header included. Throws ProtocolError when a field is over its limit,
// so neither side ever sends what the other must refuse.
std::string Encode(const Message& message);

// One frame body (without the header). Throws ProtocolError on anything malformed.
Message Decode(std::span<const std::uint8_t> body);

// Cuts a byte stream into frame bodies. The length is checked against kMaxFrameLength
// as soon as its four bytes are in, before the body is buffered.
class FrameDecoder {
  public:
    // Throws ProtocolError when a header announces a bad length; the stream is then
    // unusable.
    void Feed(std::span<const std::uint8_t> bytes);
    std::optional<std::vector<std::uint8_t>> Next();
    // Part of a frame is buffered.
    bool Partial() const { return !buffer_.empty(); }
    // The longest frame taken from here on (at most kMaxFrameLength).
    void Limit(std::size_t most) { most_ = most; }

  private:
    std::size_t LengthAt(std::size_t at) const;
    std::vector<std::uint8_t> buffer_;
    std::size_t frameEnd_ = 0; // where the frame whose header was read last ends
    std::size_t most_ = kMaxFrameLength;
};

} // namespace tavo::protocol
