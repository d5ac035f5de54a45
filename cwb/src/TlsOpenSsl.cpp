// TLS over OpenSSL, through asio's stream.
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "Channel.h"

namespace cwb {

Status ClientTlsContext(const SystemConfig& system, std::shared_ptr<TlsContext>& context) {
    if (!system.endpoint.tls || context)
        return Status::Ok();
    auto made = std::make_shared<TlsContext>(asio::ssl::context::tls_client);
    SSL_CTX_set_min_proto_version(made->native_handle(), TLS1_2_VERSION);
    made->set_default_verify_paths();
    made->set_verify_mode(asio::ssl::verify_peer);
    std::error_code ec;
    if (!system.caFile.empty() && made->load_verify_file(system.caFile, ec))
        return Status::Fail(CWB_CONFIG_ERROR, "The CA file " + system.caFile + " of " +
                                                  system.name + " cannot be read: " + ec.message() +
                                                  ".");
    context = std::move(made);
    return Status::Ok();
}

std::unique_ptr<TlsStream> NewTlsStream(asio::io_context& io, Channel::Socket&,
                                        const std::shared_ptr<TlsContext>& context,
                                        const std::string& host) {
    auto stream = std::make_unique<TlsStream>(io, *context);
    SSL* ssl = stream->native_handle();
    asio::error_code isAddress;
    asio::ip::make_address(host, isAddress);
    if (isAddress) {
        SSL_set_tlsext_host_name(ssl, host.c_str());
        SSL_set1_host(ssl, host.c_str());
    } else {
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), host.c_str());
    }
    return stream;
}

void StartHandshake(TlsStream& stream, const std::string&,
                    std::function<void(std::error_code)> done) {
    stream.async_handshake(asio::ssl::stream_base::client, std::move(done));
}

std::string CertificateProblem(TlsStream& stream) {
    const long result = SSL_get_verify_result(stream.native_handle());
    switch (result) {
    case X509_V_OK:
        return "";
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "its certificate has expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "its certificate is not valid yet";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "its certificate was issued for another host";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return "its certificate was issued by an unknown authority (see ca_file)";
    default:
        return std::string("its certificate was refused: ") + X509_verify_cert_error_string(result);
    }
}

} // namespace cwb
