#include "HostProtocol.h"

#include <gtest/gtest.h>

using namespace tavo::protocol;

namespace {

std::vector<std::uint8_t> Bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

// The body of the one frame in `frame`, through the decoder the daemon uses.
Message RoundTrip(const Message& m) {
    FrameDecoder decoder;
    decoder.Feed(Bytes(Encode(m)));
    auto body = decoder.Next();
    EXPECT_TRUE(body);
    EXPECT_FALSE(decoder.Partial());
    return Decode(*body);
}

std::string Header(std::uint32_t length) {
    return {static_cast<char>(length >> 24), static_cast<char>(length >> 16),
            static_cast<char>(length >> 8), static_cast<char>(length)};
}

} // namespace

TEST(HostProtocol, EveryMessageSurvivesTheWire) {
    EXPECT_EQ(std::get<Hello>(RoundTrip(Hello{7})).version, 7);
    const auto signOn = std::get<SignOn>(RoundTrip(SignOn{"OPER", std::string("p\0w", 3)}));
    EXPECT_EQ(signOn.user, "OPER");
    EXPECT_EQ(signOn.password, std::string("p\0w", 3));
    const auto change =
        std::get<ChangePassword>(RoundTrip(ChangePassword{"OPER", "old", "n\xC3\xA9w"}));
    EXPECT_EQ(change.oldPassword, "old");
    EXPECT_EQ(change.newPassword, "n\xC3\xA9w");

    Call call{"TVOCUPD",
              "TAVO400",
              {{Direction::Input, 3, "abc"},
               {Direction::Output, 32000, ""},
               {Direction::InOut, 2, std::string("\0\xff", 2)}},
              "id-1"};
    const auto back = std::get<Call>(RoundTrip(call));
    ASSERT_EQ(back.parms.size(), 3u);
    EXPECT_EQ(back.program, "TVOCUPD");
    EXPECT_EQ(back.requestId, "id-1");
    EXPECT_EQ(back.parms[0].data, "abc");
    EXPECT_EQ(back.parms[1].direction, Direction::Output);
    EXPECT_EQ(back.parms[1].length, 32000u);
    EXPECT_TRUE(back.parms[1].data.empty()); // output areas are not sent
    EXPECT_EQ(back.parms[2].data, std::string("\0\xff", 2));

    const auto reply = std::get<CallReply>(RoundTrip(CallReply{false, "no", {"x", ""}}));
    EXPECT_FALSE(reply.ok);
    EXPECT_EQ(reply.message, "no");
    EXPECT_EQ(reply.outputs, (std::vector<std::string>{"x", ""}));

    const auto take = std::get<Take>(RoundTrip(Take{"#TVOCGET", "TAVO400", "k\x01y", 99}));
    EXPECT_EQ(take.key, "k\x01y");
    EXPECT_EQ(take.max, 99u);
    EXPECT_EQ(std::get<Entries>(RoundTrip(Entries{{"a", "bc"}})).entries.size(), 2u);
    const auto error = std::get<Error>(RoundTrip(Error{ErrorCode::SignOnRefused, "refused"}));
    EXPECT_EQ(error.code, ErrorCode::SignOnRefused);
    EXPECT_EQ(error.text, "refused");
    EXPECT_TRUE(std::holds_alternative<Ok>(RoundTrip(Ok{})));
}

TEST(HostProtocol, FramesArriveInAnyPieces) {
    const std::string stream = Encode(Hello{}) + Encode(SignOn{"A", "B"}) + Encode(Ok{});
    FrameDecoder decoder;
    std::vector<Message> got;
    for (char c : stream) {
        decoder.Feed(Bytes(std::string_view(&c, 1)));
        while (auto body = decoder.Next())
            got.push_back(Decode(*body));
    }
    ASSERT_EQ(got.size(), 3u);
    EXPECT_TRUE(std::holds_alternative<SignOn>(got[1]));
    EXPECT_FALSE(decoder.Partial());

    decoder.Feed(Bytes(stream.substr(0, 6)));
    EXPECT_TRUE(decoder.Partial());
    EXPECT_FALSE(decoder.Next());
}

TEST(HostProtocol, BadLengthsAreRefusedBeforeTheBodyArrives) {
    FrameDecoder oversized;
    EXPECT_THROW(oversized.Feed(Bytes(Header(kMaxFrameLength + 1))), ProtocolError);
    FrameDecoder huge;
    EXPECT_THROW(huge.Feed(Bytes("\xff\xff\xff\xff")), ProtocolError);
    FrameDecoder empty;
    EXPECT_THROW(empty.Feed(Bytes(Header(0))), ProtocolError);
    // a bad header after a good frame is caught as well
    FrameDecoder second;
    EXPECT_THROW(second.Feed(Bytes(Encode(Ok{}) + Header(kMaxFrameLength + 1))), ProtocolError);
    FrameDecoder largest;
    EXPECT_NO_THROW(largest.Feed(Bytes(Header(kMaxFrameLength))));
}

TEST(HostProtocol, MalformedBodiesAreRefused) {
    auto decode = [](std::string_view frame) { return Decode(Bytes(frame.substr(4))); };
    const std::string hello = Encode(Hello{});
    EXPECT_THROW(decode(hello.substr(0, hello.size() - 1)), ProtocolError); // short
    EXPECT_THROW(decode(hello + "x"), ProtocolError);                       // left over
    std::string wrongMagic = hello;
    wrongMagic[6] = 'X';
    EXPECT_THROW(decode(wrongMagic), ProtocolError);
    EXPECT_THROW(Decode(Bytes("\x63")), ProtocolError); // unknown type
    EXPECT_THROW(Decode(Bytes("")), ProtocolError);

    // A call that claims more area than allowed is refused on its counts alone.
    std::string call = "\x04"; // Call
    call += std::string("\0\x01P\0\x01L\0\x02", 8);
    call += std::string("\x02", 1) + Header(kMaxCallArea);
    call += std::string("\x02", 1) + Header(1);
    EXPECT_THROW(Decode(Bytes(call)), ProtocolError);
    std::string badDirection = std::string("\x04\0\x01P\0\x01L\0\x01\x09", 10) + Header(0);
    EXPECT_THROW(Decode(Bytes(badDirection)), ProtocolError);
    std::string tooMany = std::string("\x04\0\x01P\0\x01L", 7) + std::string("\0\x24", 2);
    EXPECT_THROW(Decode(Bytes(tooMany)), ProtocolError);
    std::string manyEntries = "\x08" + Header(kMaxEntriesPerReply + 1);
    EXPECT_THROW(Decode(Bytes(manyEntries)), ProtocolError);
}

TEST(HostProtocol, EncoderRefusesWhatThePeerWouldRefuse) {
    EXPECT_THROW(Encode(SignOn{std::string(kMaxNameLength + 1, 'U'), "p"}), ProtocolError);
    EXPECT_THROW(Encode(Call{"P", "L", {{Direction::Input, 5, "abc"}}, ""}), ProtocolError);
    EXPECT_THROW(Encode(Call{"P", "L", {{Direction::Output, kMaxCallArea + 1, ""}}, ""}),
                 ProtocolError);
    EXPECT_THROW(Encode(Call{"P", "L", std::vector<Parm>(kMaxParms + 1), ""}), ProtocolError);
    // an over-long error text is cut rather than refused: it is already the bad news
    EXPECT_EQ(std::get<Error>(RoundTrip(Error{ErrorCode::HostFailure, std::string(9000, 'e')}))
                  .text.size(),
              kMaxTextLength);
}
