#include "EmbeddedBackend.h"

#include <filesystem>
#include <map>
#include <mutex>
#include <stdexcept>
#include <vector>

#include "IbmiBackend.h"
#include "TcpBackend.h"
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

} // namespace

std::shared_ptr<tavo::server::HostEngine> EmbeddedBackend::EngineFor(const SystemConfig& system) {
    const auto path = EmbeddedDatabasePath(system);
    std::lock_guard lock(engineMutex);
    auto& slot = engines[EngineKey(system, path)];
    if (!slot) {
        if (path != ":memory:") {
            std::error_code ec;
            std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
        }
        auto engine = std::make_shared<tavo::server::HostEngine>(path);
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

Status EmbeddedBackend::Connect() {
    try {
        engine_ = EngineFor(system_);
        return Status::Ok();
    } catch (const std::exception& e) {
        return Status::Fail(CWB_COMMUNICATIONS_ERROR,
                            "Cannot open the host database of " + system_.name + ": " + e.what());
    }
}

Status EmbeddedBackend::CallProgram(std::string_view program, std::string_view library,
                                    std::span<BoundParm> parms) {
    if (!engine_)
        return Status::Fail(CWB_COMMUNICATIONS_ERROR, "Not connected to " + system_.name + ".");
    std::vector<tavo::server::ProgramParameter> engineParms;
    engineParms.reserve(parms.size());
    for (const auto& parm : parms)
        engineParms.push_back({static_cast<tavo::server::ParmDirection>(parm.type),
                               std::span<std::uint8_t>(parm.area, parm.length)});
    auto outcome = engine_->CallProgram(program, library, engineParms);
    if (!outcome.ok)
        return Status::Fail(CWBRC_HOST_PROGRAM_ERROR, outcome.message);
    return Status::Ok();
}

Status EmbeddedBackend::QueueExists(std::string_view queue, std::string_view library) {
    if (!engine_)
        return Status::Fail(CWB_COMMUNICATIONS_ERROR, "Not connected to " + system_.name + ".");
    if (engine_->QueueExists(queue, library))
        return Status::Ok();
    return Status::Fail(CWBDQ_QUEUE_NOT_FOUND, "Data queue " + std::string(queue) + " in library " +
                                                   std::string(library) + " not found.");
}

Status EmbeddedBackend::TakeEntry(std::string_view queue, std::string_view library,
                                  std::string_view key, std::string& entry) {
    if (!engine_)
        return Status::Fail(CWB_COMMUNICATIONS_ERROR, "Not connected to " + system_.name + ".");
    auto taken = engine_->TakeEntry(queue, library, key);
    if (!taken)
        return Status::Fail(CWBDQ_TIMED_OUT, "No entry with the requested key on data queue " +
                                                 std::string(queue) + " in library " +
                                                 std::string(library) + ".");
    entry = std::move(*taken);
    return Status::Ok();
}

std::unique_ptr<Backend> MakeBackend(const SystemConfig& system) {
    if (system.address == "embedded")
        return std::make_unique<EmbeddedBackend>(system);
    if (system.address.starts_with("tcp://"))
        return std::make_unique<TcpBackend>(system);
    if (system.address.starts_with("ibmi://"))
        return std::make_unique<IbmiBackend>(system);
    return nullptr;
}

} // namespace cwb
