#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "HostEngine.h"
#include "HostLevels.h"
#include "SignOnGuard.h"

namespace tavo::hostd {

// The administration sub-commands of tavo400-hostd. Each works on the database file,
// whether a daemon is serving it or the embedded host uses it, and returns the exit code.

int InitDatabase(const std::string& db, bool demo, std::ostream& out, std::ostream& err);
// Replaces the recipients and/or the groups; the part not given stays as it is.
int ImportDirectory(const std::string& db, const std::optional<std::string>& recipientsCsv,
                    const std::optional<std::string>& groupsCsv, std::ostream& out,
                    std::ostream& err);
int ListDirectory(const std::string& db, std::ostream& out, std::ostream& err);
// The password is the first line of `in`. The user gets the IBM i token of
// `passwordLevel` only: by default that of the level the database was last served at.
int AddUser(const std::string& db, const std::string& name, std::istream& in, std::ostream& out,
            std::ostream& err, std::optional<int> passwordLevel = std::nullopt);
// Unlock (and Enable) lift a sign-on lock: the daemon serving the file, if any, takes the
// request in within a second or two and logs it.
enum class UserChange { Disable, Enable, Expire, Unlock };
// Expire with `inDays`: the password expires that many days from now instead of at once.
int ChangeUser(const std::string& db, const std::string& name, UserChange change, std::ostream& out,
               std::ostream& err, std::optional<unsigned> inDays = std::nullopt);
int ShowOutbox(const std::string& db, bool json, std::ostream& out, std::ostream& err);

// Serves the database until SIGTERM or SIGINT.
struct ServeOptions {
    std::string db;
    std::string listen = "127.0.0.1:7475";
    std::string portFile;
    std::optional<std::string> ibmi; // [ADDR:]PORT of the port mapper
    unsigned short ibmiSignonPort = 0;
    unsigned short ibmiRemoteCommandPort = 0;
    unsigned short ibmiDataQueuePort = 0;
    int passwordLevel = 3;
    std::uint32_t ccsid = 37; // the IBM i servers' host CCSID
    int hostLevel = kNewestHostLevel;
    bool ibmiTls = false; // the host servers under TLS too
    unsigned short ibmiSignonTlsPort = 0;
    unsigned short ibmiRemoteCommandTlsPort = 0;
    unsigned short ibmiDataQueueTlsPort = 0;
    std::optional<std::string> listenTls; // our protocol under TLS, ADDR:PORT
    bool insecurePlaintext = false;       // plain text on a non-loopback address too
    std::string tlsCert;                  // PEM files every TLS listener presents
    std::string tlsKey;
    unsigned frameTimeoutSeconds = 10;
    unsigned idleTimeoutSeconds = 900;
    std::size_t maxConnections = 256;
    std::size_t maxUserConnections = 16;
    int maxSignOnAttempts = SignOnLimits{}.lockAfter; // as QMAXSIGN on IBM i
    unsigned queueExpirySeconds = 600;
    std::size_t queueCap = server::QueueLimits{}.perKeyCap;
    std::size_t queueMemoryMiB = server::QueueLimits{}.totalBytes >> 20;
};
int Serve(const ServeOptions& options, std::ostream& err);

} // namespace tavo::hostd
