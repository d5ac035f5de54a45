#pragma once

#include <gtest/gtest.h>

#include <string>

#include "FreshProcess.h"

using testsupport::ReadFile;
using testsupport::Record;
using testsupport::WriteFile;

// Each test as a new process, in a directory of its own where "dftsys.ini" lives.
class FreshSettings : public ::testing::Test {
  protected:
    explicit FreshSettings(const std::string& systems = testsupport::kTwoHosts)
        : process(systems) {}

    testsupport::FreshProcess process;
};
