#pragma once

#include <asio.hpp>
#include <functional>
#include <memory>
#include <string>

#include "Connection.h"
#include "Log.h"

namespace tavo::hostd {

// One listening socket of the daemon: accepts until closed and hands each connection,
// within the daemon's cap, to what `make` builds for it.
class Listener {
  public:
    using Factory = std::function<std::shared_ptr<Connection>(asio::ip::tcp::socket)>;
    Listener(asio::io_context& io, Connections& connections, Log& log, Factory make);

    // The port bound (the system's choice for port 0). Throws std::runtime_error when
    // the address cannot be bound.
    unsigned short Bind(const std::string& host, unsigned short port);
    void Start();
    void Close();

  private:
    void Accept();

    Connections& connections_;
    Log& log_;
    Factory make_;
    asio::ip::tcp::acceptor acceptor_;
    asio::steady_timer retry_;
};

} // namespace tavo::hostd
