#pragma once

#include <array>
#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <string>

#include "Backend.h"
#include "HostProtocol.h"

namespace cwb {

// A tavo400-hostd at tcp://HOST:PORT. Every exchange has a deadline (the system's
// timeout); a connection the daemon has closed is opened again before anything is sent
// on it, so a daemon restart costs the caller nothing. A request that was sent is never
// sent again: whether the host ran it is then unknown, and the caller is told so.
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

  private:
    using Deadline = std::chrono::steady_clock::time_point;

    Status Open();
    Status EnsureOpen();
    bool PeerClosed();
    Status Exchange(const tavo::protocol::Message& request, tavo::protocol::Message& reply,
                    Deadline deadline);
    // Runs the io context until its work is done or the deadline passes; false on time-out.
    // `resolver`, when given, is cancelled too, so a slow name lookup cannot outlast it.
    bool RunUntil(Deadline deadline, asio::ip::tcp::resolver* resolver = nullptr);
    Status Refused(const tavo::protocol::Message& reply, std::string_view expected);
    void Drop();
    Deadline NextDeadline() const;
    std::string Where() const;

    SystemConfig system_;
    std::string host_;
    std::string port_;
    asio::io_context io_;
    asio::ip::tcp::socket socket_;
    std::array<std::uint8_t, 65536> readBuffer_{};
    std::map<std::string, std::deque<std::string>, std::less<>> prefetched_;
};

} // namespace cwb
