#pragma once

// Clients that speak to a tavo400-hostd by hand, as IBM's client or ours would, or not at
// all as they would. Reads have no deadline of their own: the test's time-out ends a
// daemon that never answers.

#include <gtest/gtest.h>

#include <asio.hpp>
#include <cctype>

#include "Ccsid37.h"
#include "HostProtocol.h"
#include "HostdProcess.h"
#include "Messages.h"
#include "PasswordSubstitute.h"

namespace hostdtest {

namespace pr = tavo::protocol;
namespace ib = tavo::ibmi;

// `from`: the loopback address the connection comes from, as another workstation's would.
inline asio::ip::tcp::socket Connect(asio::io_context& io, int port, const char* from = nullptr) {
    asio::ip::tcp::socket socket(io);
    if (from) {
        socket.open(asio::ip::tcp::v4());
        socket.bind({asio::ip::make_address(from), 0});
    }
    socket.connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
    return socket;
}

// Our own protocol.
class RawClient {
  public:
    explicit RawClient(int port, const char* from = nullptr) : socket_(Connect(io_, port, from)) {}
    void SendRaw(const std::string& bytes) { asio::write(socket_, asio::buffer(bytes)); }
    void Send(const pr::Message& m) { SendRaw(pr::Encode(m)); }
    // The next reply; nullopt when the daemon closed the connection.
    std::optional<pr::Message> Receive() {
        for (;;) {
            if (auto body = decoder_.Next())
                return pr::Decode(*body);
            std::array<std::uint8_t, 4096> buffer;
            std::error_code ec;
            const auto n = socket_.read_some(asio::buffer(buffer), ec);
            if (ec)
                return std::nullopt;
            decoder_.Feed(std::span(buffer.data(), n));
        }
    }
    pr::Message Ask(const pr::Message& m) {
        Send(m);
        auto reply = Receive();
        if (!reply)
            throw std::runtime_error("the daemon closed the connection");
        return *reply;
    }
    // The refusal's text; empty when signed on.
    std::string SignOnRefusal(const std::string& password = "secret42",
                              const std::string& user = "oper", pr::ErrorCode* code = nullptr) {
        if (!std::holds_alternative<pr::HelloOk>(Ask(pr::Hello{})))
            return "no greeting";
        const auto reply = Ask(pr::SignOn{user, password});
        const auto* error = std::get_if<pr::Error>(&reply);
        if (error && code)
            *code = error->code;
        return error ? error->text : std::holds_alternative<pr::Ok>(reply) ? "" : "no answer";
    }
    bool SignOn(const std::string& password = "secret42", const std::string& user = "oper") {
        return SignOnRefusal(password, user).empty();
    }
    bool Closed() { return !Receive(); }

