#include "SignOnChecks.h"

namespace tavo::hostd {

SignOnChecks::SignOnChecks(asio::io_context& io, server::HostEngine& engine, std::size_t most,
                           std::size_t mostPerAddress)
    : io_(io), engine_(engine), waiting_(most, mostPerAddress) {}

void SignOnChecks::Submit(const std::string& address, Check check) {
    std::optional<Check> loser;
    {
        std::lock_guard lock(mutex_);
        loser = waiting_.Push(address, std::move(check));
    }
    // One turn on the pool for each check queued, whichever comes next runs in it; a
    // check refused or pushed out leaves as many queued as before.
    if (!loser)
        return asio::post(pool_, [this] { RunNext(); });
    // Posted, not called: the loser may be another connection than the caller's.
    asio::post(io_, std::move(loser->refused));
}

void SignOnChecks::RunNext() {
    std::optional<Check> next;
    {
        std::lock_guard lock(mutex_);
        next = waiting_.Pop();
    }
    if (next)
        next->run(engine_);
}

void SignOnChecks::Join() {
    pool_.join();
}

} // namespace tavo::hostd
