#pragma once

#include <optional>
#include <string>

#include "IbmiLink.h"
#include "Messages.h"

namespace tavo::hostd {

// How a connection to as-rmtcmd or as-dtaq starts: seeds, then a start request that signs
// on with this connection's own seeds; its server serves nothing else before that has
// gone through.
class ServiceStart {
  public:
    ServiceStart(IbmiLink& link, std::string jobProgram);

    bool Started() const { return started_; }
    // A datastream that came before the start went through.
    void Handle(const ibmi::Header& header, ibmi::ByteView datastream);

  private:
    void ExchangeSeeds(const ibmi::Header& header, ibmi::ByteView datastream);
    void StartServer(const ibmi::Header& header, ibmi::ByteView datastream);

    IbmiLink& link_;
    const std::string jobProgram_;
    ibmi::Seed serverSeed_ = IbmiLink::FreshSeed();
    std::optional<ibmi::Seed> clientSeed_;
    bool started_ = false;
};

} // namespace tavo::hostd
