#include "Connection.h"

#include <cctype>

#include "SignOnGuard.h"

namespace tavo::hostd {

std::string Connections::Refusal(const std::string& address) const {
    if (guard_ && guard_->AddressLocked(address))
        return "locked out after too many failed sign-ons";
    if (open_.size() >= limits_.max)
        return "already serving " + std::to_string(open_.size()) + " connections";
    const auto here = waiting_.find(address);
    if (here != waiting_.end() && here->second >= limits_.waitingPerAddress)
        return "already " + std::to_string(here->second) +
               " connections from this address waiting to sign on";
    return "";
}

void Connections::Add(std::shared_ptr<Connection> connection, const std::string& address) {
    const Connection* key = connection.get();
    open_[key] = {std::move(connection), address, ""};
    ++waiting_[address];
}

bool Connections::SignedOn(const Connection* connection, const std::string& user) {
    auto it = open_.find(connection);
    if (it == open_.end() || !it->second.owner.empty())
        return true;
    std::string owner = user + "@" + it->second.address;
    for (char& c : owner)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (owners_[owner] >= limits_.perUser)
        return false;
    ++owners_[owner];
    if (--waiting_[it->second.address] == 0)
        waiting_.erase(it->second.address);
    it->second.owner = std::move(owner);
    return true;
}

void Connections::Remove(const Connection* gone) {
    auto it = open_.find(gone);
    if (it == open_.end())
        return;
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
