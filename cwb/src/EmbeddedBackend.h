#pragma once

#include <memory>

#include "Backend.h"
#include "HostEngine.h"

namespace cwb {

// The host engine in this process. Every connection to the same database shares one
// engine, as every client of one host shares its queue.
class EmbeddedBackend final : public Backend {
  public:
    explicit EmbeddedBackend(SystemConfig system);
    Status Connect(Use use) override;
    Status CallProgram(std::string_view program, std::string_view library,
                       std::span<BoundParm> parms) override;
    Status QueueExists(std::string_view queue, std::string_view library) override;
    Status TakeEntry(std::string_view queue, std::string_view library, std::string_view key,
                     std::string& entry) override;
    // Refused: the embedded host signs nobody on.
    Status ChangePassword(std::string_view user, std::string_view oldPassword,
                          std::string_view newPassword) override;

    // The engine behind a system, opened on first use; a new database of the DEMO system
    // gets the demo directory. Throws std::runtime_error, with the path and the reason,
    // when the database cannot be opened.
    static std::shared_ptr<tavo::server::HostEngine> EngineFor(const SystemConfig& system);
    static void ForgetEngines();

  private:
    Status Open();

    SystemConfig system_;
    std::shared_ptr<tavo::server::HostEngine> engine_;
};

} // namespace cwb
