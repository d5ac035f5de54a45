#include "Connection.h"

#include <algorithm>
#include <cctype>

#include "SignOnGuard.h"

namespace tavo::hostd {

std::string Connections::Refusal(const std::string& address) const {
    if (guard_ && guard_->AddressLocked(address))
        return "locked out after too many failed sign-ons";
    if (open_.size() >= limits_.max && waiting_.empty())
        return "already serving " + std::to_string(open_.size()) + " signed-on connections";
    const auto here = waiting_.find(address);
    if (here != waiting_.end() && here->second >= limits_.waitingPerAddress)
        return "already " + std::to_string(here->second) +
               " connections from this address waiting to sign on";
    return "";
}

std::optional<std::string> Connections::MakeRoom(const void* door) {
    if (open_.size() < limits_.max || waiting_.empty())
        return std::nullopt;
    struct Held {
        std::size_t all = 0;
        std::map<std::string, std::size_t> byAddress;
    };
    std::map<const void*, Held> strangers;
    for (const auto& [key, entry] : open_)
        if (entry.owner.empty()) {
            Held& held = strangers[entry.door];
            ++held.all;
            ++held.byAddress[entry.address];
        }
    auto from = strangers.begin();
    for (auto it = strangers.begin(); it != strangers.end(); ++it)
        if (it->second.all > from->second.all ||
            (it->first == door && it->second.all == from->second.all))
            from = it;
    const auto& byAddress = from->second.byAddress;
    std::size_t most = 0;
    for (const auto& [address, count] : byAddress)
        most = std::max(most, count);
    auto victim = open_.end();
    for (auto it = open_.begin(); it != open_.end(); ++it) {
        const Entry& e = it->second;
        if (e.owner.empty() && e.door == from->first && byAddress.at(e.address) == most &&
            (victim == open_.end() || e.arrived < victim->second.arrived))
            victim = it;
    }
    auto connection = victim->second.connection;
    std::string address = victim->second.address;
    // Forgotten at once, so its place is free even while it finishes a write.
    Forget(victim);
    connection->Stop();
    return address;
}

void Connections::Add(std::shared_ptr<Connection> connection, const std::string& address,
                      const void* door) {
    const Connection* key = connection.get();
    open_[key] = {std::move(connection), address, "", door, ++arrivals_};
    ++waiting_[address];
}

bool Connections::SignedOn(const Connection* connection, const std::string& key) {
    auto it = open_.find(connection);
    if (it == open_.end() || !it->second.owner.empty())
        return true;
    std::string owner = key + "@" + it->second.address;
    if (owners_[owner] >= limits_.perUser)
        return false;
    ++owners_[owner];
    if (--waiting_[it->second.address] == 0)
        waiting_.erase(it->second.address);
    it->second.owner = std::move(owner);
    return true;
}

void Connections::Remove(const Connection* gone) {
    if (auto it = open_.find(gone); it != open_.end())
        Forget(it);
}

void Connections::Forget(std::map<const Connection*, Entry>::iterator it) {
    const Entry& entry = it->second;
    if (entry.owner.empty()) {
        if (--waiting_[entry.address] == 0)
            waiting_.erase(entry.address);
    } else if (--owners_[entry.owner] == 0) {
        owners_.erase(entry.owner);
    }
    open_.erase(it);
}

void Connections::StopAll() {
    std::vector<std::shared_ptr<Connection>> open;
    for (const auto& [key, entry] : open_)
        open.push_back(entry.connection);
    for (const auto& connection : open)
        connection->Stop();
}

} // namespace tavo::hostd
