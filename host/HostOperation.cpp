#include "HostOperation.h"

#include <atomic>

#include "ProcessState.h"
#include "cwbco.h"

namespace {

// The operation whose thread this is: where a prompt on that thread says it is asking.
thread_local HostOperation* current = nullptr;

IOperationRunner* runner = nullptr;

[[maybe_unused]] const bool registered = RegisterProcessReset([](KeepHosts) { runner = nullptr; });

} // namespace

HostOperation::HostOperation(std::string progress, std::function<Outcome()> work,
                             std::function<void()> finished)
    : progress_(std::move(progress)) {
    // One operation at a time: a cancel of the last one must not end this one.
    cwbCO_ResetCancel();
    thread_ = std::thread([this, work = std::move(work), finished = std::move(finished)] {
        current = this;
        Outcome outcome = work();
        current = nullptr;
        {
            std::lock_guard lock(mutex_);
            outcome_ = std::move(outcome);
            finished_ = true;
        }
        done_.notify_all();
        if (finished)
            finished();
    });
}

HostOperation::~HostOperation() {
    if (!Finished())
        Cancel();
    thread_.join();
    cwbCO_ResetCancel();
}

bool HostOperation::Finished() const {
    std::lock_guard lock(mutex_);
    return finished_;
}

bool HostOperation::ProgressDue() const {
    std::lock_guard lock(mutex_);
    return !finished_ && asking_ == 0 && Clock::now() - quietSince_ >= kQuiet;
}

void HostOperation::Cancel() {
    {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
    }
    cwbCO_Cancel();
}

bool HostOperation::CancelRequested() const {
    std::lock_guard lock(mutex_);
    return cancelled_;
}

Outcome HostOperation::Result() {
    std::unique_lock lock(mutex_);
    done_.wait(lock, [this] { return finished_; });
    Outcome outcome = outcome_;
    // What ended on its own (done, refused, or sent and lost) says so; what the cancel cut
    // short before anything left was simply not sent.
    if (cancelled_ && outcome.result == Outcome::Result::NotDone &&
        outcome.cause != Outcome::Cause::Input) {
        outcome.cause = Outcome::Cause::Cancelled;
        outcome.texts.clear();
        outcome.status = kNotSentText;
    }
    return outcome;
}

HostOperation::AskingUser::AskingUser() : operation_(current) {
    if (!operation_)
        return;
    std::lock_guard lock(operation_->mutex_);
    ++operation_->asking_;
}

HostOperation::AskingUser::~AskingUser() {
    if (!operation_)
        return;
    std::lock_guard lock(operation_->mutex_);
    --operation_->asking_;
    operation_->quietSince_ = Clock::now();
}

void SetOperationRunner(IOperationRunner* newRunner) {
    runner = newRunner;
}

std::optional<Outcome> RunningOperation::RefusalIfBusy() {
    if (!Busy())
        return std::nullopt;
    Outcome refused;
    refused.NotDoneBecause(Outcome::Cause::Input,
                           "Another request to the host has not ended yet; try again when it has.");
    return refused;
}

Outcome RunHostOperation(const std::string& progress, const std::function<Outcome()>& work) {
    return runner ? runner->Run(progress, work) : work();
}
