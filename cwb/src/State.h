#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "Backend.h"
#include "SystemsFile.h"
#include "cwbdq.h"
#include "cwbsv.h"

namespace cwb {

// Handles are small numbers, never 0, so 0 can mean "none" as callers expect.
template <class T> class HandleTable {
  public:
    unsigned long Add(std::shared_ptr<T> item) {
        std::lock_guard lock(mutex_);
        const auto handle = next_++;
        items_.emplace(handle, std::move(item));
        return handle;
    }
    std::shared_ptr<T> Get(unsigned long handle) {
        std::lock_guard lock(mutex_);
        auto it = items_.find(handle);
        return it == items_.end() ? nullptr : it->second;
    }
    bool Remove(unsigned long handle) {
        std::lock_guard lock(mutex_);
        return items_.erase(handle) > 0;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        items_.clear();
    }

  private:
    std::mutex mutex_;
    std::unordered_map<unsigned long, std::shared_ptr<T>> items_;
    unsigned long next_ = 1;
};

struct ErrorList {
    std::mutex mutex;
    std::vector<std::string> messages;
};

struct Connection {
    std::string system;
    std::mutex use; // a backend serves one call at a time
    std::unique_ptr<Backend> backend;
};

struct Program {
    std::string name;
    std::string library;
    std::vector<BoundParm> parms;
};

struct Queue {
    std::string name;
    std::string library;
    std::string system;
    std::mutex use;
    std::unique_ptr<Backend> backend;
};

struct ReadData {
    unsigned char* area = nullptr;
    unsigned long length = 0;
    std::string key;
    bool keySet = false;
    cwbDQ_SearchOrder order = CWBDQ_NONE;
    unsigned long lastLength = 0;
};

struct Converter {
    const std::array<std::uint8_t, 256>* table = nullptr; // null: the same code page
    unsigned long padLength = 0;
    char pad = ' ';
};

struct SysList {
    std::vector<std::string> names;
    std::size_t next = 0;
};

HandleTable<ErrorList>& ErrorHandles();
HandleTable<Connection>& Connections();
HandleTable<Program>& Programs();
HandleTable<Queue>& Queues();
HandleTable<ReadData>& ReadDatas();
HandleTable<Converter>& Converters();
HandleTable<SysList>& SysLists();

// A call that takes an error handle starts it afresh, so the handle holds the texts of
// that call only.
void ClearErrors(cwbSV_ErrHandle handle);
void AddError(cwbSV_ErrHandle handle, std::string text);
inline unsigned Fail(cwbSV_ErrHandle handle, unsigned rc, std::string text) {
    AddError(handle, std::move(text));
    return rc;
}
inline unsigned Fail(cwbSV_ErrHandle handle, const Status& status) {
    if (status.messages.empty())
        AddError(handle, status.text);
    for (const auto& message : status.messages)
        AddError(handle, message);
    return status.rc;
}

// The configured systems: the test seam's when set, else the systems file's.
SystemsLoad Systems();

// Opens a backend for a configured system, resolving the name without regard to case.
// A system that needs a password takes the systems file's, else its password_command's,
// else the one accepted earlier in this run, else (when `prompting` allows) what the
// sign-on prompt returns, asked again after each refusal. On failure `status` says why.
enum class SignOnPrompting { Allowed, Never };
std::unique_ptr<Backend> OpenBackend(std::string_view systemName, Use use, Status& status,
                                     SignOnPrompting prompting = SignOnPrompting::Never);

// Test seam: an injected failure for this call, if one is armed. Also logs the call.
struct Injection {
    unsigned rc;
    std::string text;
    unsigned long needed;
};
std::optional<Injection> Intercept(std::string_view function, std::string_view subject = {});

// Copies `text` and a terminator into a caller's area; CWB_BUFFER_OVERFLOW (with as
// much as fits, terminated) when the area is too small. `needed` counts the terminator.
unsigned CopyOut(std::string_view text, char* area, unsigned long size, unsigned long* needed);

} // namespace cwb
