#include "EmbeddedBackend.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <stdexcept>
#include <unistd.h>
#include <vector>

#include "cwbdq.h"
#include "cwbrc.h"

namespace cwb {
namespace {

std::mutex engineMutex;
std::map<std::string, std::shared_ptr<tavo::server::HostEngine>> engines;

std::string EngineKey(const SystemConfig& system, const std::string& path) {
    // Each in-memory system is a host of its own.
    return path == ":memory:" ? path + "/" + system.name : path;
}

// The demo directory belongs to the system a new user starts with, and only to a
// database it creates: never to a site's host, nor to one whose directory was emptied.
bool IsDemoSystem(const SystemConfig& system) {
    return system.endpoint.kind == Endpoint::Kind::Embedded && system.name.size() == 4 &&
           std::equal(system.name.begin(), system.name.end(), "DEMO", [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) == b;
           });
}

// The file system's reason why `path` cannot hold a database, where it has one; SQLite
// only says that it is "unable to open database file".
std::string FileSystemReason(const std::filesystem::path& path) {
    std::error_code ec;
    const auto parent = path.parent_path();
    if (!parent.empty() && !std::filesystem::create_directories(parent, ec) && ec)
        return "cannot create its folder " + parent.string() + ": " + ec.message();
    if (std::filesystem::is_directory(path, ec))
        return "it is a folder";
    const bool exists = std::filesystem::exists(path, ec);
    const std::filesystem::path checked = exists ? path : parent.empty() ? "." : parent;
    if (::access(checked.c_str(), exists ? R_OK | W_OK : W_OK | X_OK) != 0)
        return checked.string() + ": " + std::strerror(errno);
    return {};
}

} // namespace

std::shared_ptr<tavo::server::HostEngine> EmbeddedBackend::EngineFor(const SystemConfig& system) {
    const auto path = EmbeddedDatabasePath(system);
    std::lock_guard lock(engineMutex);
    auto& slot = engines[EngineKey(system, path)];
    if (!slot) {
        bool created = path == ":memory:";
        if (!created) {
            if (const auto reason = FileSystemReason(path); !reason.empty())
                throw std::runtime_error("Cannot open the host database '" + path + "': " + reason);
            std::error_code ec;
            created = !std::filesystem::exists(path, ec);
        }
        auto engine = std::make_shared<tavo::server::HostEngine>(path);
        if (created && IsDemoSystem(system))
            engine->SeedDemoDirectory();
        slot = std::move(engine);
    }
    return slot;
}

void EmbeddedBackend::ForgetEngines() {
    std::lock_guard lock(engineMutex);
    engines.clear();
}

EmbeddedBackend::EmbeddedBackend(SystemConfig system) : system_(std::move(system)) {}

Status EmbeddedBackend::ChangePassword(std::string_view, std::string_view, std::string_view) {
    return Status::Fail(CWB_INVALID_PARAMETER,
                        "System " + system_.name +
                            " is the host built into this program: it has no passwords to "
                            "change.");
}

// A host in this process is always reached; a database that cannot be opened is the
// host's failure, told with its path and reason to each call's error handle and tried
// again by the next call.
Status EmbeddedBackend::Connect(Use) {
    Open();
    return Status::Ok();
}

Status EmbeddedBackend::Open() {
    if (engine_)
        return Status::Ok();
    try {
        engine_ = EngineFor(system_);
        return Status::Ok();
    } catch (const std::exception& e) {
        return Status::Fail(CWB_COMMUNICATIONS_ERROR, e.what());
    }
}

Status EmbeddedBackend::CallProgram(std::string_view program, std::string_view library,
                                    std::span<BoundParm> parms) {
    if (auto opened = Open(); !opened.ok())
        return opened;
    std::vector<tavo::server::ProgramParameter> engineParms;
    engineParms.reserve(parms.size());
    for (const auto& parm : parms)
        engineParms.push_back({static_cast<tavo::server::ParmDirection>(parm.type),
                               std::span<std::uint8_t>(parm.area, parm.length)});
    auto outcome = engine_->CallProgram(program, library, engineParms);
    if (!outcome.ok())
        return Status::Fail(CWBRC_HOST_PROGRAM_ERROR, outcome.text);
    return Status::Ok();
}

Status EmbeddedBackend::QueueExists(std::string_view queue, std::string_view library) {
    if (auto opened = Open(); !opened.ok())
        return opened;
    if (engine_->QueueExists(queue, library))
        return Status::Ok();
    return Status::Fail(CWBDQ_QUEUE_NOT_FOUND, "Data queue " + std::string(queue) + " in library " +
                                                   std::string(library) + " not found.");
}

Status EmbeddedBackend::TakeEntry(std::string_view queue, std::string_view library,
                                  std::string_view key, std::string& entry) {
    if (auto opened = Open(); !opened.ok())
        return opened;
    auto taken = engine_->TakeEntry(queue, library, key);
    if (!taken)
        return NoEntry(queue, library);
    entry = std::move(*taken);
    return Status::Ok();
}

} // namespace cwb
