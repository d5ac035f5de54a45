#pragma once

#include "ServiceSession.h"

namespace tavo::hostd {

// as-dtaq: whether the reply queue exists, and keyed reads of it that never wait.
class DataQueueSession : public ServiceSession {
  public:
    DataQueueSession(std::shared_ptr<Stream> stream, IbmiContext& context);

  private:
    void Serve(const ibmi::Header& header, ibmi::ByteView datastream) override;
    void QueryAttributes(const ibmi::Header& header, ibmi::ByteView datastream);
    void Read(const ibmi::Header& header, ibmi::ByteView datastream);
    // Runs `task` on the engine's thread and sends the reply it makes.
    void Answer(std::uint32_t correlation, std::function<ibmi::Bytes(server::HostEngine&)> task);
};

} // namespace tavo::hostd
