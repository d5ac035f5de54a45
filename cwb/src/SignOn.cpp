#include "SignOn.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "PasswordCommand.h"
#include "PasswordLevels.h"
#include "Secrets.h"
#include "State.h"
#include "cwbsignon.h"

namespace cwb {
namespace {

struct Registry {
    std::mutex mutex;
    cwbCO_SignOnPrompt prompt = nullptr;
    void* context = nullptr;
    std::map<std::string, Credentials, std::less<>> accepted;
    std::set<std::string, std::less<>> changed; // of `accepted`, those set by a change
    std::map<std::string, int, std::less<>> expiring;
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
    tavo::platform::WipeSecret(passwordArea);
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
    registry.changed.erase(system);
}

void ForgetSignOn(const std::string& system) {
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.accepted.erase(system);
    registry.changed.erase(system);
}

void CacheChangedPassword(const std::string& system, const Credentials& credentials) {
    CacheSignOn(system, credentials);
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.changed.insert(system);
}

std::optional<Credentials> ChangedPassword(const std::string& system) {
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (!registry.changed.contains(system))
        return std::nullopt;
    return registry.accepted.at(system);
}

void NotePasswordExpiry(const std::string& system, std::optional<int> daysLeft) {
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (daysLeft)
        registry.expiring[system] = *daysLeft;
    else
        registry.expiring.erase(system);
}

std::optional<int> PasswordExpiry(const std::string& system) {
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    const auto found = registry.expiring.find(system);
    if (found == registry.expiring.end())
        return std::nullopt;
    return found->second;
}

void ResetSignOns() {
    auto& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.accepted.clear();
    registry.changed.clear();
    registry.expiring.clear();
    registry.prompt = nullptr;
    registry.context = nullptr;
    PasswordLevels::ForgetAccepted();
}

} // namespace cwb

extern "C" unsigned int cwbCO_SetSignOnPrompt(cwbCO_SignOnPrompt prompt, void* context) {
    auto& registry = cwb::TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.prompt = prompt;
    registry.context = context;
    return CWB_OK;
}

extern "C" unsigned int cwbCO_ChangePassword(const char* systemName, const char* userId,
                                             const char* oldPassword, const char* newPassword,
                                             cwbSV_ErrHandle errorHandle) {
    using namespace cwb;
    ClearErrors(errorHandle);
    if (auto injected = Intercept("cwbCO_ChangePassword", systemName ? systemName : ""))
        return Fail(errorHandle, injected->rc, injected->text);
    if (!systemName || !userId || !oldPassword || !newPassword)
        return Fail(errorHandle, CWB_INVALID_POINTER,
                    "cwbCO_ChangePassword: the system, user or a password is missing.");
    auto load = Systems();
    if (!load.config)
        return Fail(errorHandle, CWB_CONFIG_ERROR, load.error);
    const SystemConfig* system = load.config->Find(systemName);
    if (!system)
        return Fail(errorHandle, CWB_UNKNOWN_SYSTEM,
                    "System " + std::string(systemName) + " is not configured.");
    if (!*userId)
        return Fail(errorHandle, CWB_INVALID_PARAMETER,
                    "cwbCO_ChangePassword: no user for " + system->name + ".");
    auto backend = MakeBackend(*system);
    if (!backend)
        return Fail(errorHandle, CWB_COMMUNICATIONS_ERROR,
                    "System " + system->name +
                        " has an address this program cannot use: " + system->address);
    const Status status = backend->ChangePassword(userId, oldPassword, newPassword);
    if (!status.ok())
        return Fail(errorHandle, status);
    CacheChangedPassword(system->name, Credentials{userId, newPassword});
    NotePasswordExpiry(system->name, std::nullopt);
    return CWB_OK;
}

namespace {

// The configured system `systemName` names, as the systems file spells it; or the
// return code that says why there is none.
unsigned FindSystem(const char* systemName, std::string& name) {
    auto load = cwb::Systems();
    if (!load.config)
        return CWB_CONFIG_ERROR;
    const cwb::SystemConfig* system = load.config->Find(systemName);
    if (!system)
        return CWB_UNKNOWN_SYSTEM;
    name = system->name;
    return CWB_OK;
}

} // namespace

extern "C" unsigned int cwbCO_GetPasswordExpiry(const char* systemName, long* daysLeft) {
    using namespace cwb;
    if (!systemName || !daysLeft)
        return CWB_INVALID_POINTER;
    *daysLeft = -1;
    std::string name;
    if (const unsigned rc = FindSystem(systemName, name); rc != CWB_OK)
        return rc;
    if (const auto days = PasswordExpiry(name))
        *daysLeft = *days;
    return CWB_OK;
}

extern "C" unsigned int cwbCO_GetSignOnUserID(const char* systemName, char* userId,
                                              unsigned long size, unsigned long* needed) {
    using namespace cwb;
    if (!systemName || !userId)
        return CWB_INVALID_POINTER;
    auto load = Systems();
    if (!load.config)
        return CWB_CONFIG_ERROR;
    const SystemConfig* system = load.config->Find(systemName);
    if (!system)
        return CWB_UNKNOWN_SYSTEM;
    const auto cached = CachedSignOn(system->name);
    return CopyOut(cached ? cached->user : system->user, userId, size, needed);
}

extern "C" unsigned int cwbCO_AcceptPasswordLevel(const char* systemName) {
    using namespace cwb;
    if (auto injected = Intercept("cwbCO_AcceptPasswordLevel", systemName ? systemName : ""))
        return injected->rc;
    if (!systemName)
        return CWB_INVALID_POINTER;
    std::string name;
    if (const unsigned rc = FindSystem(systemName, name); rc != CWB_OK)
        return rc;
    PasswordLevels::Accept(name);
    return CWB_OK;
}
