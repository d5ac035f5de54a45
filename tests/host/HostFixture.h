#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Ccsid37.h"
#include "FreshProcess.h"
#include "HostEngine.h"
#include "HostLink.h"
#include "HostState.h"
#include "Operations.h"

using testsupport::At;
using testsupport::Pad;

// Two embedded hosts holding the demo directory, SYSA current.
class HostFixture : public ::testing::Test, protected testsupport::FreshProcess {
  protected:
    HostFixture() {
        for (const char* system : {"SYSA", "SYSB"})
            cwbtest::Engine(system)->SeedDemoDirectory();
        CurrentSystem = "SYSA";
    }
    void RestartProcess() {
        Restart();
        CurrentSystem = "SYSA";
    }
    using Texts = std::vector<std::string>;
};
