#pragma once

#include <array>
#include <asio.hpp>
#include <map>
#include <memory>
#include <string>

#include "IbmiLink.h"

namespace tavo::hostd {

// Service name to port, as the port mapper hands them out.
using ServicePorts = std::map<std::string, unsigned short, std::less<>>;

// One port-mapper lookup: a service name with no framing at all, answered with '+' and
// the port, or refused. Only the name's own bytes can end it, or a pause.
class PortMapperSession : public Connection,
                          public std::enable_shared_from_this<PortMapperSession> {
  public:
    PortMapperSession(asio::ip::tcp::socket socket, IbmiContext& context,
                      const ServicePorts& ports);
    void Start() override;
    void Stop() override;

  private:
    void Read();
    void OnRead(std::error_code ec, std::size_t n);
    void Decide();
    void Close();

    IbmiContext& context_;
    const ServicePorts& ports_;
    asio::ip::tcp::socket socket_;
    asio::steady_timer timer_;
    std::array<char, 64> name_{};
    std::size_t size_ = 0;
    bool closed_ = false;
    bool answering_ = false;
};

} // namespace tavo::hostd
