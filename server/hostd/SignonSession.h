#pragma once

#include <optional>

#include "IbmiSession.h"
#include "Messages.h"

namespace tavo::hostd {

// as-signon: tells the client the password level and a seed, checks its substitute or
// changes its password, and is ended by the client, whether or not either went through.
class SignonSession : public IbmiSession {
  public:
    SignonSession(std::shared_ptr<Stream> stream, IbmiContext& context);

  private:
    void Handle(const ibmi::Header& header, ibmi::ByteView datastream) override;
    bool MayIdle() const override { return signedOn_; }
    void ExchangeAttributes(const ibmi::Header& header, ibmi::ByteView datastream);
    void SignOn(ibmi::ByteView datastream);
    void ChangePassword(ibmi::ByteView datastream);

    ibmi::Seed serverSeed_ = FreshSeed();
    std::optional<ibmi::Seed> clientSeed_;
    bool signedOn_ = false;
};

} // namespace tavo::hostd
