#include "SchannelStream.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <wininet.h>

namespace cwb {

namespace {

// Room for a whole record; more held than kMostHeld is not TLS.
constexpr std::size_t kChunk = 16 * 1024 + 512;
constexpr std::size_t kMostHeld = 256 * 1024;

bool Wide(const std::string& text, std::wstring& wide) {
    wide.assign(text.size(), L'\0');
    const int n = text.empty()
                      ? 0
                      : MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(),
                                            int(text.size()), wide.data(), int(wide.size()));
    wide.resize(n);
    return n || text.empty();
}

std::string Narrow(const wchar_t* wide, int size) {
    std::string text(size * 3, '\0');
    text.resize(WideCharToMultiByte(CP_UTF8, 0, wide, size, text.data(), int(text.size()), nullptr,
                                    nullptr));
    return text;
}

// Windows' own words for a Win32 error, an HRESULT or a SECURITY_STATUS.
class WindowsCategory : public std::error_category {
  public:
    const char* name() const noexcept override { return "windows"; }
    std::string message(int code) const override {
        wchar_t* text = nullptr;
        const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                           FORMAT_MESSAGE_IGNORE_INSERTS,
                                       nullptr, DWORD(code), 0, (LPWSTR)&text, 0, nullptr);
        std::string message = n ? Narrow(text, int(n)) : "";
        LocalFree(text);
        // Callers end the sentence themselves.
        while (!message.empty() && std::strchr(" .\r\n", message.back()))
            message.pop_back();
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
        return message.empty() ? std::string("error ") + hex : message;
    }
};

std::error_code Error(long code) {
    static const WindowsCategory category;
    return {int(code), category};
}

bool NamesAddress(PCCERT_CONTEXT cert, const asio::ip::address& address) {
    const CERT_INFO* info = cert->pCertInfo;
    const CERT_EXTENSION* names =
        CertFindExtension(szOID_SUBJECT_ALT_NAME2, info->cExtension, info->rgExtension);
    CERT_ALT_NAME_INFO* decoded = nullptr;
    DWORD size = 0;
    if (!names || !CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, names->Value.pbData,
                                       names->Value.cbData, CRYPT_DECODE_ALLOC_FLAG, nullptr,
                                       &decoded, &size))
        return false;
    const auto v4 =
        address.is_v4() ? address.to_v4().to_bytes() : asio::ip::address_v4::bytes_type();
    const auto v6 =
        address.is_v6() ? address.to_v6().to_bytes() : asio::ip::address_v6::bytes_type();
    const unsigned char* want = address.is_v4() ? v4.data() : v6.data();
    const DWORD wantSize = address.is_v4() ? 4 : 16;
    bool found = false;
    for (DWORD i = 0; i < decoded->cAltEntry && !found; ++i) {
        const CERT_ALT_NAME_ENTRY& entry = decoded->rgAltEntry[i];
        found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS &&
                entry.IPAddress.cbData == wantSize &&
                !std::memcmp(entry.IPAddress.pbData, want, wantSize);
    }
    LocalFree(decoded);
    return found;
}

// Why `chain` is not to be trusted for `host`, as the OpenSSL build words it, with the
// matching Windows code; "" when it is.
std::string ChainProblem(PCCERT_CHAIN_CONTEXT chain, HCERTSTORE caFile, const std::string& host,
                         const std::wstring& wideHost, long& code) {
    DWORD status = chain->TrustStatus.dwErrorStatus;
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    const PCCERT_CONTEXT leaf = simple->rgpElement[0]->pCertContext;
    // The chain engine trusts only the Windows store's roots; a ca_file root is ours to.
    if ((status & CERT_TRUST_IS_UNTRUSTED_ROOT) && caFile) {
        const PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
        if (const PCCERT_CONTEXT listed = CertFindCertificateInStore(
                caFile, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, root, nullptr)) {
            CertFreeCertificateContext(listed);
            status &= ~DWORD(CERT_TRUST_IS_UNTRUSTED_ROOT);
        }
    }
    if (status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN)) {
        code = CERT_E_UNTRUSTEDROOT;
        return "its certificate was issued by an unknown authority (see ca_file)";
    }
    for (DWORD i = 0; i < simple->cElement; ++i)
        if (simple->rgpElement[i]->TrustStatus.dwErrorStatus & CERT_TRUST_IS_NOT_TIME_VALID) {
            code = CERT_E_EXPIRED;
            return CertVerifyTimeValidity(nullptr, simple->rgpElement[i]->pCertContext->pCertInfo) <
                           0
                       ? "its certificate is not valid yet"
                       : "its certificate has expired";
        }
    asio::error_code notAddress;
    const asio::ip::address address = asio::ip::make_address(host, notAddress);
    // Trust was settled above; the policy looks at the rest, and at a host name.
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = SECURITY_FLAG_IGNORE_UNKNOWN_CA |
                    (notAddress ? 0 : DWORD(SECURITY_FLAG_IGNORE_CERT_CN_INVALID));
    ssl.pwszServerName = const_cast<wchar_t*>(wideHost.c_str());
    CERT_CHAIN_POLICY_PARA para{sizeof para, 0, &ssl};
    CERT_CHAIN_POLICY_STATUS verdict{sizeof verdict, 0, 0, 0, nullptr};
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &para, &verdict))
        verdict.dwError = GetLastError();
    if (verdict.dwError == DWORD(CERT_E_CN_NO_MATCH) ||
        (!notAddress && !NamesAddress(leaf, address))) {
        code = CERT_E_CN_NO_MATCH;
        return "its certificate was issued for another host";
    }
    if (verdict.dwError || status) {
        code = verdict.dwError ? long(verdict.dwError) : long(CERT_E_CHAINING);
        return "its certificate was refused: " + Error(code).message();
    }
    return "";
}

} // namespace

