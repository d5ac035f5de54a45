#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "HostProtocol.h"

namespace tavo::hostd {

// The answers to the latest calls that carried a request id, by user and id, so a call
// sent again after its reply was lost gets the first answer instead of running twice.
// A repeat that arrives while the first is still running waits for its answer. Sends
// are also remembered durably, with the message, across restarts; this covers every
// program. Used on the io thread only.
class RecentReplies {
  public:
    using Answer = std::function<void(const protocol::CallReply&)>;
    enum class Seen { New, Answered, Running };

    explicit RecentReplies(std::size_t keep = 4096) : keep_(keep) {}

    // New: run it and call Finish. Answered: `answer` holds the first answer. Running:
    // `later` will get it.
    Seen Begin(const std::string& key, protocol::CallReply& answer, Answer later) {
        const auto it = entries_.find(key);
        if (it == entries_.end()) {
            entries_[key];
            order_.push_back(key);
            while (order_.size() > keep_) {
                // Only finished answers are forgotten; a running one is not in the way long.
                const auto oldest = entries_.find(order_.front());
                if (oldest != entries_.end() && !oldest->second.done)
                    break;
                entries_.erase(order_.front());
                order_.pop_front();
            }
            return Seen::New;
        }
        if (it->second.done) {
            answer = it->second.reply;
            return Seen::Answered;
        }
        it->second.waiting.push_back(std::move(later));
        return Seen::Running;
    }

    void Finish(const std::string& key, const protocol::CallReply& reply) {
        const auto it = entries_.find(key);
        if (it == entries_.end())
            return;
        it->second.done = true;
        it->second.reply = reply;
        for (auto& answer : std::exchange(it->second.waiting, {}))
            answer(reply);
    }

  private:
    struct Entry {
        bool done = false;
        protocol::CallReply reply;
        std::vector<Answer> waiting;
    };
    std::size_t keep_;
    std::map<std::string, Entry> entries_;
    std::deque<std::string> order_;
};

} // namespace tavo::hostd
