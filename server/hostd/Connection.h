#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tavo::hostd {

class SignOnGuard;

// What the daemon keeps of an open connection, whichever protocol it speaks.
class Connection {
  public:
    virtual ~Connection() = default;
    virtual void Start() = 0;
    // The daemon is stopping: close now when idle, else once the reply in flight is out.
    virtual void Stop() = 0;
};

struct ConnectionLimits {
    std::size_t max = 256; // in all: each costs memory and a descriptor
    // Connections not signed on yet from one address: one client that never signs on
    // cannot take the places of those who do.
    std::size_t waitingPerAddress = 16;
    // Signed on as one user from one address: many workstations may share a user.
    std::size_t perUser = 16;
};

// Every open connection of every listener, under one set of limits, whichever port it
// came in on. Used on the io thread only.
class Connections {
  public:
    // With a guard, an address it has locked out is refused at once.
    explicit Connections(ConnectionLimits limits, SignOnGuard* guard = nullptr)
        : limits_(limits), guard_(guard) {}
    // Empty when a new connection from `address` may be served; else why not, for the log.
    std::string Refusal(const std::string& address) const;
    std::size_t Size() const { return open_.size(); }
    void Add(std::shared_ptr<Connection> connection, const std::string& address);
    // A connection has signed on as `user`: false when that user has as many connections
    // from its address as it may have, and this one must be refused.
    bool SignedOn(const Connection* connection, const std::string& user);
    void Remove(const Connection* gone);
    void StopAll();

  private:
    struct Entry {
        std::shared_ptr<Connection> connection;
        std::string address;
        std::string owner; // "USER@ADDRESS" once signed on
    };

    ConnectionLimits limits_;
    SignOnGuard* guard_;
    std::map<const Connection*, Entry> open_;
    std::map<std::string, std::size_t> waiting_; // by address
    std::map<std::string, std::size_t> owners_;
};

} // namespace tavo::hostd
