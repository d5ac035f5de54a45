#pragma once

#include <filesystem>
#include <string>
#include <unistd.h>

#include "HostState.h"
#include "MessagePresenter.h"
#include "ProcessState.h"
#include "cwbtest.h"

inline constexpr const char* kDemoOnly =
    "[systems]\ndefault = DEMO\n[DEMO]\naddress = embedded\ndatabase = :memory:\n";

// Each widget test runs as a new client would start: in a working directory of its own
// (where "dftsys.ini" lives), over in-memory hosts, with the start-up defaults and a
// recorder in place of message boxes.
class FreshClient {
  public:
    explicit FreshClient(const std::string& tag, const std::string& systems = kDemoOnly)
        : previous_(std::filesystem::current_path()),
          dir(std::filesystem::temp_directory_path() /
              ("tavo-" + tag + "-" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        std::filesystem::current_path(dir);
        cwbtest::Reset();
        cwbtest::UseSystems(systems);
        ResetHostState();
        ResetProcessState();
        SetMessagePresenter(&shown);
    }
    ~FreshClient() {
        SetMessagePresenter(nullptr);
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(dir);
    }
    FreshClient(const FreshClient&) = delete;
    FreshClient& operator=(const FreshClient&) = delete;

    RecordingPresenter shown;

  private:
    std::filesystem::path previous_;

  public:
    const std::filesystem::path dir;
};
