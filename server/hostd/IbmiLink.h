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
#include "ProtocolHandler.h"
#include "SignOnCheck.h"
#include "SignOnService.h"
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
    SignOnService& signOn;
    std::chrono::seconds frameTimeout;
    std::chrono::seconds idleTimeout; // signed on, between requests
    int passwordLevel;
    int hostLevel; // the sign-on server's datastream level
    std::function<void(const Connection*)> closed;
    unsigned nextJob = 1; // io thread only
    // The host's CCSID: what the sign-on and the job report, the messages' and the object
    // names' code page.
    std::uint32_t ccsid = 37;

    // "000123/OPER/QZRCSRVS": IBM's client wants three parts, or it asks for the job first.
    std::string JobName(const std::string& user, const std::string& program);
};

// What one IBM i host server does with the datastreams of a connection.
class DatastreamHandler {
  public:
    virtual ~DatastreamHandler() = default;
    // A whole datastream, its length and server ID already checked. The handler sends
    // a reply, closes, starts engine work, or does nothing and the next one is read.
    virtual void Handle(const ibmi::Header& header, ibmi::ByteView datastream) = 0;
    // Whether the client may idle between datastreams yet, i.e. has signed on.
    virtual bool SignedOn() const = 0;
};

// One connection to a host server, in the clear or under TLS: 20-byte headers, one
// datastream at a time, handed to the server's handler, and what its handlers share.
// Runs on the daemon's io thread; engine work goes to the worker and comes back as a
// posted continuation. Anything malformed closes this connection, with a log line, and
// nothing else.
class IbmiLink final : public ProtocolHandler {
  public:
    // The most a request of ours can need: a call carries two 32000-byte areas.
    static constexpr std::uint32_t kMaxDatastream = 1u << 20;
    static constexpr std::uint32_t kMostBeforeSignOn = 8192;
    // An IBM i user profile name: what the platform allows.
    static constexpr std::size_t kMostUserNameLength = 10;

    using MakeHandler = std::function<std::unique_ptr<DatastreamHandler>(IbmiLink&)>;
    // A connection to the server `serverId` over `stream`. `service` is the name in the
    // clear; the log shows the port mapper's name for it.
    static std::shared_ptr<StreamSession> Open(std::shared_ptr<Stream> stream, IbmiContext& context,
                                               std::uint16_t serverId, std::string_view service,
                                               const MakeHandler& make);
    IbmiLink(StreamSession& session, IbmiContext& context, std::uint16_t serverId,
             std::string_view service, const MakeHandler& make);

    std::string Take(std::span<const std::uint8_t> bytes) override;
    bool HandleNext() override;
    bool Partial() const override { return !pending_.empty(); }
    bool MayIdle() const override { return handler_->SignedOn(); }
    const char* Unit() const override { return "datastream"; }
    void LogLine(const std::string& line, std::string_view kind = {}) const override;

    using Continuation = std::function<void()>;

    IbmiContext& Context() const { return context_; }
    std::uint16_t ServerId() const { return serverId_; }
    // Keeps the connection, and so its handler, alive in a callback.
    std::shared_ptr<StreamSession> Keep() { return session_.Keep(); }
    void Close(const std::string& why) { session_.Close(why); }
    // The connection has signed on as `user`, as ShownUser shows it.
    void SignedOnAs(std::string user) { user_ = std::move(user); }
    // The reply goes out with the request's correlation ID, whatever the codec wrote.
    void Send(ibmi::Bytes reply, std::uint32_t correlation, bool thenClose = false);
    // Several replies, each already carrying its correlation ID, in one write.
    void SendAll(ibmi::Bytes replies);
    // The next datastream when it has arrived whole and `same` accepts it: a server may
    // then answer requests that came back to back in one go. Taken off the input.
    std::optional<ibmi::Bytes> NextIf(const std::function<bool(ibmi::ByteView)>& same);
    // Runs `task` on the engine's thread, then what it returns on the io thread.
    void OnEngine(std::function<Continuation(server::HostEngine&)> task);
    // The return code to answer a checked attempt with: the check's own, unless crowded.
    static std::uint32_t ReturnCode(const SignOnDecision& decision);
    // Signs `user` on through the daemon's sign-on service, with the two lines it logs.
    // Refused unchecked (a name no profile can have, the guard's word, too many checks
    // waiting): `refused`, with the return code and a sentence for the client. Else `answer`,
    // unless the client has gone or the check failed, which closes the connection.
    using Refused = std::function<void(std::uint32_t returnCode, const std::string& text)>;
    void SignOn(const std::string& user, std::string signedOnLine, std::string refusedLine,
                SignOnService::Check check, const Refused& refused,
                std::function<void(const SignOnDecision&)> answer);
    // Signs on with a sign-on or start request's substitute. `answer` hears the return code,
    // the verdict and the user as ShownUser shows it; at 0 the connection has signed on.
    using Checked = std::function<void(std::uint32_t returnCode, const SignOnVerdict& verdict,
                                       const std::string& user)>;
    void SignOn(SignOnAttempt attempt, const Refused& refused, Checked answer);
    using CallDone = std::function<void(server::Status, std::vector<std::string> areas)>;
    void OnCall(std::shared_ptr<CallJob> job, CallDone then);
    // `kind` groups lines a flood repeats with different words (see Log::Line).
    void Log(const std::string& line, std::string_view kind = {}) const;
    static ibmi::Seed FreshSeed();
    // A user name from the wire as the log and job names show it: upper case, and no
    // control character that could forge a log line.
    static std::string ShownUser(std::string_view user);
    static std::string Hex(std::uint16_t id); // "0x7003", as IBM documents its IDs
    // Whose list entries this connection files and reads: "USER@ADDRESS", so the remote
    // command and data queue connections of one workstation share them.
    std::string Owner() const { return SignOnService::UserKey(user_) + "@" + session_.Address(); }

  private:
    // Ends work on the engine: `then`, unless the connection has closed, then on.
    void Finish(const Continuation& then);

    StreamSession& session_;
    IbmiContext& context_;
    const std::uint16_t serverId_;
    const std::string service_;         // "as-signon", "as-signon-s", ...
    std::vector<std::uint8_t> pending_; // bytes of datastreams not yet handled
    std::string user_;                  // once signed on
    std::unique_ptr<DatastreamHandler> handler_;
};

} // namespace tavo::hostd
