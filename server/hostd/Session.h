#pragma once

#include <array>
#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "Connection.h"
#include "EngineWorker.h"
#include "HostProtocol.h"
#include "Log.h"
#include "Passwords.h"
#include "RecentReplies.h"
#include "SignOnGuard.h"
#include "Stream.h"

namespace tavo::hostd {

// What every connection shares.
struct SessionContext {
    asio::io_context& io;
    EngineWorker& worker;
    asio::thread_pool& signOnPool;
    SignOnGuard& guard;
    VerifiedPasswords& verified;
    std::atomic<int>& checksWaiting;             // sign-on checks queued or running on the pool
    std::map<std::string, int>& checksByAddress; // the same by client address; io thread only
    RecentReplies& recent;
    server::HostEngine& engine;
    Log& log;
    std::chrono::seconds frameTimeout;
    std::chrono::seconds idleTimeout; // signed on, between requests
    std::function<void(const Connection*)> closed;
    // False when the user may not have another connection from its address.
    std::function<bool(const Connection*, const std::string& user)> signedOn;
};

// One client connection, in the clear or under TLS: handshake, sign-on, then one request
// at a time. Runs on the
// daemon's io thread; engine work goes to the worker and comes back as a posted reply.
// Anything malformed closes this connection, with a log line, and nothing else.
class Session : public Connection, public std::enable_shared_from_this<Session> {
  public:
    Session(std::shared_ptr<Stream> stream, SessionContext& context);
    void Start() override;
    void Stop() override;

  private:
    enum class State { Hello, SignOn, Ready };

    void Read();
    void OnRead(std::error_code ec, std::size_t n);
    void Drain();
    void Handle(protocol::Message message);
    void HandleSignOn(protocol::SignOn signOn);
    void HandleCall(protocol::Call call);
    // Runs `task` on the engine's thread and sends what it returns.
    void OnEngine(std::function<protocol::Message(server::HostEngine&)> task);
    void Reply(const protocol::Message& message, bool thenClose = false);
    void Close(const std::string& why);
    void WatchTime();

    SessionContext& context_;
    std::shared_ptr<Stream> stream_;
    asio::steady_timer timer_;
    std::array<std::uint8_t, 65536> readBuffer_{};
    protocol::FrameDecoder decoder_;
    std::string peer_;
    std::string address_; // the peer without its port: the same for all of a client's connections
    std::string user_;
    std::string owner_; // of the list entries, once signed on: "USER@ADDRESS"
    State state_ = State::Hello;
    bool reading_ = false;
    bool busy_ = false;
    bool stopping_ = false;
    bool closed_ = false;
    bool checking_ = false;         // a sign-on check is on the pool
    std::atomic<bool> gone_{false}; // closed: a check still queued for it is skipped
    enum class Timing { None, Frame, Idle };
    Timing timing_ = Timing::None;
    unsigned timerGeneration_ = 0; // a wait that fired just as it was cancelled is stale
};

} // namespace tavo::hostd
