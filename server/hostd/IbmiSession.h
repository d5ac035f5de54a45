#pragma once

#include <asio.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Connection.h"
#include "EngineWorker.h"
#include "Log.h"
#include "Messages.h"
#include "SignOnCheck.h"
#include "SignOnChecks.h"
#include "SignOnGuard.h"
#include "Stream.h"
#include "StreamSession.h"

namespace tavo::hostd {

// What the port mapper appends to a host server's name for the same server under TLS.
inline constexpr std::string_view kTlsServiceSuffix = "-s";

// What the IBM i host servers' connections share.
struct IbmiContext {
    asio::io_context& io;
    EngineWorker& worker;
    Log& log;
    SignOnGuard& guard;
    SignOnChecks& checks;
    std::chrono::seconds frameTimeout;
    std::chrono::seconds idleTimeout; // signed on, between requests
    int passwordLevel;
    int hostLevel; // the sign-on server's datastream level
    std::function<void(const Connection*)> closed;
    // False when the user may not have another connection from its address.
    std::function<bool(const Connection*, const std::string& user)> signedOn;
    unsigned nextJob = 1; // io thread only
    // The host's CCSID: what the sign-on and the job report, the messages' and the object
    // names' code page.
    std::uint32_t ccsid = 37;

    // "000123/OPER/QZRCSRVS": IBM's client wants three parts, or it asks for the job first.
    std::string JobName(const std::string& user, const std::string& program);
};

// One connection to a host server, in the clear or under TLS: 20-byte headers, one
// datastream at a time. Runs on the daemon's io thread; engine work goes to the worker
// and comes back as a posted continuation. Anything malformed closes this connection,
// with a log line, and nothing else.
class IbmiSession : public StreamSession {
  public:
    // The most a request of ours can need: a call carries two 32000-byte areas.
    static constexpr std::uint32_t kMaxDatastream = 1u << 20;
    static constexpr std::uint32_t kMostBeforeSignOn = 8192;
    // An IBM i user profile name: what the platform allows.
    static constexpr std::size_t kMostUserNameLength = 10;

    // `service` is the name in the clear; the log shows the port mapper's name for it.
    IbmiSession(std::shared_ptr<Stream> stream, IbmiContext& context, std::uint16_t serverId,
                std::string service);

  protected:
    using Continuation = std::function<void()>;

    // A whole datastream, its length and server ID already checked. The handler sends
    // a reply, closes, starts engine work, or does nothing and the next one is read.
    virtual void Handle(const ibmi::Header& header, ibmi::ByteView datastream) = 0;
    // Whether the client may idle between datastreams yet, i.e. has signed on.
    bool MayIdle() const override = 0;

    // The reply goes out with the request's correlation ID, whatever the codec wrote.
    void Send(ibmi::Bytes reply, std::uint32_t correlation, bool thenClose = false);
    // Several replies, each already carrying its correlation ID, in one write.
    void SendAll(ibmi::Bytes replies);
    // The next datastream when it has arrived whole and `same` accepts it: a server may
    // then answer requests that came back to back in one go. Taken off the input.
    std::optional<ibmi::Bytes> NextIf(const std::function<bool(ibmi::ByteView)>& same);
    // Runs `task` on the engine's thread, then what it returns on the io thread.
    void OnEngine(std::function<Continuation(server::HostEngine&)> task);
    // Runs `check` in its turn among the password checks, then what it returns on the io
    // thread; `busy` instead when too many checks wait. Either way the check Throttled
    // admitted is settled: by the continuation, or as refused for being busy.
    void OnCheck(std::function<Continuation(server::HostEngine&)> check, Continuation busy);
    using CallDone = std::function<void(server::CallOutcome, std::vector<std::string> areas)>;
    void OnCall(std::shared_ptr<CallJob> job, CallDone then);
    // `kind` groups lines a flood repeats with different words (see Log::Line).
    void Log(const std::string& line, std::string_view kind = {}) const;
    ibmi::Seed FreshSeed() const;
    // A user name from the wire as the log and job names show it: upper case, and no
    // control character that could forge a log line.
    static std::string ShownUser(std::string_view user);
    // The refusal of `user` from this client before any check, as a sign-on return code:
    // a name no profile can have, or the sign-on guard's word; nullopt when the attempt
    // may go ahead, its check then counted by the guard until Settle.
    std::optional<std::uint32_t> Throttled(const std::string& user);
    // Why Throttled refused, for the client: until when, or how long to wait.
    std::vector<ibmi::HostMessage> ThrottledMessages() const;
    // Tells the guard how a checked attempt went, and the daemon's connections that a
    // right one signed on; the verdict to answer with.
    SignOnVerdict Settle(const std::string& user, SignOnVerdict verdict);
    static std::string Hex(std::uint16_t id); // "0x7003", as IBM documents its IDs
    // Whose list entries this connection files and reads: "USER@ADDRESS", so the remote
    // command and data queue connections of one workstation share them.
    std::string Owner() const { return user_ + "@" + address_; }

    std::shared_ptr<IbmiSession> Self() {
        return std::static_pointer_cast<IbmiSession>(shared_from_this());
    }

    IbmiContext& context_;
    const std::uint16_t serverId_;
    const std::string service_; // "as-signon", "as-signon-s", ...

  private:
    std::string Take(std::span<const std::uint8_t> bytes) override;
    bool HandleNext() override;
    bool Partial() const override { return !pending_.empty(); }
    // A password check changes nothing, so it need not be waited for; a call must be.
    bool MayCloseNow() const override { return !busy_ || checking_; }
    const char* Unit() const override { return "datastream"; }
    void LogLine(const std::string& line, std::string_view kind = {}) const override;

    std::vector<std::uint8_t> pending_;           // bytes of datastreams not yet handled
    std::unique_ptr<SignOnGuard::Ticket> ticket_; // the check under way, from Throttled
    std::string throttled_;                       // why Throttled refused
    bool checking_ = false;                       // a password check is queued or under way
};

} // namespace tavo::hostd
