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

// A fresh process with two embedded in-memory hosts, SYSA current, and a recorder for
// message boxes.
class HostFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        cwbtest::Reset();
        ResetHostState();
        ResetProcessState();
        cwbtest::UseSystems("[SYSA]\naddress = embedded\ndatabase = :memory:\n"
                            "[SYSB]\naddress = embedded\ndatabase = :memory:\n");
        SetMessagePresenter(&shown);
        SetClockSource([this] { return now; });
        CurrentSystem = "SYSA";
    }
    void TearDown() override {
        SetMessagePresenter(nullptr);
        SetClockSource(nullptr);
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
};
