#pragma once

// A loopback TCP relay that holds every chunk for a fixed time in each direction, so that
// what goes through it sees a round trip of twice that: a distant host, on this machine.
//
// Why in user space: the machines the benchmark runs on have no traffic shaping in the
// kernel (no netem), and it should not need root. What that costs: the kernel completes
// the TCP handshake with the relay's listener at once, so a new connection's SYN round
// trip is not delayed; only what crosses an established connection is (a TLS handshake
// is, since it is data). A figure that opens connections is thus short by one round trip
// per connection.

#include <asio.hpp>
#include <chrono>
#include <thread>

namespace tavobench {

class DelayProxy {
  public:
    // Relays connections to 127.0.0.1:`targetPort`, each chunk `oneWay` late.
    DelayProxy(unsigned short targetPort, std::chrono::milliseconds oneWay);
    ~DelayProxy();
    DelayProxy(const DelayProxy&) = delete;
    DelayProxy& operator=(const DelayProxy&) = delete;

    // The loopback port it listens on.
    unsigned short Port() const { return port_; }

  private:
    void Accept();

    asio::io_context io_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    asio::ip::tcp::acceptor acceptor_;
    asio::ip::tcp::endpoint target_;
    std::chrono::milliseconds delay_;
    unsigned short port_ = 0;
    std::thread thread_;
};

} // namespace tavobench
