#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "HostEngine.h"

namespace tavo::hostd {

// A program call with its own copies of the parameter areas.
struct CallJob {
    std::string program;
    std::string library;
    std::vector<server::ParmDirection> directions;
    std::vector<std::string> areas;
    server::Status outcome;
    std::string owner;                  // whose list entries: see HostEngine::CallProgram
    std::string requestKey;             // a send's, to recognise it when it comes again
    std::function<void(CallJob&)> done; // called on the worker thread
};

// The one thread that touches the engine. Whatever queued up while it was busy runs
// as one batch, so the sends of concurrent clients share a commit and its disk flush.
class EngineWorker {
  public:
    explicit EngineWorker(server::HostEngine& engine);
    ~EngineWorker();
    EngineWorker(const EngineWorker&) = delete;
    EngineWorker& operator=(const EngineWorker&) = delete;

    void Submit(std::shared_ptr<CallJob> job);
    void Submit(std::function<void(server::HostEngine&)> task);
    // Runs what is queued, then ends the thread.
    void Stop();

  private:
    void Run();

    server::HostEngine& engine_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<CallJob>> calls_;
    std::deque<std::function<void(server::HostEngine&)>> tasks_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace tavo::hostd
