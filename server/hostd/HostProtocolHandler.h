#pragma once

#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "Connection.h"
#include "EngineWorker.h"
#include "HostProtocol.h"
#include "Log.h"
#include "Passwords.h"
#include "ProtocolHandler.h"
#include "RecentReplies.h"
#include "SignOnService.h"
#include "Stream.h"
#include "StreamSession.h"

namespace tavo::hostd {

// What every connection of our protocol shares.
struct SessionContext {
    asio::io_context& io;
    EngineWorker& worker;
    SignOnService& signOn;
    VerifiedPasswords& verified;
    RecentReplies& recent;
    server::HostEngine& engine;
    Log& log;
    std::chrono::seconds frameTimeout;
    std::chrono::seconds idleTimeout; // signed on, between requests
    std::function<void(const Connection*)> closed;
};

// Our own protocol on a client connection, in the clear or under TLS: hello, sign-on,
// then one request at a time. Engine work goes to the worker and comes back as a posted
// reply. Anything malformed closes this connection, with a log line, and nothing else.
class HostProtocolHandler final : public ProtocolHandler {
  public:
    // A connection of our protocol over `stream`.
    static std::shared_ptr<StreamSession> Open(std::shared_ptr<Stream> stream,
                                               SessionContext& context);
    HostProtocolHandler(StreamSession& session, SessionContext& context);

    std::string Take(std::span<const std::uint8_t> bytes) override;
    bool HandleNext() override;
    bool Partial() const override { return decoder_.Partial(); }
    bool MayIdle() const override { return state_ == State::Ready; }
    const char* Unit() const override { return "frame"; }
    void LogLine(const std::string& line, std::string_view kind = {}) const override;

  private:
    enum class State { Hello, SignOn, Ready };

    void Handle(protocol::Message message);
    // With `newPassword`, a change of password: the old one is checked as a sign-on's,
    // then the new one is stored and the connection closes.
    void HandleSignOn(protocol::SignOn signOn, std::optional<std::string> newPassword = {});
    void HandleCall(protocol::Call call);
    // Runs `task` on the engine's thread and sends what it returns.
    void OnEngine(std::function<protocol::Message(server::HostEngine&)> task);
    void Reply(const protocol::Message& message, bool thenClose = false);

    StreamSession& session_;
    SessionContext& context_;
    protocol::FrameDecoder decoder_;
    std::string user_;  // once signed on
    std::string owner_; // of the list entries, once signed on: "USER@ADDRESS"
    State state_ = State::Hello;
};

} // namespace tavo::hostd
