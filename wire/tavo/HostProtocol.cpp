#include "HostProtocol.h"

#include <algorithm>

namespace tavo::protocol {
namespace {

enum class Type : std::uint8_t {
    Hello = 1,
    HelloOk,
    SignOn,
    Call,
    CallReply,
    QueueExists,
    Take,
    Entries,
    Ok,
    Error,
    ChangePassword,
};

class Writer {
  public:
    Writer() { bytes_.resize(kHeaderLength); }
    void U8(std::uint8_t v) { bytes_.push_back(static_cast<char>(v)); }
    void U16(std::uint16_t v) {
        U8(static_cast<std::uint8_t>(v >> 8));
        U8(static_cast<std::uint8_t>(v));
    }
    void U32(std::uint32_t v) {
        U16(static_cast<std::uint16_t>(v >> 16));
        U16(static_cast<std::uint16_t>(v));
    }
    void Text(std::string_view s, std::size_t max, const char* what) {
        if (s.size() > max)
            throw ProtocolError(std::string(what) + " is longer than " + std::to_string(max) +
                                " bytes");
        U16(static_cast<std::uint16_t>(s.size()));
        bytes_.append(s);
    }
    void Run(std::string_view s) {
        U32(static_cast<std::uint32_t>(s.size()));
        bytes_.append(s);
    }
    std::string Frame() && {
        const std::size_t body = bytes_.size() - kHeaderLength;
        if (body > kMaxFrameLength)
            throw ProtocolError("frame of " + std::to_string(body) + " bytes is over the limit");
        for (std::size_t i = 0; i < kHeaderLength; ++i)
            bytes_[i] = static_cast<char>(body >> (8 * (kHeaderLength - 1 - i)));
        return std::move(bytes_);
    }

  private:
    std::string bytes_;
};

class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::uint8_t U8() { return Take(1)[0]; }
    std::uint16_t U16() {
        const auto b = Take(2);
        return static_cast<std::uint16_t>(b[0] << 8 | b[1]);
    }
    std::uint32_t U32() {
        const auto b = Take(4);
        return std::uint32_t{b[0]} << 24 | std::uint32_t{b[1]} << 16 | std::uint32_t{b[2]} << 8 |
               b[3];
    }
    std::string Text(std::size_t max, const char* what) {
        const std::size_t n = U16();
        if (n > max)
            throw ProtocolError(std::string(what) + " of " + std::to_string(n) +
                                " bytes is over the limit of " + std::to_string(max));
        return Chars(n);
    }
    std::string Run(std::size_t max, const char* what) {
        const std::size_t n = U32();
        if (n > max)
            throw ProtocolError(std::string(what) + " of " + std::to_string(n) +
                                " bytes is over the limit of " + std::to_string(max));
        return Chars(n);
    }
    void End() const {
        if (at_ != bytes_.size())
            throw ProtocolError(std::to_string(bytes_.size() - at_) +
                                " bytes left over after the message");
    }

