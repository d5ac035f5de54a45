#pragma once

// Certificates for TLS tests, made with the openssl command when a test first asks for
// them (EC P-256 keys, PEM files), so that none is kept in the source tree and none can
// expire there.
//
//     const certtest::Certs& certs = certtest::Shared();
//     server: --tls-cert certs.localhost.cert --tls-key certs.localhost.key
//     client: trust certs.ca, connect to "localhost" or 127.0.0.1

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace certtest {

// A certificate and its private key, PEM, the key not encrypted.
struct Pair {
    std::filesystem::path cert;
    std::filesystem::path key;
};

struct Certs {
    std::filesystem::path ca; // the test CA's certificate: what a client is told to trust
    Pair localhost;           // DNS:localhost and IP:127.0.0.1, signed by the CA: verifies
    Pair wrongHost;           // DNS:wrong.example only (no IP), signed by the CA
    Pair unknownCa;           // DNS:localhost and IP:127.0.0.1, signed by a CA nothing trusts
    Pair expired;             // as `localhost`, but valid from 2020-01-01 to 2020-01-02 only
};

namespace detail {

inline constexpr const char* kConfig = R"(# made by TestCerts.h
[req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
[ca_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[localhost_ext]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:localhost, IP:127.0.0.1
[wrong_host_ext]
basicConstraints = CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = DNS:wrong.example
# openssl ca, for it alone can date a certificate in the past
[ca]
default_ca = signer
[signer]
database = index.txt
new_certs_dir = .
serial = serial
default_md = sha256
policy = anything
unique_subject = no
[anything]
commonName = supplied
)";

inline constexpr const char* kScript = R"(set -e
: > index.txt
echo 01 > serial
ec="-newkey ec -pkeyopt ec_paramgen_curve:P-256 -noenc"
for ca in ca other-ca; do
  openssl req -config openssl.cnf -x509 $ec -keyout $ca.key -subj "/CN=TAVO test $ca" \
    -days 3650 -extensions ca_ext -out $ca.pem
done
sign() { # name CN issuer extensions validity...
  name=$1 cn=$2 issuer=$3 ext=$4
  shift 4
  openssl req -config openssl.cnf -new $ec -keyout $name.key -subj "/CN=$cn" -out $name.csr
  openssl ca -batch -config openssl.cnf -notext -cert $issuer.pem -keyfile $issuer.key \
    -extensions $ext -in $name.csr -out $name.pem "$@"
}
sign localhost localhost ca localhost_ext -days 3650
sign wrong-host wrong.example ca wrong_host_ext -days 3650
sign unknown-ca localhost other-ca localhost_ext -days 3650
sign expired localhost ca localhost_ext -startdate 20200101000000Z -enddate 20200102000000Z
)";

inline Certs Generate(const std::filesystem::path& dir) {
    const std::string where = std::filesystem::absolute(dir).string();
    if (where.find('\'') != std::string::npos)
        throw std::runtime_error("certtest: no quote in the directory, please: " + where);
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "openssl.cnf") << kConfig;
    std::ofstream(dir / "make.sh") << kScript;
    const std::string command = "cd '" + where + "' && sh make.sh > openssl.log 2>&1";
    if (std::system(command.c_str()) != 0) {
        std::ostringstream log;
        log << std::ifstream(dir / "openssl.log").rdbuf();
        throw std::runtime_error("certtest: openssl failed in " + where + ":\n" + log.str());
    }
    const auto pair = [&dir](const std::string& name) {
        return Pair{dir / (name + ".pem"), dir / (name + ".key")};
    };
    return {dir / "ca.pem", pair("localhost"), pair("wrong-host"), pair("unknown-ca"),
            pair("expired")};
}

} // namespace detail

// One set for the whole test binary, made on first use in a directory of its own that is
// removed at exit. Throws std::runtime_error, with openssl's output, when a step fails.
inline const Certs& Shared() {
    struct Directory {
        std::filesystem::path path =
            std::filesystem::temp_directory_path() / ("tavo-certs-" + std::to_string(::getpid()));
        ~Directory() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static Directory directory;
    static const Certs certs = detail::Generate(directory.path);
    return certs;
}

} // namespace certtest