std::shared_ptr<const SchannelContext> SchannelContext::Make(const std::string& caFile,
                                                             std::string& error) {
    if (caFile.empty())
        return std::shared_ptr<const SchannelContext>(new SchannelContext(nullptr));
    std::wstring path;
    std::FILE* file = Wide(caFile, path) ? _wfopen(path.c_str(), L"rb") : nullptr;
    if (!file) {
        error = path.empty() ? "its name is not UTF-8" : std::generic_category().message(errno);
        return nullptr;
    }
    std::string pem;
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        pem.append(chunk, n);
    const bool failed = std::ferror(file);
    std::fclose(file);
    if (failed) {
        error = "it could not be read to its end";
        return nullptr;
    }
    std::shared_ptr<const SchannelContext> made(
        new SchannelContext(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr)));
    // CryptStringToBinaryA decodes one PEM block: each is handed over on its own.
    const std::string begin = "-----BEGIN CERTIFICATE-----", end = "-----END CERTIFICATE-----";
    int count = 0;
    for (std::size_t at = 0; (at = pem.find(begin, at)) != std::string::npos; ++count) {
        const std::size_t stop = pem.find(end, at);
        DWORD size = 0;
        std::vector<BYTE> der(pem.size());
        if (stop != std::string::npos) {
            size = DWORD(der.size());
            if (!CryptStringToBinaryA(pem.data() + at, DWORD(stop + end.size() - at),
                                      CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr,
                                      nullptr) ||
                !CertAddEncodedCertificateToStore(made->store_, X509_ASN_ENCODING, der.data(), size,
                                                  CERT_STORE_ADD_USE_EXISTING, nullptr))
                size = 0;
        }
        if (!size) {
            error = "its certificate " + std::to_string(count + 1) + " is damaged";
            return nullptr;
        }
        at = stop + end.size();
    }
    if (!count) {
        error = "it holds no PEM certificate";
        return nullptr;
    }
    return made;
}

SchannelContext::~SchannelContext() {
    if (store_)
        CertCloseStore(store_, 0);
}

SchannelStream::SchannelStream(Socket& socket, std::shared_ptr<const SchannelContext> context)
    : socket_(socket), context_(std::move(context)),
      flags_(ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
             ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR) {}

SchannelStream::~SchannelStream() {
    if (begun_)
        DeleteSecurityContext(&ctx_);
    if (haveCred_)
        FreeCredentialsHandle(&cred_);
}

asio::mutable_buffer SchannelStream::ReadRoom() {
    if (in_.size() - inLen_ < kChunk)
        in_.resize(inLen_ + kChunk);
    return asio::buffer(in_.data() + inLen_, in_.size() - inLen_);
}

asio::mutable_buffer SchannelStream::PlainRoom() {
    if (!ready_)
        return {};
    sealed_.resize(sizes_.cbHeader + sizes_.cbMaximumMessage + sizes_.cbTrailer);
    return asio::buffer(sealed_.data() + sizes_.cbHeader, sizes_.cbMaximumMessage);
}

