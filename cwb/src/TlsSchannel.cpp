// TLS over Windows' own Schannel.
#include "Channel.h"

namespace cwb {

Status ClientTlsContext(const SystemConfig& system, std::shared_ptr<TlsContext>& context) {
    if (!system.endpoint.tls || context)
        return Status::Ok();
    std::string why;
    context = SchannelContext::Make(system.caFile, why);
    if (!context)
        return Status::Fail(CWB_CONFIG_ERROR, "The CA file " + system.caFile + " of " +
                                                  system.name + " cannot be read: " + why + ".");
    return Status::Ok();
}

std::unique_ptr<TlsStream> NewTlsStream(asio::io_context&, Channel::Socket& plain,
                                        const std::shared_ptr<TlsContext>& context,
                                        const std::string&) {
    return std::make_unique<TlsStream>(plain, context);
}

void StartHandshake(TlsStream& stream, const std::string& host,
                    std::function<void(std::error_code)> done) {
    stream.async_handshake(host, std::move(done));
}

std::string CertificateProblem(TlsStream& stream) {
    return stream.CertificateProblem();
}

} // namespace cwb
