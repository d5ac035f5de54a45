#pragma once

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "Connection.h"
#include "ProtocolHandler.h"
#include "Stream.h"

namespace tavo::hostd {

// A client connection, whichever protocol it speaks: the TLS handshake, reading requests
// off the stream one at a time for its protocol handler, the time-outs, and closing once
// with a log line. Runs on the daemon's io thread.
class StreamSession final : public Connection, public std::enable_shared_from_this<StreamSession> {
  public:
    struct Timeouts {
        std::chrono::seconds frame; // the handshake and sign-on, or a request once begun
        std::chrono::seconds idle;  // signed on, between requests
    };
    // Makes the handler this session owns; it may keep the session by reference.
    using MakeHandler = std::function<std::unique_ptr<ProtocolHandler>(StreamSession&)>;

    StreamSession(std::shared_ptr<Stream> stream, asio::io_context& io, Timeouts timeouts,
                  std::function<void(const Connection*)> closed, std::size_t readSize,
                  const MakeHandler& make);

    void Start() override;
    void Stop() override;

    // What the handler may ask of it.
    const std::string& Peer() const { return peer_; }
    // The peer without its port: the same for all a client's connections.
    const std::string& Address() const { return address_; }
    bool Secure() const { return stream_->Secure(); }
    bool Closed() const { return closed_; }
    // Closed, for a sign-on check on another thread: one of a gone client is skipped.
    const std::atomic<bool>* Gone() const { return &gone_; }
    // Keeps the session, and so its handler, alive in a callback.
    std::shared_ptr<StreamSession> Keep() { return shared_from_this(); }

    // Work is under way: nothing more is read till it is done. A droppable one (a
    // password check, which changes nothing) need not be waited for by Stop.
    void Begin(bool droppable = false);
    // The work under way is done, and the handler answers it itself.
    void End();
    bool Busy() const { return busy_; }
    // The work under way is done: on with the next request, or closed when stopping.
    void Resume();
    // Writes `bytes`, kept alive by `keep`, as work under way; then resumes, or closes.
    void Write(std::shared_ptr<const void> keep, asio::const_buffer bytes, bool thenClose);
    void Close(const std::string& why, std::string_view kind = {});

  private:
    // Handles what has arrived, then reads on, unless work is under way or it closed.
    void Drain();
    void Read();
    void OnRead(std::error_code ec, std::size_t n);
    void WatchTime();

    std::shared_ptr<Stream> stream_;
    std::string peer_;
    std::string address_;
    const Timeouts timeouts_;
    std::function<void(const Connection*)> onClosed_;
    asio::steady_timer timer_;
    std::vector<std::uint8_t> readBuffer_;
    std::unique_ptr<ProtocolHandler> handler_;
    bool busy_ = false;
    bool droppable_ = false;
    bool stopping_ = false;
    bool closed_ = false;
    std::atomic<bool> gone_{false};
    bool open_ = false; // the TLS handshake is done, or there is none
    bool reading_ = false;
    enum class Timing { None, Frame, Idle };
    Timing timing_ = Timing::None;
    unsigned timerGeneration_ = 0; // a wait that fired just as it was cancelled is stale
};

} // namespace tavo::hostd
