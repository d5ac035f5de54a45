#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
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
    // In all: each costs memory and a descriptor. When they are all open, a stranger (a
    // connection not signed on yet) makes room for the newcomer, as OpenSSH's early drop
    // keeps a real user's chance under a flood; one signed on is never dropped.
    std::size_t max = 256;
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
    // With every place taken, stops the stranger that makes room for a newcomer through
    // `door` (the listener it came to), and returns its address, for the log. The listener
    // whose strangers hold the most places gives one up, the newcomer's own on a tie, so a
    // flood on one port takes no other's share; in it the address that holds the most, so
    // a flood's own strangers go before a real user's; of those the one that has waited
    // longest.
    std::optional<std::string> MakeRoom(const void* door);
    std::size_t Size() const { return open_.size(); }
    void Add(std::shared_ptr<Connection> connection, const std::string& address,
             const void* door = nullptr);
    // A connection has signed on as the user of `key` (SignOnService::UserKey): false when
    // that user has as many connections from its address as it may have, and this one
    // must be refused.
    bool SignedOn(const Connection* connection, const std::string& key);
    void Remove(const Connection* gone);
    void StopAll();

  private:
    struct Entry {
        std::shared_ptr<Connection> connection;
        std::string address;
        std::string owner;          // "USER@ADDRESS" once signed on
        const void* door = nullptr; // the listener it came to
        std::uint64_t arrived = 0;  // the order of arrival
    };
    // Forgets `it`, whose connection has closed or is being dropped.
    void Forget(std::map<const Connection*, Entry>::iterator it);

    ConnectionLimits limits_;
    SignOnGuard* guard_;
    std::uint64_t arrivals_ = 0;
    std::map<const Connection*, Entry> open_;
    std::map<std::string, std::size_t> waiting_; // by address
    std::map<std::string, std::size_t> owners_;
};

} // namespace tavo::hostd
