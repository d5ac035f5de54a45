#pragma once

#include "ServiceSession.h"

namespace tavo::hostd {

// as-rmtcmd: the program calls of TVOCGET and TVOCUPD, run by the host engine.
class RemoteCommandSession : public ServiceSession {
  public:
    RemoteCommandSession(std::shared_ptr<Stream> stream, IbmiContext& context);

  private:
    void Serve(const ibmi::Header& header, ibmi::ByteView datastream) override;
    void Call(const ibmi::Header& header, ibmi::ByteView datastream);
    void Refuse(std::uint32_t correlation, std::uint16_t returnCode, const std::string& why);
};

} // namespace tavo::hostd
