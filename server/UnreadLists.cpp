#include "UnreadLists.h"

#include <algorithm>

namespace tavo::server {

namespace {
// A map node: the value, its links and colour, and the heap's word.
constexpr std::size_t kNodeLinks = 5 * sizeof(void*);
} // namespace

void UnreadLists::SetLimits(QueueLimits limits) {
    limits_ = std::move(limits);
}

UnreadLists::Clock::time_point UnreadLists::Now() const {
    return limits_.now ? limits_.now() : Clock::now();
}

// The memory a string's characters take beyond the string itself: short ones live
// inside it, the heap hands out 16-byte steps with a word of bookkeeping.
std::size_t UnreadLists::HeapBytes(const std::string& s) {
    if (s.capacity() <= std::string().capacity())
        return 0;
    return (s.capacity() + 1 + sizeof(void*) + 15) / 16 * 16;
}
std::size_t UnreadLists::ListBytes(const std::string& id, const Filed& filed) {
    std::size_t bytes = kNodeLinks + sizeof(std::pair<const std::string, Filed>) + HeapBytes(id) +
                        filed.entries.capacity() * sizeof(std::string);
    for (std::size_t i = filed.next; i < filed.entries.size(); ++i)
        bytes += HeapBytes(filed.entries[i]);
    return bytes;
}
std::size_t UnreadLists::OwnerBytes(const std::string& owner) {
    return kNodeLinks + sizeof(std::pair<const std::string, Owned>) + HeapBytes(owner);
}

// An owner's bytes count its own node too; it goes with its last list.
void UnreadLists::DropList(OwnerAt owner, ListAt list) {
    const std::size_t bytes = ListBytes(list->first, list->second);
    owner->second.bytes -= bytes;
    unreadBytes_ -= bytes;
    owner->second.lists.erase(list);
    if (owner->second.lists.empty()) {
        unreadBytes_ -= owner->second.bytes;
        owners_.erase(owner);
    }
}

void UnreadLists::DropOldest(OwnerAt owner) {
    auto& lists = owner->second.lists;
    DropList(owner, std::min_element(lists.begin(), lists.end(), [](auto& a, auto& b) {
                 return a.second.order < b.second.order;
             }));
}

void UnreadLists::DropExpired() {
    const auto oldest = Now() - limits_.expiry;
    for (auto o = owners_.begin(); o != owners_.end();) {
        const auto nextOwner = std::next(o);
        for (auto l = o->second.lists.begin(); l != o->second.lists.end();) {
            const auto nextList = std::next(l);
            const bool last = o->second.lists.size() == 1;
            if (l->second.at < oldest) {
                DropList(o, l);
                if (last)
                    break;
            }
            l = nextList;
        }
        o = nextOwner;
    }
}

// Every owner holding lists, and one filing its first, may hold an equal share of the
// memory: one that files without reading crowds out nobody but itself.
std::size_t UnreadLists::Share(std::string_view owner) const {
    return limits_.totalBytes / (owners_.size() + (owners_.contains(owner) ? 0 : 1));
}

// Makes room for `adding` more bytes of `owner`'s, who fits its share: its own oldest
// lists go first, then those of owners_ above their share, never one within its share.
bool UnreadLists::MakeRoom(const std::string& owner, std::size_t adding) {
    const std::size_t share = Share(owner);
    for (auto o = owners_.find(owner); o != owners_.end() && o->second.bytes + adding > share;
         o = owners_.find(owner))
        DropOldest(o);
    const auto needed = [&] {
        return unreadBytes_ + adding + (owners_.contains(owner) ? 0 : OwnerBytes(owner));
    };
    while (needed() > limits_.totalBytes) {
        const auto largest = std::max_element(owners_.begin(), owners_.end(), [](auto& a, auto& b) {
            return a.second.bytes < b.second.bytes;
        });
        if (largest == owners_.end() || largest->second.bytes <= share)
            return false;
        DropOldest(largest);
    }
    return true;
}

std::optional<std::string> UnreadLists::File(std::string_view owner, const std::string& id,
                                             const std::vector<std::string>& entries,
                                             const std::string& queue) {
    DropExpired();
    const std::string owned(owner);
    const auto o = owners_.find(owned);
    const auto old = o == owners_.end() ? ListAt() : o->second.lists.find(id);
    const bool again = o != owners_.end() && old != o->second.lists.end();
    // The same request again before the first was read: both lists under the one key.
    Filed filed;
    if (again)
        filed.entries.assign(old->second.entries.begin() + old->second.next,
                             old->second.entries.end());
    if (filed.entries.size() + entries.size() > limits_.perKeyCap)
        return "Data queue " + queue + " holds too many unread entries for this request; at most " +
               std::to_string(limits_.perKeyCap) + " are kept under one key.";
    filed.entries.insert(filed.entries.end(), entries.begin(), entries.end());
    filed.at = Now();
    filed.order = ++filings_;
    const std::size_t adding = ListBytes(id, filed);
    if (adding + OwnerBytes(owned) > Share(owned))
        return "Data queue " + queue + " holds " + std::to_string(unreadBytes_ >> 20) +
               " MiB of entries nobody has read yet, as much as the host keeps "
               "while this many users are served; try again in a few minutes.";
    if (again)
        DropList(o, old);
    if (!MakeRoom(owned, adding))
        return "Data queue " + queue + " cannot make room for this request.";
    auto [at, added] = owners_.try_emplace(owned);
    if (added) {
        at->second.bytes = OwnerBytes(owned);
        unreadBytes_ += at->second.bytes;
    }
    at->second.lists[id] = std::move(filed);
    at->second.bytes += adding;
    unreadBytes_ += adding;
    return std::nullopt;
}

std::vector<std::string> UnreadLists::Take(std::string_view owner, const std::string& id,
                                           std::size_t max) {
    std::vector<std::string> out;
    DropExpired();
    const auto o = owners_.find(owner);
    if (o == owners_.end())
        return out;
    const auto l = o->second.lists.find(id);
    if (l == o->second.lists.end())
        return out;
    Filed& filed = l->second;
    while (out.size() < max && filed.next < filed.entries.size()) {
        std::string& entry = filed.entries[filed.next++];
        o->second.bytes -= HeapBytes(entry);
        unreadBytes_ -= HeapBytes(entry);
        out.push_back(std::move(entry));
    }
    if (filed.next == filed.entries.size())
        DropList(o, l);
    return out;
}

} // namespace tavo::server
