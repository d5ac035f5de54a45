#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "SystemsFile.h"
#include "cwb.h"

namespace cwb {

struct Status {
    unsigned rc = CWB_OK;
    std::string text; // for the caller's error handle when rc != 0
    // The host's own messages, in the order it sent them; when there are any, they are
    // the error handle's texts instead of `text`.
    std::vector<std::string> messages;

    bool ok() const { return rc == CWB_OK; }
    static Status Ok() { return {}; }
    static Status Fail(unsigned rc, std::string text) { return {rc, std::move(text), {}}; }
};

struct BoundParm {
    unsigned short type; // CWBRC_INPUT, CWBRC_OUTPUT, CWBRC_INOUT
    unsigned char* area; // the caller's area, bound for the life of the program object
    unsigned long length;
};

// What a connection will be used for, so a backend can open that service's connection
// while it signs on.
enum class Use { Programs, Queues };

// What a configured system's address leads to. One instance serves one logical
// connection and is used by one thread at a time.
class Backend {
  public:
    virtual ~Backend() = default;
    virtual Status Connect(Use use) = 0;
    virtual Status CallProgram(std::string_view program, std::string_view library,
                               std::span<BoundParm> parms) = 0;
    virtual Status QueueExists(std::string_view queue, std::string_view library) = 0;
    // Takes one entry filed under `key`; CWBDQ_TIMED_OUT when there is none.
    virtual Status TakeEntry(std::string_view queue, std::string_view library, std::string_view key,
                             std::string& entry) = 0;
    // Changes the user's password on the host; needs no Connect first.
    virtual Status ChangePassword(std::string_view user, std::string_view oldPassword,
                                  std::string_view newPassword) = 0;
    // The CCSID the host's sign-on names; after Connect. Our own hosts speak CCSID 37.
    virtual std::uint32_t HostCcsid() const { return 37; }
};

// Picks the backend by the system's address.
std::unique_ptr<Backend> MakeBackend(const SystemConfig& system);

} // namespace cwb
