#include "SignOn.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <mutex>

#include "PasswordCommand.h"
#include "cwbsignon.h"

namespace cwb {
namespace {

struct Registry {
    std::mutex mutex;
    cwbCO_SignOnPrompt prompt = nullptr;
    void* context = nullptr;
    std::map<std::string, Credentials, std::less<>> accepted;
    std::mutex asking; // one prompt on the screen at a time
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

// Copies `text` into an area of `size` bytes, cut to fit and terminated.
template <std::size_t N> void Fill(std::array<char, N>& area, std::string_view text) {
    const auto n = std::min(text.size(), N - 1);
    std::memcpy(area.data(), text.data(), n);
    area[n] = '\0';
}

} // namespace

Credentials::~Credentials() {
    Wipe(password);
}

bool IsSignOnRefusal(unsigned rc) {
    return rc == CWB_SECURITY_ERROR || (rc >= CWB_USER_UNKNOWN && rc <= CWB_SIGNON_REFUSED);
}

bool CanAskSignOn() {
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    return registry.prompt != nullptr;
}

std::optional<Credentials> AskSignOn(std::string_view systemName, const std::string& user,
                                     const std::string& reason) {
    auto& registry = TheRegistry();
    std::lock_guard asking(registry.asking);
    cwbCO_SignOnPrompt prompt = nullptr;
    void* context = nullptr;
    {
        std::lock_guard lock(registry.mutex);
        prompt = registry.prompt;
        context = registry.context;
    }
    if (!prompt)
        return std::nullopt;
    const std::string system(systemName);
    std::array<char, 4 * CWBCO_MAX_USER_ID + 1> userArea{};
    std::array<char, 4 * CWBCO_MAX_PASSWORD + 1> passwordArea{};
    Fill(userArea, user);
    const bool ok = prompt(system.c_str(), reason.c_str(), userArea.data(), userArea.size(),
                           passwordArea.data(), passwordArea.size(), context) != 0;
    // A prompt that forgot the terminator must not send us reading past the area.
    userArea.back() = passwordArea.back() = '\0';
    std::optional<Credentials> answer;
    if (ok)
        answer = Credentials{userArea.data(), passwordArea.data()};
    explicit_bzero(passwordArea.data(), passwordArea.size());
    return answer;
}

std::optional<Credentials> CachedSignOn(const std::string& system) {
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    auto found = registry.accepted.find(system);
    if (found == registry.accepted.end())
        return std::nullopt;
    return found->second;
}

void CacheSignOn(const std::string& system, const Credentials& credentials) {
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.accepted.erase(system);
    registry.accepted.emplace(system, credentials);
}

void ForgetSignOn(const std::string& system) {
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.accepted.erase(system);
}

void ResetSignOns() {
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.accepted.clear();
    registry.prompt = nullptr;
    registry.context = nullptr;
}

} // namespace cwb

extern "C" unsigned int cwbCO_SetSignOnPrompt(cwbCO_SignOnPrompt prompt, void* context) {
    auto& registry = cwb::TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.prompt = prompt;
    registry.context = context;
    return CWB_OK;
}
