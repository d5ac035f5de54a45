#pragma once

#include <algorithm>
#include <cstddef>
#include <deque>
#include <map>
#include <optional>
#include <string>

namespace tavo::hostd {

// Work waiting for its turn, in a queue for each client address, served one address after
// the other: an address's work waits behind at most one item of each other address,
// however much a flooding address has queued. Not thread-safe.
template <typename T> class FairQueue {
  public:
    FairQueue(std::size_t most, std::size_t mostPerKey) : most_(most), mostPerKey_(mostPerKey) {}

    // Queues `item` under `key`, unless that passes a limit; then what loses its place
    // is handed back to be refused: `item` itself when its key has its share already or
    // the queue is full of keys no longer than its own, else the newest item of the
    // longest queue, which makes room.
    std::optional<T> Push(const std::string& key, T item) {
        const auto here = queues_.find(key);
        const std::size_t have = here == queues_.end() ? 0 : here->second.size();
        if (have >= mostPerKey_)
            return item;
        std::optional<T> out;
        if (size_ >= most_) {
            const auto longest =
                std::max_element(queues_.begin(), queues_.end(), [](const auto& a, const auto& b) {
                    return a.second.size() < b.second.size();
                });
            // Only a queue longer than this key's would be once it had the place: else two
            // flooding addresses would take each other's places for ever.
            if (longest == queues_.end() || longest->second.size() < have + 2)
                return item;
            out = std::move(longest->second.back());
            longest->second.pop_back();
            --size_;
        }
        auto& queue = queues_[key];
        if (queue.empty())
            turn_.push_back(key);
        queue.push_back(std::move(item));
        ++size_;
        return out;
    }

    // The next item in turn; nullopt when none waits.
    std::optional<T> Pop() {
        if (turn_.empty())
            return std::nullopt;
        const std::string key = std::move(turn_.front());
        turn_.pop_front();
        auto it = queues_.find(key);
        T item = std::move(it->second.front());
        it->second.pop_front();
        --size_;
        if (it->second.empty())
            queues_.erase(it);
        else
            turn_.push_back(key);
        return item;
    }

    std::size_t Size() const { return size_; }

  private:
    std::size_t most_, mostPerKey_;
    std::size_t size_ = 0;
    std::map<std::string, std::deque<T>> queues_; // never an empty one
    std::deque<std::string> turn_;                // the keys with work, next served first
};

} // namespace tavo::hostd
