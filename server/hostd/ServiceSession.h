#pragma once

#include <optional>
#include <string>

#include "IbmiSession.h"
#include "Messages.h"

namespace tavo::hostd {

// A connection to as-rmtcmd or as-dtaq: seeds, then a start request that signs on with
// this connection's own seeds; nothing else is served before that has gone through.
class ServiceSession : public IbmiSession {
  public:
    ServiceSession(std::shared_ptr<Stream> stream, IbmiContext& context, std::uint16_t serverId,
                   std::string service, std::string jobProgram);

  protected:
    // A request on a started connection.
    virtual void Serve(const ibmi::Header& header, ibmi::ByteView datastream) = 0;

  private:
    void Handle(const ibmi::Header& header, ibmi::ByteView datastream) final;
    bool MayIdle() const final { return started_; }
    void ExchangeSeeds(const ibmi::Header& header, ibmi::ByteView datastream);
    void StartServer(const ibmi::Header& header, ibmi::ByteView datastream);

    const std::string jobProgram_;
    ibmi::Seed serverSeed_ = FreshSeed();
    std::optional<ibmi::Seed> clientSeed_;
    bool started_ = false;
};

} // namespace tavo::hostd
