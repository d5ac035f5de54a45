#pragma once

#include <asio.hpp>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

#include "FairQueue.h"
#include "HostEngine.h"

namespace tavo::hostd {

// The password checks of every listener, run beside the io thread two at a time: hashing
// is costly on purpose and must not starve the engine's thread. Those waiting are taken
// address by address, so a client's check waits behind at most one of each flooding
// address; when too many wait, a check is refused and the client told the host is busy.
class SignOnChecks {
  public:
    struct Check {
        std::function<void(server::HostEngine&)> run; // on a checking thread
        std::function<void()> refused;                // on the io thread, instead of run
    };

    // At most `most` checks wait, `mostPerAddress` of them from one address.
    SignOnChecks(asio::io_context& io, server::HostEngine& engine, std::size_t most = 64,
                 std::size_t mostPerAddress = 16);
    // Queues `check` for `address`, or refuses it, or another that loses its place to it.
    void Submit(const std::string& address, Check check);
    // Waits for the checks under way and those queued; to be called once io has stopped.
    void Join();

  private:
    void RunNext();

    asio::io_context& io_;
    server::HostEngine& engine_;
    asio::thread_pool pool_{2};
    std::mutex mutex_;
    FairQueue<Check> waiting_;
};

} // namespace tavo::hostd
