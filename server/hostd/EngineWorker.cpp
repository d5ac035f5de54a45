#include "EngineWorker.h"

#include <span>

namespace tavo::hostd {

namespace {
constexpr std::size_t kMaxBatch = 64;
}

EngineWorker::EngineWorker(server::HostEngine& engine)
    : engine_(engine), thread_([this] { Run(); }) {}

EngineWorker::~EngineWorker() {
    Stop();
}

void EngineWorker::Submit(std::shared_ptr<CallJob> job) {
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void EngineWorker::Submit(std::function<void(server::HostEngine&)> task) {
    {
        std::lock_guard lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void EngineWorker::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable())
        thread_.join();
}

void EngineWorker::Run() {
    for (;;) {
        std::vector<std::shared_ptr<CallJob>> calls;
        std::deque<std::function<void(server::HostEngine&)>> tasks;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !calls_.empty() || !tasks_.empty(); });
            if (calls_.empty() && tasks_.empty())
                return;
            while (!calls_.empty() && calls.size() < kMaxBatch) {
                calls.push_back(std::move(calls_.front()));
                calls_.pop_front();
            }
            tasks.swap(tasks_);
        }
        for (auto& task : tasks)
            task(engine_);
        if (calls.empty())
            continue;

        std::vector<std::vector<server::ProgramParameter>> parms(calls.size());
        std::vector<server::BatchCall> batch;
        batch.reserve(calls.size());
        for (std::size_t i = 0; i < calls.size(); ++i) {
            CallJob& job = *calls[i];
            for (std::size_t p = 0; p < job.areas.size(); ++p)
                parms[i].push_back({job.directions[p],
                                    std::span(reinterpret_cast<std::uint8_t*>(job.areas[p].data()),
                                              job.areas[p].size())});
            batch.push_back({job.program, job.library, parms[i], {}, job.owner, job.requestKey});
        }
        engine_.CallPrograms(batch);
        for (std::size_t i = 0; i < calls.size(); ++i) {
            calls[i]->outcome = std::move(batch[i].outcome);
            calls[i]->done(*calls[i]);
        }
    }
}

} // namespace tavo::hostd
