#pragma once

#include <array>
#include <asio.hpp>
#include <cstdint>
#include <memory>
#include <string>

#include "Backend.h"
#include "Channel.h"
#include "HostProtocol.h"
#include "Prefetched.h"

namespace cwb {

// A tavo400-hostd at tcp://HOST:PORT, or tcps://HOST:PORT under TLS. Every exchange has a
// deadline (the system's timeout); a connection the daemon has closed is opened again before
// anything is sent on it, so a daemon restart costs the caller nothing. A call whose reply was
// lost with its connection goes again once, under the same request id: the daemon answers a
// repeat with the first answer and never runs it twice. When that fails too, or the host did
// not answer in time, the caller is told the call may have run (CWB_REPLY_LOST).
class TcpBackend final : public Backend {
  public:
    explicit TcpBackend(SystemConfig system);
    ~TcpBackend() override;
    Status Connect(Use use) override;
    Status CallProgram(std::string_view program, std::string_view library,
                       std::span<BoundParm> parms) override;
    Status QueueExists(std::string_view queue, std::string_view library) override;
    // Fetches a batch of the key's entries in one round trip and hands them out one by one.
    Status TakeEntry(std::string_view queue, std::string_view library, std::string_view key,
                     std::string& entry) override;
    // On a connection of its own, closed by the daemon once it has answered.
    Status ChangePassword(std::string_view user, std::string_view oldPassword,
                          std::string_view newPassword) override;

  private:
    Status Open();
    // Dials the daemon and trades greetings.
    Status Greet(Deadline deadline);
    Status EnsureOpen();
    // `sent`, when given, tells whether the whole request went out, so that a failure
    // after it leaves unknown whether the host acted on it.
    Status Exchange(const tavo::protocol::Message& request, tavo::protocol::Message& reply,
                    Deadline deadline, bool* sent = nullptr);
    Status Refused(const tavo::protocol::Message& reply, std::string_view expected);
    void Drop();
    std::string LineKey() const;

    SystemConfig system_;
    Peer peer_; // with the port: "SYSA (host:9471)"
    std::shared_ptr<TlsContext> tlsContext_;
    // Signed on, it outlives this backend to serve the next one.
    std::unique_ptr<Channel> line_ = std::make_unique<Channel>();
    Channel& Wire() { return *line_; }
    std::array<std::uint8_t, 65536> readBuffer_{};
    Prefetched prefetched_;
};

// Closes the connections this process keeps (tests: a fresh process).
void ForgetTcpConnections();

} // namespace cwb
