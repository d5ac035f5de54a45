#pragma once

#include <cstddef>
#include <memory>
#include <set>
#include <vector>

namespace tavo::hostd {

// What the daemon keeps of an open connection, whichever protocol it speaks.
class Connection {
  public:
    virtual ~Connection() = default;
    virtual void Start() = 0;
    // The daemon is stopping: close now when idle, else once the reply in flight is out.
    virtual void Stop() = 0;
};

// Every open connection of every listener, under one cap: each costs memory and a
// descriptor, whichever port it came in on. Used on the io thread only.
class Connections {
  public:
    explicit Connections(std::size_t max) : max_(max) {}
    bool Full() const { return open_.size() >= max_; }
    std::size_t Size() const { return open_.size(); }
    void Add(std::shared_ptr<Connection> connection) { open_.insert(std::move(connection)); }
    void Remove(const Connection* gone) {
        std::erase_if(open_, [gone](const auto& c) { return c.get() == gone; });
    }
    void StopAll() {
        const std::vector<std::shared_ptr<Connection>> open(open_.begin(), open_.end());
        for (const auto& connection : open)
            connection->Stop();
    }

  private:
    std::size_t max_;
    std::set<std::shared_ptr<Connection>> open_;
};

} // namespace tavo::hostd
