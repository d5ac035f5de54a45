#pragma once

#include "IbmiLink.h"
#include "ServiceStart.h"

namespace tavo::hostd {

// as-rmtcmd: the program calls of TVOCGET and TVOCUPD, run by the host engine.
class RemoteCommandHandler final : public DatastreamHandler {
  public:
    explicit RemoteCommandHandler(IbmiLink& link);

    void Handle(const ibmi::Header& header, ibmi::ByteView datastream) override;
    bool SignedOn() const override { return start_.Started(); }

  private:
    void Call(const ibmi::Header& header, ibmi::ByteView datastream);
    void Refuse(std::uint32_t correlation, std::uint16_t returnCode, const std::string& why);

    IbmiLink& link_;
    ServiceStart start_;
};

} // namespace tavo::hostd
