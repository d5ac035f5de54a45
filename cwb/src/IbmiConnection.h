#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Backend.h"
#include "Channel.h"
#include "Datastream.h"
#include "PasswordSubstitute.h"

namespace cwb {

// One connection to an IBM i host server, plain or TLS, found through the port mapper:
// whole datastreams in and out under deadlines, and, once the server has started, requests
// numbered by its correlation counter. It can outlive the backend that opened it and
// serve the next one.
class IbmiConnection {
  public:
    // Failures name the system and its host; `tls` is the system's, null in the clear.
    IbmiConnection(std::uint16_t serverId, const SystemConfig& system,
                   std::shared_ptr<TlsContext> tls);
    IbmiConnection(const IbmiConnection&) = delete;
    IbmiConnection& operator=(const IbmiConnection&) = delete;
    // Ends the remote command server's job, as it asks, and closes.
    ~IbmiConnection();

    // Connects to the server of `service`: at `fixedPort`, else where the port mapper
    // says.
    Status Dial(std::string_view service, unsigned short fixedPort, Deadline deadline);
    // Sends `request`; then, unless `reply` is null, reads one whole datastream. `sent`,
    // when given, tells whether the whole request went out.
    Status Exchange(const tavo::ibmi::Bytes& request, tavo::ibmi::Bytes* reply, Deadline deadline,
                    bool* sent = nullptr);
    // From now on requests are numbered.
    void Started();
    // A request and its reply on a started server, correlation checked; the deadline is
    // the system's timeout from now.
    Status Request(tavo::ibmi::Bytes request, tavo::ibmi::Bytes& reply, bool* sent = nullptr);
    // `count` copies of `request`, numbered in turn, sent back to back; their replies in
    // order, each of at most `most` bytes.
    Status RequestMany(const tavo::ibmi::Bytes& request, std::size_t count,
                       std::vector<tavo::ibmi::Bytes>& replies, std::uint32_t most);
    // A reply that cannot be read: the connection is closed, since nothing after it can be
    // trusted.
    Status Unreadable(const std::string& why);

    bool StillOpen() { return channel_.StillOpen(); }
    bool IsOpen() { return channel_.Lowest().is_open(); }
    void Close() { channel_.Close(); }

    const std::uint16_t serverId;
    std::uint16_t serverLevel = 0;
    std::uint32_t ccsid = 37;                    // the job's, which its messages come in
    tavo::ibmi::Seed clientSeed{}, serverSeed{}; // from reaching it to starting it

  private:
    // Writes `request` (when given) while reading as many whole datastreams as `replies`
    // has room for, each of at most `most` bytes.
    Status Transfer(const tavo::ibmi::Bytes* request, std::vector<tavo::ibmi::Bytes>& replies,
                    Deadline deadline, bool* sent = nullptr,
                    std::uint32_t most = tavo::ibmi::kMaxDatastreamLength);
    Status PortOf(std::string_view name, unsigned short& port, Deadline deadline);
    Status Broken(std::error_code error);

    Endpoint endpoint_;
    Peer peer_;
    std::shared_ptr<TlsContext> tls_;
    Channel channel_;
    bool started_ = false; // a server never started has no job to end
    std::uint32_t correlation_ = 0;
};

} // namespace cwb
