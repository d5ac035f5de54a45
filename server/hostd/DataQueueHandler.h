#pragma once

#include "IbmiLink.h"
#include "ServiceStart.h"

namespace tavo::hostd {

// as-dtaq: whether the reply queue exists, and keyed reads of it that never wait.
class DataQueueHandler final : public DatastreamHandler {
  public:
    explicit DataQueueHandler(IbmiLink& link);

    void Handle(const ibmi::Header& header, ibmi::ByteView datastream) override;
    bool SignedOn() const override { return start_.Started(); }

  private:
    void QueryAttributes(const ibmi::Header& header, ibmi::ByteView datastream);
    void Read(const ibmi::Header& header, ibmi::ByteView datastream);
    // Runs `task` on the engine's thread and sends the reply it makes.
    void Answer(std::uint32_t correlation, std::function<ibmi::Bytes(server::HostEngine&)> task);

    IbmiLink& link_;
    ServiceStart start_;
};

} // namespace tavo::hostd
