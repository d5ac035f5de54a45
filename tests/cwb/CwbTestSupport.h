#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

#include "cwbsv.h"
#include "cwbtest.h"

namespace cwbtesting {

// Every text an error handle holds, oldest first.
inline std::vector<std::string> ErrorTexts(cwbSV_ErrHandle handle) {
    std::vector<std::string> texts;
    unsigned long count = 0;
    EXPECT_EQ(cwbSV_GetErrCount(handle, &count), CWB_OK);
    for (unsigned long i = 1; i <= count; ++i) {
        char text[1024];
        unsigned long needed = 0;
        EXPECT_EQ(cwbSV_GetErrTextIndexed(handle, i, text, sizeof text, &needed), CWB_OK);
        texts.emplace_back(text);
    }
    return texts;
}

// The one text a failed call left; empty (and a test failure) when it left none or several.
inline std::string OnlyError(cwbSV_ErrHandle handle) {
    auto texts = ErrorTexts(handle);
    EXPECT_EQ(texts.size(), 1u);
    return texts.size() == 1 ? texts.front() : std::string();
}

// Created on first use: a fixture member is built before SetUp resets the library, which
// would drop a handle made any earlier.
class ErrHandle {
  public:
    ErrHandle() = default;
    ~ErrHandle() {
        if (handle_)
            cwbSV_DeleteErrHandle(handle_);
    }
    ErrHandle(const ErrHandle&) = delete;
    ErrHandle& operator=(const ErrHandle&) = delete;
    operator cwbSV_ErrHandle() const {
        if (!handle_) {
            EXPECT_EQ(cwbSV_CreateErrHandle(&handle_), CWB_OK);
        }
        return handle_;
    }

  private:
    mutable cwbSV_ErrHandle handle_ = 0;
};

// Sets or unsets an environment variable for one scope.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    std::string name_;
    std::optional<std::string> old_;
};

class TempDir {
  public:
    TempDir() {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("cwbtest-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Two embedded hosts of their own, DEMO the default.
inline constexpr const char* kTwoMemoryHosts = "[systems]\n"
                                               "default = DEMO\n"
                                               "[DEMO]\n"
                                               "address = embedded\n"
                                               "database = :memory:\n"
                                               "[OTHER]\n"
                                               "address = embedded\n"
                                               "database = :memory:\n";

} // namespace cwbtesting