  private:
    std::string Chars(std::size_t n) {
        const auto b = Take(n);
        return std::string(reinterpret_cast<const char*>(b.data()), b.size());
    }
    std::span<const std::uint8_t> Take(std::size_t n) {
        if (n > bytes_.size() - at_)
            throw ProtocolError("message ends early");
        const auto part = bytes_.subspan(at_, n);
        at_ += n;
        return part;
    }
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
};

Direction CheckedDirection(std::uint8_t raw) {
    if (raw < 1 || raw > 3)
        throw ProtocolError("parameter direction " + std::to_string(raw) + " is not 1, 2 or 3");
    return static_cast<Direction>(raw);
}

void CheckParms(const std::vector<Parm>& parms) {
    if (parms.size() > kMaxParms)
        throw ProtocolError("more than " + std::to_string(kMaxParms) + " parameters");
    std::size_t total = 0;
    for (const Parm& p : parms) {
        if (p.length > kMaxCallArea || total + p.length > kMaxCallArea)
            throw ProtocolError("the parameter areas are larger than " +
                                std::to_string(kMaxCallArea) + " bytes");
        total += p.length;
    }
}

void EncodeBody(Writer& w, const Hello& m) {
    w.U8(static_cast<std::uint8_t>(Type::Hello));
    for (char c : kMagic)
        w.U8(static_cast<std::uint8_t>(c));
    w.U16(m.version);
}
void EncodeBody(Writer& w, const HelloOk& m) {
    w.U8(static_cast<std::uint8_t>(Type::HelloOk));
    w.U16(m.version);
}
void EncodeBody(Writer& w, const SignOn& m) {
    w.U8(static_cast<std::uint8_t>(Type::SignOn));
    w.Text(m.user, kMaxNameLength, "user");
    w.Text(m.password, kMaxTextLength, "password");
}
void EncodeBody(Writer& w, const ChangePassword& m) {
    w.U8(static_cast<std::uint8_t>(Type::ChangePassword));
    w.Text(m.user, kMaxNameLength, "user");
    w.Text(m.oldPassword, kMaxTextLength, "old password");
    w.Text(m.newPassword, kMaxTextLength, "new password");
}
void EncodeBody(Writer& w, const Call& m) {
    CheckParms(m.parms);
    w.U8(static_cast<std::uint8_t>(Type::Call));
    w.Text(m.program, kMaxNameLength, "program");
    w.Text(m.library, kMaxNameLength, "library");
    w.U16(static_cast<std::uint16_t>(m.parms.size()));
    for (const Parm& p : m.parms) {
        w.U8(static_cast<std::uint8_t>(p.direction));
        w.U32(p.length);
        if (p.direction != Direction::Output) {
            if (p.data.size() != p.length)
                throw ProtocolError("parameter data does not match its length");
            w.Run(p.data);
        }
    }
    w.Text(m.requestId, kMaxNameLength, "request id");
}
void EncodeBody(Writer& w, const CallReply& m) {
    w.U8(static_cast<std::uint8_t>(Type::CallReply));
    w.U8(m.ok ? 1 : 0);
    w.Text(m.message, kMaxTextLength, "message");
    if (m.outputs.size() > kMaxParms)
        throw ProtocolError("more than " + std::to_string(kMaxParms) + " output areas");
    w.U16(static_cast<std::uint16_t>(m.outputs.size()));
    for (const std::string& out : m.outputs)
        w.Run(out);
}
void EncodeBody(Writer& w, const QueueExists& m) {
    w.U8(static_cast<std::uint8_t>(Type::QueueExists));
    w.Text(m.queue, kMaxNameLength, "queue");
    w.Text(m.library, kMaxNameLength, "library");
}
void EncodeBody(Writer& w, const Take& m) {
    w.U8(static_cast<std::uint8_t>(Type::Take));
    w.Text(m.queue, kMaxNameLength, "queue");
    w.Text(m.library, kMaxNameLength, "library");
    w.Text(m.key, kMaxKeyLength, "key");
    w.U32(m.max);
}
void EncodeBody(Writer& w, const Entries& m) {
    if (m.entries.size() > kMaxEntriesPerReply)
        throw ProtocolError("more than " + std::to_string(kMaxEntriesPerReply) + " entries");
    w.U8(static_cast<std::uint8_t>(Type::Entries));
    w.U32(static_cast<std::uint32_t>(m.entries.size()));
    for (const std::string& e : m.entries)
        w.Run(e);
}
void EncodeBody(Writer& w, const Ok&) {
    w.U8(static_cast<std::uint8_t>(Type::Ok));
}
void EncodeBody(Writer& w, const Error& m) {
    w.U8(static_cast<std::uint8_t>(Type::Error));
    w.U32(static_cast<std::uint32_t>(m.code));
    w.Text(m.text.substr(0, kMaxTextLength), kMaxTextLength, "text");
}

Message DecodeCall(Reader& r) {
    Call m;
    m.program = r.Text(kMaxNameLength, "program name");
    m.library = r.Text(kMaxNameLength, "library name");
    const std::size_t count = r.U16();
    if (count > kMaxParms)
        throw ProtocolError(std::to_string(count) + " parameters; at most " +
                            std::to_string(kMaxParms));
    std::size_t total = 0;
    for (std::size_t i = 0; i < count; ++i) {
        Parm p;
        p.direction = CheckedDirection(r.U8());
        p.length = r.U32();
        if (p.length > kMaxCallArea - total)
            throw ProtocolError("the parameter areas are larger than " +
                                std::to_string(kMaxCallArea) + " bytes");
        total += p.length;
        if (p.direction != Direction::Output) {
            p.data = r.Run(p.length, "parameter");
            if (p.data.size() != p.length)
                throw ProtocolError("parameter data does not match its length");
        }
        m.parms.push_back(std::move(p));
    }
    m.requestId = r.Text(kMaxNameLength, "request id");
    return m;
}

Message DecodeBody(Reader& r) {
    const auto type = static_cast<Type>(r.U8());
    switch (type) {
    case Type::Hello: {
        for (char c : kMagic)
            if (r.U8() != static_cast<std::uint8_t>(c))
                throw ProtocolError("not a TAVO/400 client");
        return Hello{r.U16()};
    }
    case Type::HelloOk:
        return HelloOk{r.U16()};
    case Type::SignOn: {
        SignOn m;
        m.user = r.Text(kMaxNameLength, "user");
        m.password = r.Text(kMaxTextLength, "password");
        return m;
    }
    case Type::ChangePassword: {
        ChangePassword m;
        m.user = r.Text(kMaxNameLength, "user");
        m.oldPassword = r.Text(kMaxTextLength, "old password");
        m.newPassword = r.Text(kMaxTextLength, "new password");
        return m;
    }
    case Type::Call:
        return DecodeCall(r);
    case Type::CallReply: {
        CallReply m;
        const std::uint8_t ok = r.U8();
        if (ok > 1)
            throw ProtocolError("call outcome is neither 0 nor 1");
        m.ok = ok == 1;
        m.message = r.Text(kMaxTextLength, "message");
        const std::size_t count = r.U16();
        if (count > kMaxParms)
            throw ProtocolError("too many output areas");
        for (std::size_t i = 0; i < count; ++i)
            m.outputs.push_back(r.Run(kMaxCallArea, "output area"));
        return m;
    }
    case Type::QueueExists: {
        QueueExists m;
        m.queue = r.Text(kMaxNameLength, "queue name");
        m.library = r.Text(kMaxNameLength, "library name");
        return m;
    }
    case Type::Take: {
        Take m;
        m.queue = r.Text(kMaxNameLength, "queue name");
        m.library = r.Text(kMaxNameLength, "library name");
        m.key = r.Text(kMaxKeyLength, "key");
        m.max = r.U32();
        return m;
    }
    case Type::Entries: {
        Entries m;
        const std::size_t count = r.U32();
        if (count > kMaxEntriesPerReply)
            throw ProtocolError(std::to_string(count) + " entries in one reply; at most " +
                                std::to_string(kMaxEntriesPerReply));
        for (std::size_t i = 0; i < count; ++i)
            m.entries.push_back(r.Run(kMaxFrameLength, "entry"));
        return m;
    }
    case Type::Ok:
        return Ok{};
    case Type::Error: {
        Error m;
        m.code = static_cast<ErrorCode>(r.U32());
        m.text = r.Text(kMaxTextLength, "error text");
        return m;
    }
    }
    throw ProtocolError("unknown message type " +
                        std::to_string(static_cast<unsigned>(static_cast<std::uint8_t>(type))));
}

} // namespace

