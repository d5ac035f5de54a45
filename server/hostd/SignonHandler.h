#pragma once

#include <optional>

#include "IbmiLink.h"
#include "Messages.h"

namespace tavo::hostd {

// as-signon: tells the client the password level and a seed, checks its substitute or
// changes its password, and is ended by the client, whether or not either went through.
class SignonHandler final : public DatastreamHandler {
  public:
    explicit SignonHandler(IbmiLink& link);

    void Handle(const ibmi::Header& header, ibmi::ByteView datastream) override;
    bool SignedOn() const override { return signedOn_; }

  private:
    void ExchangeAttributes(const ibmi::Header& header, ibmi::ByteView datastream);
    void SignOn(ibmi::ByteView datastream);
    void ChangePassword(ibmi::ByteView datastream);

    IbmiLink& link_;
    ibmi::Seed serverSeed_ = IbmiLink::FreshSeed();
    std::optional<ibmi::Seed> clientSeed_;
    bool signedOn_ = false;
};

} // namespace tavo::hostd