  private:
    asio::io_context io_;
    asio::ip::tcp::socket socket_;
    pr::FrameDecoder decoder_;
};

// The IBM i datastreams over `Stream`: a socket, or TLS over one.
template <typename Stream> class BasicLink {
  public:
    void Send(const ib::Bytes& bytes) { asio::write(stream, asio::buffer(bytes)); }
    // One whole datastream; nullopt when the connection ended, and Ended() tells how.
    std::optional<ib::Bytes> Receive() {
        ib::Bytes data(ib::kHeaderLength);
        if (asio::read(stream, asio::buffer(data), ended_); ended_)
            return std::nullopt;
        const auto length = ib::ReadHeader(data).length;
        if (length < ib::kHeaderLength || length > (1u << 20))
            throw std::runtime_error("the daemon sent length " + std::to_string(length));
        data.resize(length);
        asio::read(stream, asio::buffer(data.data() + ib::kHeaderLength, length - 20), ended_);
        return ended_ ? std::nullopt : std::optional(data);
    }
    ib::Bytes Ask(const ib::Bytes& request) {
        Send(request);
        auto reply = Receive();
        if (!reply)
            throw std::runtime_error("the daemon closed the connection: " + ended_.message());
        return *reply;
    }
    bool Closed() { return !Receive(); }
    std::error_code Ended() const { return ended_; }

    asio::io_context io;
    Stream stream;

  protected:
    template <typename Make> explicit BasicLink(Make make) : stream(make(io)) {}

  private:
    std::error_code ended_;
};

class Link : public BasicLink<asio::ip::tcp::socket> {
  public:
    explicit Link(int port, const char* from = nullptr)
        : BasicLink([&](asio::io_context& io) { return Connect(io, port, from); }) {}
    // Whatever comes before the daemon closes the connection.
    std::string Rest() {
        std::string out;
        std::array<char, 64> buffer;
        std::error_code ec;
        while (!ec)
            out.append(buffer.data(), stream.read_some(asio::buffer(buffer), ec));
        return out;
    }
};

inline ib::Seed SeedOf(std::uint8_t first) {
    return {first, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
}

// A whole sign-on on `link` to a sign-on server, as IBM's client makes it; the server's
// return code.
template <typename L>
std::uint32_t SignOn(L& link, const std::string& user, const std::string& password) {
    ib::SignonXchgAttributesRequest hello;
    hello.clientSeed = SeedOf(1);
    const auto attributes = ib::SignonXchgAttributesReply::Decode(link.Ask(hello.Encode()));
    EXPECT_EQ(attributes.passwordLevel, 3);
    const auto scheme = ib::SchemeForLevel(attributes.passwordLevel);
    ib::SignonInfoRequest info;
    info.correlation = 7;
    info.authenticationType = ib::AuthenticationType(scheme);
    info.substitute =
        ib::Substitute(scheme, user, password, attributes.serverSeed, hello.clientSeed);
    info.user = user;
    const auto reply = ib::SignonInfoReply::Decode(link.Ask(info.Encode()));
    EXPECT_EQ(reply.correlation, 7u);
    EXPECT_EQ(reply.serverCcsid, 37u);
    link.Send(ib::EncodeSignonEnd(2));
    EXPECT_TRUE(link.Closed());
    return reply.returnCode;
}

// Seeds and a start request on `link` to a service; the start reply.
template <typename L>
ib::StartServerReply Start(L& link, std::uint16_t server, const std::string& password,
                           const ib::Seed* otherServerSeed = nullptr, std::string user = "oper") {
    ib::SeedsRequest seeds;
    seeds.serverId = server;
    seeds.clientSeed = SeedOf(2);
    const ib::Bytes seedsReply = link.Ask(seeds.Encode());
    EXPECT_EQ(seedsReply.size(), 32u); // a current Toolbox reads items past 32 bytes
    const auto serverSeed = ib::SeedsReply::Decode(seedsReply).serverSeed;
    ib::StartServerRequest start;
    start.serverId = server;
    start.user = user;
    for (char& c : user)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    start.substitute =
        ib::Substitute(ib::PasswordScheme::Sha1, user, password,
                       otherServerSeed ? *otherServerSeed : serverSeed, seeds.clientSeed);
    return ib::StartServerReply::Decode(link.Ask(start.Encode()));
}

// TVOCGET's two areas with `request` ("*CRTDTAQ", or a list code and its stamp): in our
// protocol, and over the host servers with the in/out area offered for compression.
inline pr::Call ListCall(std::string request) {
    request.resize(124, ' ');
    return {"TVOCGET",
            "TAVO400",
            {{pr::Direction::Input, 124, tavo::codepage::ToEbcdic(request)},
             {pr::Direction::InOut, 32000, std::string(32000, '\0')}},
            ""};
}
inline ib::CallProgramRequest ListProgramCall(const std::string& request,
                                              std::uint32_t correlation = 1) {
    std::vector<std::uint8_t> area(124, 0x40);
    const auto text = ib::ToEbcdic(request);
    std::copy(text.begin(), text.end(), area.begin());
    return {correlation,
            "TVOCGET",
            "TAVO400",
            0,
            {ib::MakeCallParm(1, area, 2), ib::MakeCallParm(3, ib::Bytes(32000, 0), 2)}};
}

} // namespace hostdtest