std::string Encode(const Message& message) {
    Writer w;
    std::visit([&](const auto& m) { EncodeBody(w, m); }, message);
    return std::move(w).Frame();
}

Message Decode(std::span<const std::uint8_t> body) {
    Reader r(body);
    Message m = DecodeBody(r);
    r.End();
    return m;
}

std::size_t FrameDecoder::LengthAt(std::size_t at) const {
    std::size_t length = 0;
    for (std::size_t i = 0; i < kHeaderLength; ++i)
        length = length << 8 | buffer_[at + i];
    return length;
}

void FrameDecoder::Feed(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        std::size_t n = 0;
        if (buffer_.size() < frameEnd_) {
            n = std::min(frameEnd_ - buffer_.size(), bytes.size());
        } else {
            n = std::min(kHeaderLength - (buffer_.size() - frameEnd_), bytes.size());
        }
        buffer_.insert(buffer_.end(), bytes.begin(), bytes.begin() + static_cast<long>(n));
        bytes = bytes.subspan(n);
        // A header is checked the moment it is whole, before its body is taken in.
        if (buffer_.size() == frameEnd_ + kHeaderLength) {
            const std::size_t length = LengthAt(frameEnd_);
            if (length == 0 || length > std::min(most_, kMaxFrameLength))
                throw ProtocolError("frame length " + std::to_string(length) + " is not 1 to " +
                                    std::to_string(std::min(most_, kMaxFrameLength)));
            frameEnd_ += kHeaderLength + length;
        }
    }
}

std::optional<std::vector<std::uint8_t>> FrameDecoder::Next() {
    if (buffer_.size() < kHeaderLength || frameEnd_ < kHeaderLength)
        return std::nullopt;
    const std::size_t whole = kHeaderLength + LengthAt(0);
    if (buffer_.size() < whole)
        return std::nullopt;
    std::vector<std::uint8_t> body(buffer_.begin() + static_cast<long>(kHeaderLength),
                                   buffer_.begin() + static_cast<long>(whole));
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<long>(whole));
    frameEnd_ -= whole;
    return body;
}

} // namespace tavo::protocol
