#pragma once

#include <cstdint>
#include <string>

namespace tavo::server {

// How a step of the host engine or the daemon ended, from a program call to a sign-on:
// the one shape of a failure on the host's side. What a success brings travels beside it.
struct Status {
    // A failure the client's protocol has no return code of its own for.
    static constexpr std::uint32_t kFailed = 1;

    std::uint32_t code = 0; // 0: done; else the return code the client is answered with
    std::string text;       // for the client
    std::string reason;     // for the daemon's log, never for the client
    std::string id;         // the host message it stands for ("CPF9811"); empty: none

    bool ok() const { return code == 0; }
    static Status Ok(std::string reason = {}) { return {0, {}, std::move(reason), {}}; }
    static Status Fail(std::uint32_t code, std::string text, std::string reason = {},
                       std::string id = {}) {
        return {code, std::move(text), std::move(reason), std::move(id)};
    }
};

} // namespace tavo::server
