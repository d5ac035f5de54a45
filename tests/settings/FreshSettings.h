#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

#include "FreshProcess.h"

// Each test as a new process, in a directory of its own where "dftsys.ini" lives.
class FreshSettings : public ::testing::Test {
  protected:
    explicit FreshSettings(const std::string& systems = testsupport::kTwoHosts)
        : process(systems) {}

    static void WriteFile(const std::string& bytes) {
        std::ofstream("dftsys.ini", std::ios::binary | std::ios::trunc) << bytes;
    }
    static std::string ReadFile() {
        std::ifstream in("dftsys.ini", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static std::string Record(std::string head) {
        head.resize(300, ' ');
        return head;
    }

    testsupport::FreshProcess process;
};