SchannelStream::Next SchannelStream::Advance(Kind kind, asio::mutable_buffer data, bool& sealed) {
    if (inLen_ >= kMostHeld)
        failed_ = asio::error::message_size;
    if (kind == Kind::Write)
        return Seal(data.size(), sealed);
    if (kind == Kind::Read && !data.size())
        return {Next::Done};
    if (kind == Kind::Read && !haveCred_)
        return {Next::Done, asio::error::not_connected};
    if (kind == Kind::Handshake && !haveCred_) {
        // SCH_CREDENTIALS brings TLS 1.3; Windows before 10 1809 knows only SCHANNEL_CRED.
        const DWORD flags =
            SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
        TLS_PARAMETERS tls{};
        tls.grbitDisabledProtocols = SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT |
                                     SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;
        SCH_CREDENTIALS modern{};
        modern.dwVersion = SCH_CREDENTIALS_VERSION;
        modern.dwFlags = flags;
        modern.cTlsParameters = 1;
        modern.pTlsParameters = &tls;
        SCHANNEL_CRED older{};
        older.dwVersion = SCHANNEL_CRED_VERSION;
        older.dwFlags = flags;
        older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        SECURITY_STATUS status = SEC_E_UNKNOWN_CREDENTIALS;
        for (void* cred : {static_cast<void*>(&modern), static_cast<void*>(&older)})
            if (status != SEC_E_OK)
                status = AcquireCredentialsHandleW(nullptr, const_cast<LPWSTR>(UNISP_NAME_W),
                                                   SECPKG_CRED_OUTBOUND, nullptr, cred, nullptr,
                                                   nullptr, &cred_, nullptr);
        haveCred_ = status == SEC_E_OK;
        if (!haveCred_)
            return {Next::Done, Error(status)};
        if (!Wide(host_, wideHost_))
            return {Next::Done, failed_ = Error(ERROR_NO_UNICODE_TRANSLATION)};
    }
    for (;;) {
        const Next next = Shake();
        if (next.what != Next::None)
            return next;
        if (kind == Kind::Handshake || reverify_) {
            reverify_ = false;
            if (const std::error_code ec = Verify())
                return {Next::Done, ec};
            if (kind == Kind::Handshake)
                return {Next::Done};
        }
        if (plainAt_ < plain_.size() || closed_) {
            const std::size_t n = std::min(data.size(), plain_.size() - plainAt_);
            std::memcpy(data.data(), plain_.data() + plainAt_, n);
            plainAt_ += n;
            return {Next::Done, n ? std::error_code() : asio::error::eof, n};
        }
        const Next more = Open();
        if (more.what != Next::None)
            return more;
    }
}

// The handshake's next step; None when it is over, or was over already.
SchannelStream::Next SchannelStream::Shake() {
    for (;;) {
        if (!out_.empty())
            return {Next::Send};
        if (failed_)
            return {Next::Done, failed_};
        if (!shaking_)
            return {};
        if (begun_ && !inLen_ && !reshake_)
            return {Next::Read};
        reshake_ = false;
        SecBuffer in[2] = {{ULONG(inLen_), SECBUFFER_TOKEN, in_.data()},
                           {0, SECBUFFER_EMPTY, nullptr}};
        SecBuffer out[2] = {{0, SECBUFFER_TOKEN, nullptr}, {0, SECBUFFER_ALERT, nullptr}};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in}, outDesc{SECBUFFER_VERSION, 2, out};
        ULONG attributes = 0;
        const SECURITY_STATUS status = InitializeSecurityContextW(
            &cred_, begun_ ? &ctx_ : nullptr, wideHost_.data(), flags_, 0, 0,
            begun_ ? &inDesc : nullptr, 0, &ctx_, &outDesc, &attributes, nullptr);
        for (SecBuffer& b : out)
            if (b.pvBuffer) {
                out_.insert(out_.end(), static_cast<char*>(b.pvBuffer),
                            static_cast<char*>(b.pvBuffer) + b.cbBuffer);
                FreeContextBuffer(b.pvBuffer);
            }
        if (status == SEC_E_INCOMPLETE_MESSAGE)
            return out_.empty() ? Next::Read : Next::Send;
        if (status == SEC_I_INCOMPLETE_CREDENTIALS && !(flags_ & ISC_REQ_USE_SUPPLIED_CREDS)) {
            // The server asks for a certificate of ours: go on without one.
            flags_ |= ISC_REQ_USE_SUPPLIED_CREDS;
            reshake_ = true;
            continue;
        }
        if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) {
            failed_ = Error(status);
            continue;
        }
        begun_ = true;
        shaking_ = status != SEC_E_OK;
        const bool extra = in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer;
        if (extra)
            std::memmove(in_.data(), in_.data() + inLen_ - in[1].cbBuffer, in[1].cbBuffer);
        inLen_ = extra ? in[1].cbBuffer : 0;
    }
}

