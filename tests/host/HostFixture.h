#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "Ccsid37.h"
#include "Clock.h"
#include "HostEngine.h"
#include "HostLink.h"
#include "HostState.h"
#include "MessagePresenter.h"
#include "ProcessState.h"
#include "cwbtest.h"

inline std::string Pad(std::string text, std::size_t width) {
    text.resize(width, ' ');
    return text;
}

inline std::chrono::system_clock::time_point At(int y, int mo, int d, int h, int mi, int s,
                                                int ms) {
    using namespace std::chrono;
    return sys_days{year{y} / mo / d} + hours{h} + minutes{mi} + seconds{s} + milliseconds{ms};
}

// A fresh process with two embedded in-memory hosts holding the demo directory, SYSA
// current, and a recorder for message boxes.
class HostFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        cwbtest::Reset();
        ResetHostState();
        ResetProcessState();
        cwbtest::UseSystems("[SYSA]\naddress = embedded\ndatabase = :memory:\n"
                            "[SYSB]\naddress = embedded\ndatabase = :memory:\n");
        for (const char* system : {"SYSA", "SYSB"})
            cwbtest::Engine(system)->SeedDemoDirectory();
        SetMessagePresenter(&shown);
        SetClockSource([this] { return now; });
        SetClockWait([this](std::chrono::milliseconds d) {
            now += d;
            waited += d;
        });
        CurrentSystem = "SYSA";
    }
    void TearDown() override {
        SetMessagePresenter(nullptr);
        SetClockSource(nullptr);
        SetClockWait(nullptr);
        cwbtest::Reset();
        ResetHostState();
    }

    // A new run of the program: the host keeps its state, the process starts afresh.
    void RestartProcess() {
        ResetHostState();
        ResetProcessState();
        shown.shown.clear();
        cwbtest::ClearCalls();
        CurrentSystem = "SYSA";
    }

    RecordingPresenter shown;
    std::chrono::system_clock::time_point now = At(2026, 12, 6, 12, 0, 0, 0);
    std::chrono::milliseconds waited{0}; // how far waiting for a new stamp moved `now`
};
