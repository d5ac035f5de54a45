#pragma once

#include <cstddef>
#include <deque>
#include <map>
#include <string>
#include <string_view>

namespace cwb {

// Queue entries a backend fetched before the caller asked for them, by queue, library and
// key, handed out in the order the host sent them.
class Prefetched {
  public:
    struct List {
        std::deque<std::string> entries;
        std::size_t window = 0; // reads to send next time; 0: the host had no more
    };

    // The next entry held for the key; false when none is.
    bool Take(std::string_view queue, std::string_view library, std::string_view key,
              std::string& entry);
    // The key's list, to be filled: a new one unless one is kept for its window.
    List& ToFill(std::string_view queue, std::string_view library, std::string_view key);
    // Forgets a list that got nothing.
    void Forget(std::string_view queue, std::string_view library, std::string_view key);

  private:
    static std::string Id(std::string_view queue, std::string_view library, std::string_view key);

    std::map<std::string, List, std::less<>> lists_;
};

} // namespace cwb
