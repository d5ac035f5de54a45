#include "Prefetched.h"

namespace cwb {

namespace {

// Lists whose reading stopped at their end marker leave an empty record behind.
constexpr std::size_t kMostLists = 16;

} // namespace

std::string Prefetched::Id(std::string_view queue, std::string_view library, std::string_view key) {
    std::string id(queue);
    ((id += '\0') += library) += '\0';
    id += key;
    return id;
}

bool Prefetched::Take(std::string_view queue, std::string_view library, std::string_view key,
                      std::string& entry) {
    auto list = lists_.find(Id(queue, library, key));
    if (list == lists_.end() || list->second.entries.empty())
        return false;
    auto& entries = list->second.entries;
    entry = std::move(entries.front());
    entries.pop_front();
    if (entries.empty() && list->second.window == 0)
        lists_.erase(list);
    return true;
}

Prefetched::List& Prefetched::ToFill(std::string_view queue, std::string_view library,
                                     std::string_view key) {
    std::string id = Id(queue, library, key);
    if (lists_.size() >= kMostLists && !lists_.contains(id))
        std::erase_if(lists_, [](const auto& list) { return list.second.entries.empty(); });
    return lists_.try_emplace(std::move(id)).first->second;
}

void Prefetched::Forget(std::string_view queue, std::string_view library, std::string_view key) {
    lists_.erase(Id(queue, library, key));
}

} // namespace cwb
