#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "SystemsFile.h"
#include "cwb.h"
#include "cwbrc.h"

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

// How many of `parms` the host fills.
std::size_t OutputCount(std::span<const BoundParm> parms);
// Writes `outputs`, in order, to the areas of the parameters that are not input only:
// only once each has been checked to fit its area exactly, so that a caller's areas are
// written all or not at all.
template <class Area>
void CopyOutputs(std::span<BoundParm> parms, const std::vector<Area>& outputs);

// A data queue with no entry under the key.
Status NoEntry(std::string_view queue, std::string_view library);

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

// Picks the backend by the system's address; null for a system whose address was not
// parsed.
std::unique_ptr<Backend> MakeBackend(const SystemConfig& system);

template <class Area>
void CopyOutputs(std::span<BoundParm> parms, const std::vector<Area>& outputs) {
    for (std::size_t i = 0, o = 0; i < parms.size(); ++i)
        if (parms[i].type != CWBRC_INPUT) {
            const Area& area = outputs[o++];
            std::memcpy(parms[i].area, area.data(), area.size());
        }
}

} // namespace cwb
