#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>

// Runs each test in an empty directory of its own, where "dftsys.ini" lives.
class InTempDirectory : public ::testing::Test {
  protected:
    void SetUp() override {
        previous = std::filesystem::current_path();
        dir = std::filesystem::temp_directory_path() /
              ("tavo-settings-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir);
        std::filesystem::current_path(dir);
    }
    void TearDown() override {
        std::filesystem::current_path(previous);
        std::filesystem::remove_all(dir);
    }

    static void WriteFile(const std::string& bytes) {
        std::ofstream out("dftsys.ini", std::ios::binary | std::ios::trunc);
        out << bytes;
    }
    static std::string ReadFile() {
        std::ifstream in("dftsys.ini", std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    static std::string Record(const std::string& head) {
        std::string record = head;
        record.resize(300, ' ');
        return record;
    }

    std::filesystem::path previous, dir;
};
