#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "Outcome.h"

// A host operation run off the caller's thread, so that a window keeps drawing while the
// host is slow, and can be cancelled from there. The host link's process-wide state is
// still touched by one thread at a time: the caller waits, it does not start another.
class HostOperation {
  public:
    // How long a wait stays quiet before a progress dialog is due: most operations end first.
    static constexpr std::chrono::milliseconds kQuiet{500};

    // Starts `work` on a thread of its own. `finished` is called on that thread when the
    // outcome is ready (a window posts itself a wake-up there).
    HostOperation(std::string progress, std::function<Outcome()> work,
                  std::function<void()> finished = {});
    ~HostOperation(); // cancels what still runs and waits for it
    HostOperation(const HostOperation&) = delete;
    HostOperation& operator=(const HostOperation&) = delete;

    // What the progress dialog says ("Sending to SYSA"), without its ellipsis.
    const std::string& Progress() const { return progress_; }
    bool Finished() const;
    // Whether a progress dialog should show now: after kQuiet of waiting, never while the
    // user is being asked something (a sign-on) nor in the first kQuiet after the answer.
    bool ProgressDue() const;
    // Ends every wait of the operation at once: its connection closes and it returns.
    void Cancel();
    bool CancelRequested() const;
    // Waits for the end. After a Cancel, what the outcome says depends on how far it got:
    // before the request left, nothing happened (Cause::Cancelled, "Not sent."); after,
    // the host may have acted on it (Result::Unknown, as a lost answer).
    Outcome Result();

    // While one lives on an operation's thread, the user is being asked something: no
    // progress dialog covers the question, and the quiet wait starts again after it.
    class AskingUser {
      public:
        AskingUser();
        ~AskingUser();
        AskingUser(const AskingUser&) = delete;
        AskingUser& operator=(const AskingUser&) = delete;

      private:
        HostOperation* operation_;
    };

  private:
    using Clock = std::chrono::steady_clock;

    std::string progress_;
    mutable std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    bool cancelled_ = false;
    int asking_ = 0;
    Clock::time_point quietSince_ = Clock::now();
    Outcome outcome_;
    std::thread thread_;
};

// What the caller of a host operation is told when the user cancelled it before its
// request left.
inline constexpr const char* kNotSentText = "Not sent.";

// The one operation a window waits for at a time, whichever face runs it: a second one is
// refused with the same words, and closing the window cancels the one that runs.
class RunningOperation {
  public:
    // The refusal of a second operation while one runs; nullopt when none does.
    static std::optional<Outcome> RefusalIfBusy();
    // `operation` runs from now until Hold(nullptr).
    static void Hold(HostOperation* operation) { running_ = operation; }
    static bool Busy() { return running_ != nullptr; }
    static void Cancel() {
        if (running_)
            running_->Cancel();
    }

  private:
    static inline HostOperation* running_ = nullptr; // the window's thread only
};

// Runs host operations for the front end: the window off its thread with a progress
// dialog, the command line on its own thread.
class IOperationRunner {
  public:
    virtual ~IOperationRunner() = default;
    virtual Outcome Run(const std::string& progress, const std::function<Outcome()>& work) = 0;
};

// Null: operations run on the caller's thread.
void SetOperationRunner(IOperationRunner* runner);
Outcome RunHostOperation(const std::string& progress, const std::function<Outcome()>& work);
