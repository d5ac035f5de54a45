#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "HostEngine.h"

namespace tavo::server {

// The lists filed on the reply queue and not yet read, by owner (the daemon's user and
// address) and by queue and key. Each owner holding lists may hold an equal share of the
// memory, counted as the memory really taken, so one that files without reading crowds
// out nobody but itself; lists nobody reads are dropped after the expiry.
class UnreadLists {
  public:
    void SetLimits(QueueLimits limits);
    // Files `entries` under `id` for `owner`, after any still unread under the same id;
    // the refusal's text (naming `queue`) when they cannot be kept.
    std::optional<std::string> File(std::string_view owner, const std::string& id,
                                    const std::vector<std::string>& entries,
                                    const std::string& queue);
    // Up to `max` of the entries `owner` filed under `id`, oldest first.
    std::vector<std::string> Take(std::string_view owner, const std::string& id, std::size_t max);

  private:
    using Clock = std::chrono::steady_clock;
    // Entries under one key, oldest first from `next` on (those before it were taken), when
    // the newest of them was filed, and in which order the lists were filed.
    struct Filed {
        std::vector<std::string> entries;
        std::size_t next = 0;
        Clock::time_point at;
        std::uint64_t order = 0;
    };
    // One owner's unread lists by queue and key, and the memory they take.
    struct Owned {
        std::map<std::string, Filed, std::less<>> lists;
        std::size_t bytes = 0;
    };
    using OwnerAt = std::map<std::string, Owned, std::less<>>::iterator;
    using ListAt = std::map<std::string, Filed, std::less<>>::iterator;

    Clock::time_point Now() const;
    static std::size_t HeapBytes(const std::string& s);
    static std::size_t ListBytes(const std::string& id, const Filed& filed);
    static std::size_t OwnerBytes(const std::string& owner);
    void DropList(OwnerAt owner, ListAt list);
    void DropOldest(OwnerAt owner);
    void DropExpired();
    std::size_t Share(std::string_view owner) const;
    bool MakeRoom(const std::string& owner, std::size_t adding);

    std::map<std::string, Owned, std::less<>> owners_;
    std::size_t unreadBytes_ = 0; // of every owner's lists
    std::uint64_t filings_ = 0;
    QueueLimits limits_;
};

} // namespace tavo::server