// Decrypts what has come; None when there is something to read or do, Read when more
// must come first.
SchannelStream::Next SchannelStream::Open() {
    if (!inLen_)
        return {Next::Read};
    SecBuffer b[4] = {{ULONG(inLen_), SECBUFFER_DATA, in_.data()},
                      {0, SECBUFFER_EMPTY, nullptr},
                      {0, SECBUFFER_EMPTY, nullptr},
                      {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
    const bool alert = in_[0] == 21; // the record's type, in the clear before TLS 1.3
    const std::size_t plainBefore = plain_.size() - plainAt_;
    const SECURITY_STATUS status = DecryptMessage(&ctx_, &desc, 0, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE)
        return {Next::Read};
    closed_ = status == SEC_I_CONTEXT_EXPIRED;
    if (closed_)
        return {};
    if (status != SEC_E_OK && status != SEC_I_RENEGOTIATE)
        return {Next::Done, failed_ = Error(status)};
    if (plainAt_ == plain_.size()) {
        plain_.clear();
        plainAt_ = 0;
    }
    const SecBuffer* extra = nullptr;
    for (const SecBuffer& one : b)
        if (one.BufferType == SECBUFFER_DATA && one.cbBuffer)
            plain_.insert(plain_.end(), static_cast<char*>(one.pvBuffer),
                          static_cast<char*>(one.pvBuffer) + one.cbBuffer);
        else if (one.BufferType == SECBUFFER_EXTRA && one.cbBuffer)
            extra = &one;
    if (extra)
        std::memmove(in_.data(), extra->pvBuffer, extra->cbBuffer);
    inLen_ = extra ? extra->cbBuffer : 0;
    // Wine reports a close_notify as an alert record that decrypts to nothing.
    closed_ = status == SEC_E_OK && alert && plain_.size() - plainAt_ == plainBefore;
    // Also how TLS 1.3 hands over a session ticket or a key update: what follows the
    // message goes to InitializeSecurityContext, even when nothing does.
    if (status == SEC_I_RENEGOTIATE)
        shaking_ = reshake_ = reverify_ = true;
    return {};
}

SchannelStream::Next SchannelStream::Seal(std::size_t size, bool& sealed) {
    if (sealed)
        return {Next::Done, {}, size};
    if (failed_ || !ready_)
        return {Next::Done, failed_ ? failed_ : asio::error::not_connected};
    if (!size)
        return {Next::Done};
    char* at = sealed_.data();
    SecBuffer b[4] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, at},
                      {ULONG(size), SECBUFFER_DATA, at + sizes_.cbHeader},
                      {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, at + sizes_.cbHeader + size},
                      {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, b};
    const SECURITY_STATUS status = EncryptMessage(&ctx_, 0, &desc, 0);
    if (status != SEC_E_OK)
        return {Next::Done, failed_ = Error(status)};
    sealed_.resize(b[0].cbBuffer + b[1].cbBuffer + b[2].cbBuffer);
    sealed = true;
    return {Next::Send};
}

std::error_code SchannelStream::Verify() {
    // Not every Schannel honours the disabled protocols (Wine does not).
    SecPkgContext_ConnectionInfo connection{};
    SECURITY_STATUS status =
        QueryContextAttributesW(&ctx_, SECPKG_ATTR_CONNECTION_INFO, &connection);
    if (status == SEC_E_OK && !(connection.dwProtocol & (SP_PROT_TLS1_2 | SP_PROT_TLS1_3)))
        status = SEC_E_ALGORITHM_MISMATCH;
    PCCERT_CONTEXT cert = nullptr;
    if (status == SEC_E_OK)
        status = QueryContextAttributesW(&ctx_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &cert);
    if (status != SEC_E_OK)
        return failed_ = Error(status);
    // The server's chain as it sent it, completed from the ca_file.
    HCERTSTORE extra = CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr);
    CertAddStoreToCollection(extra, cert->hCertStore, 0, 0);
    if (context_->CaFile())
        CertAddStoreToCollection(extra, context_->CaFile(), 0, 0);
    LPSTR serverAuth[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage = {1, serverAuth};
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    long code = 0;
    if (CertGetCertificateChain(nullptr, cert, nullptr, extra, &para, 0, nullptr, &chain)) {
        problem_ = ChainProblem(chain, context_->CaFile(), host_, wideHost_, code);
        CertFreeCertificateChain(chain);
    } else {
        code = long(GetLastError());
        problem_ = "its certificate was refused: " + Error(code).message();
    }
    CertCloseStore(extra, 0);
    CertFreeCertificateContext(cert);
    if (!problem_.empty())
        return failed_ = Error(code);
    status = QueryContextAttributesW(&ctx_, SECPKG_ATTR_STREAM_SIZES, &sizes_);
    if (status != SEC_E_OK)
        return failed_ = Error(status);
    ready_ = true;
    return {};
}

} // namespace cwb
