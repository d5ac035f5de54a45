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
#include "Stream.h"

namespace tavo::hostd {

// What a client connection does the same whichever protocol it speaks: the TLS
// handshake, reading requests off the stream one at a time, the time-outs, and closing
// once with a log line. Runs on the daemon's io thread.
class StreamSession : public Connection, public std::enable_shared_from_this<StreamSession> {
  public:
    struct Timeouts {
        std::chrono::seconds frame; // the handshake and sign-on, or a request once begun
        std::chrono::seconds idle;  // signed on, between requests
    };

    void Start() override;
    void Stop() override;

  protected:
    StreamSession(std::shared_ptr<Stream> stream, asio::io_context& io, Timeouts timeouts,
                  std::function<void(const Connection*)> closed, std::size_t readSize);

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
    // Whether Stop may close at once: when no work is under way, unless it may be dropped.
    virtual bool MayCloseNow() const { return !busy_; }

    // Handles what has arrived, then reads on, unless work is under way or it closed.
    void Drain();
    // The work under way is done: on with the next request, or closed when stopping.
    void Resume();
    void Close(const std::string& why, std::string_view kind = {});

    asio::io_context& io_;
    std::shared_ptr<Stream> stream_;
    std::string peer_;
    std::string address_; // the peer without its port: the same for all a client's connections
    std::string user_;    // once signed on
    bool busy_ = false;
    bool stopping_ = false;
    bool closed_ = false;
    std::atomic<bool> gone_{false}; // closed_, for a sign-on check: one of a gone client is skipped

  private:
    void Read();
    void OnRead(std::error_code ec, std::size_t n);
    void WatchTime();

    const Timeouts timeouts_;
    std::function<void(const Connection*)> onClosed_;
    asio::steady_timer timer_;
    std::vector<std::uint8_t> readBuffer_;
    bool open_ = false; // the TLS handshake is done, or there is none
    bool reading_ = false;
    enum class Timing { None, Frame, Idle };
    Timing timing_ = Timing::None;
    unsigned timerGeneration_ = 0; // a wait that fired just as it was cancelled is stale
};

} // namespace tavo::hostd
