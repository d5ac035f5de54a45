#include <gtest/gtest.h>

#include "Stream.h"

using namespace std::chrono_literals;

// A client that sends and never reads cannot hold a reply, and its buffers, for ever.
TEST(Stream, AReplyTheClientDoesNotTakeEndsTheConnection) {
    asio::io_context io;
    asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
    asio::ip::tcp::socket mute(io);
    mute.connect(acceptor.local_endpoint());
    auto stream = tavo::hostd::PlainStream(acceptor.accept(), 200ms);
    const std::string reply(64 << 20, 'r'); // far more than the socket buffers hold
    std::error_code result;
    bool done = false;
    stream->Write(asio::buffer(reply), [&](std::error_code ec, std::size_t) {
        result = ec;
        done = true;
    });
    io.run_for(10s);
    ASSERT_TRUE(done);
    EXPECT_EQ(result, asio::error::timed_out);
}
