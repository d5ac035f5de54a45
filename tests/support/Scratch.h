#pragma once

// Scratch directories, files and environment for tests, on Linux and Windows alike.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#ifdef _WIN32
#include <process.h>
#else
#include <unistd.h>
#endif

namespace hostdtest {

inline int ProcessId() {
#ifdef _WIN32
    return ::_getpid();
#else
    return static_cast<int>(::getpid());
#endif
}

// A fresh directory under the system's temporary directory, removed at the end.
class ScratchDir {
  public:
    explicit ScratchDir(const std::string& tag) {
        static int counter = 0;
        path_ =
            std::filesystem::temp_directory_path() /
            ("tavo-" + tag + "-" + std::to_string(ProcessId()) + "-" + std::to_string(counter++));
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

  private:
    std::filesystem::path path_;
};

inline std::string ReadText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Sets (nullopt: unsets) an environment variable for one scope, which the programs
// started in it inherit.
class ScopedEnv {
  public:
    ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        Set(name, value);
    }
    ~ScopedEnv() { Set(name_.c_str(), old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

  private:
    static void Set(const char* name, const std::optional<std::string>& value) {
#ifdef _WIN32
        ::_putenv_s(name, value ? value->c_str() : ""); // an empty value unsets
#else
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
#endif
    }
    std::string name_;
    std::optional<std::string> old_;
};

} // namespace hostdtest
