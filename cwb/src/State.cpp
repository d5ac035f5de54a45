#include "State.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>

#include "IbmiBackend.h"
#include "Latin1Text.h"
#include "PasswordCommand.h"
#include "ProcessState.h"
#include "SignOn.h"
#include "TcpBackend.h"
#include "cwbco.h"
#include "cwbsignon.h"
#include "cwbtest.h"
#if TAVO_EMBEDDED_HOST
#include "EmbeddedBackend.h"
#endif

namespace cwb {

HandleTable<ErrorList>& ErrorHandles() {
    static HandleTable<ErrorList> table;
    return table;
}
HandleTable<Connection>& Connections() {
    static HandleTable<Connection> table;
    return table;
}
HandleTable<Program>& Programs() {
    static HandleTable<Program> table;
    return table;
}
HandleTable<Queue>& Queues() {
    static HandleTable<Queue> table;
    return table;
}
HandleTable<ReadData>& ReadDatas() {
    static HandleTable<ReadData> table;
    return table;
}
HandleTable<Converter>& Converters() {
    static HandleTable<Converter> table;
    return table;
}
HandleTable<SysList>& SysLists() {
    static HandleTable<SysList> table;
    return table;
}

void ClearErrors(cwbSV_ErrHandle handle) {
    if (auto list = ErrorHandles().Get(handle)) {
        std::lock_guard lock(list->mutex);
        list->messages.clear();
    }
}

void AddError(cwbSV_ErrHandle handle, std::string text) {
    if (auto list = ErrorHandles().Get(handle)) {
        std::lock_guard lock(list->mutex);
        list->messages.push_back(std::move(text));
    }
}

unsigned CopyOut(std::string_view text, char* area, unsigned long size, unsigned long* needed) {
    const unsigned long want = static_cast<unsigned long>(text.size()) + 1;
    if (needed)
        *needed = want;
    if (!area || size == 0)
        return CWB_BUFFER_OVERFLOW;
    const auto n = std::min<unsigned long>(size - 1, text.size());
    std::memcpy(area, text.data(), n);
    area[n] = '\0';
    return want > size ? CWB_BUFFER_OVERFLOW : CWB_OK;
}

namespace {

struct Seam {
    // Off until a test touches the seam, so a real run neither logs nor looks up calls.
    std::atomic<bool> active{false};
    std::mutex mutex;
    std::optional<std::string> systemsText;
    struct Armed {
        std::string function;
        std::string subject;
        Injection injection;
        int remaining;
        int pass = 0;
    };
    std::vector<Armed> armed;
    std::vector<cwbtest::Call> calls;
};

Seam& TheSeam() {
    static Seam seam;
    return seam;
}

} // namespace

SystemsLoad Systems() {
    auto& seam = TheSeam();
    std::optional<std::string> text;
    {
        std::lock_guard lock(seam.mutex);
        text = seam.systemsText;
    }
    auto load = text ? ParseSystemsFile(*text) : LoadSystems();
    // The file and its path are UTF-8; the layer's texts are in the workstation code page.
    if (!load.config)
        load.error = tavo::text::Utf8ToLatin1Shown(load.error);
    return load;
}

namespace {

// What each system's password_command gave in this run, by the system, its user and the
// command, so that a systems file changed meanwhile runs its new command.
class PasswordsByCommand {
  public:
    bool Find(const std::string& key, std::string& password) {
        std::lock_guard lock(mutex_);
        auto found = passwords_.find(key);
        if (found == passwords_.end())
            return false;
        password = found->second;
        return true;
    }
    void Keep(const std::string& key, const std::string& password) {
        std::lock_guard lock(mutex_);
        passwords_[key] = password;
    }
    void Forget(const std::string& key) {
        std::lock_guard lock(mutex_);
        if (auto found = passwords_.find(key); found != passwords_.end()) {
            Wipe(found->second);
            passwords_.erase(found);
        }
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        for (auto& [key, password] : passwords_)
            Wipe(password);
        passwords_.clear();
    }

  private:
    std::mutex mutex_;
    std::map<std::string, std::string> passwords_;
};

PasswordsByCommand& CommandPasswords() {
    static PasswordsByCommand passwords;
    return passwords;
}

std::string CommandKey(const SystemConfig& system) {
    std::string key = system.name + '\0' + system.user;
    for (const auto& word : system.passwordCommand)
        (key += '\0') += word;
    return key;
}

std::unique_ptr<Backend> Connected(const SystemConfig& system, Use use, Status& status) {
    auto backend = MakeBackend(system);
    if (!backend) {
        status = Status::Fail(CWB_COMMUNICATIONS_ERROR,
                              "System " + system.name +
                                  " has an address this program cannot use: " + system.address);
        return nullptr;
    }
    status = backend->Connect(use);
    return status.ok() ? std::move(backend) : nullptr;
}

// The same with a password the configured system does not hold; the backend keeps a copy
// of its own for the reconnects it makes.
std::unique_ptr<Backend> ConnectedAs(SystemConfig system, Use use, const Credentials& credentials,
                                     Status& status) {
    system.user = credentials.user;
    system.password = credentials.password;
    system.hasPassword = true;
    auto backend = Connected(system, use, status);
    Wipe(system.password);
    return backend;
}

std::string RefusalText(const Status& status) {
    std::string text = status.text;
    for (const auto& message : status.messages)
        text += (text.empty() ? "" : " ") + message;
    return text;
}

// A system whose section gives no password: the one accepted earlier in this run, else
// the prompt's answer, asked again with the reason after each refusal.
std::unique_ptr<Backend> SignOnAsked(std::string_view systemName, const SystemConfig& system,
                                     Use use, SignOnPrompting prompting, Status& status) {
    auto credentials = CachedSignOn(system.name);
    std::string user = system.user, reason;
    std::optional<Status> refused;
    for (;;) {
        if (!credentials) {
            if (prompting == SignOnPrompting::Never || !CanAskSignOn()) {
                if (refused) {
                    status = *refused;
                    return nullptr;
                }
                if (system.user.empty()) // the backend says what is missing
                    return Connected(system, use, status);
                // An empty password would only use up one of the host's sign-on attempts.
                status = Status::Fail(CWB_SECURITY_ERROR,
                                      "The systems file gives no password for " + system.name +
                                          ", and none was given in this run.");
                return nullptr;
            }
            credentials = AskSignOn(systemName, user, reason);
            if (!credentials) {
                status = Status::Fail(CWB_SIGNON_CANCELLED,
                                      "Sign-on to " + system.name + " was cancelled.");
                return nullptr;
            }
            if (credentials->user.empty()) {
                reason = "A user ID is needed.";
                user.clear();
                credentials.reset();
                continue;
            }
        }
        auto backend = ConnectedAs(system, use, *credentials, status);
        if (backend) {
            CacheSignOn(system.name, *credentials);
            return backend;
        }
        // An expired password was the right one: only a change cures it, not another ask.
        if (!IsSignOnRefusal(status.rc) || status.rc == CWB_PASSWORD_EXPIRED)
            return nullptr;
        ForgetSignOn(system.name);
        refused = status;
        reason = RefusalText(status);
        user = credentials->user;
        credentials.reset();
    }
}

} // namespace

std::unique_ptr<Backend> OpenBackend(std::string_view systemName, Use use, Status& status,
                                     SignOnPrompting prompting) {
    auto load = Systems();
    if (!load.config) {
        status = Status::Fail(CWB_CONFIG_ERROR, load.error);
        return nullptr;
    }
    const auto* system = load.config->Find(systemName);
    if (!system) {
        status = Status::Fail(CWB_UNKNOWN_SYSTEM,
                              "System " + std::string(systemName) + " is not configured.");
        return nullptr;
    }
    // The embedded host signs nobody on.
    if (system->endpoint.kind == Endpoint::Kind::Embedded)
        return Connected(*system, use, status);
    // A password changed in this run replaces the file's, which is never rewritten.
    if (const auto changed = ChangedPassword(system->name)) {
        auto backend = ConnectedAs(*system, use, *changed, status);
        if (backend || !IsSignOnRefusal(status.rc))
            return backend;
        ForgetSignOn(system->name);
    }
    if (system->hasPassword)
        return Connected(*system, use, status);
    // The command runs once a run: a connect and a queue open are two sign-ons, and a
    // command that hangs would cost its timeout at each. A refusal forgets its answer.
    if (!system->passwordCommand.empty()) {
        const std::string key = CommandKey(*system);
        Credentials credentials{system->user, {}};
        if (!CommandPasswords().Find(key, credentials.password)) {
            status = RunPasswordCommand(*system, credentials.password);
            if (!status.ok())
                return nullptr;
            CommandPasswords().Keep(key, credentials.password);
        }
        auto backend = ConnectedAs(*system, use, credentials, status);
        if (!backend && IsSignOnRefusal(status.rc))
            CommandPasswords().Forget(key);
        return backend;
    }
    return SignOnAsked(systemName, *system, use, prompting, status);
}

std::optional<Injection> Intercept(std::string_view function, std::string_view subject) {
    auto& seam = TheSeam();
    if (!seam.active.load(std::memory_order_relaxed))
        return std::nullopt;
    std::lock_guard lock(seam.mutex);
    seam.calls.push_back({std::string(function), std::string(subject)});
    // Each armed failure counts the matching calls on its own, so arming a second one for
    // the same function neither hides nor delays the first.
    std::optional<Injection> fired;
    for (auto it = seam.armed.begin(); it != seam.armed.end();) {
        if (it->function != function || (!it->subject.empty() && it->subject != subject)) {
            ++it;
        } else if (it->pass > 0) {
            --it->pass;
            ++it;
        } else if (fired) {
            ++it;
        } else {
            fired = it->injection;
            it = --it->remaining <= 0 ? seam.armed.erase(it) : std::next(it);
        }
    }
    return fired;
}

} // namespace cwb

namespace {

// What a program started again no longer has: handles, connections, sign-ons.
void ForgetProcess() {
    cwb::ErrorHandles().Clear();
    cwb::Connections().Clear();
    cwb::Programs().Clear();
    cwb::Queues().Clear();
    cwb::ReadDatas().Clear();
    cwb::Converters().Clear();
    cwb::SysLists().Clear();
    cwb::ForgetIbmiSignOns();
    cwb::ForgetTcpConnections();
    cwb::ResetSignOns();
    cwb::CommandPasswords().Clear();
}

[[maybe_unused]] const bool registered = RegisterProcessReset([](KeepHosts keepHosts) {
    if (keepHosts == KeepHosts::Yes)
        ForgetProcess();
    else
        cwbtest::Reset();
});

} // namespace

namespace cwbtest {

void Reset() {
    ForgetProcess();
    cwbCO_ResetCancel();
#if TAVO_EMBEDDED_HOST
    cwb::EmbeddedBackend::ForgetEngines();
#endif
    auto& seam = cwb::TheSeam();
    seam.active = true;
    std::lock_guard lock(seam.mutex);
    seam.systemsText.reset();
    seam.armed.clear();
    seam.calls.clear();
}

void UseSystems(std::string iniText) {
    auto& seam = cwb::TheSeam();
    seam.active = true;
    std::lock_guard lock(seam.mutex);
    seam.systemsText = std::move(iniText);
}

void UseSystemsFile() {
    auto& seam = cwb::TheSeam();
    std::lock_guard lock(seam.mutex);
    seam.systemsText.reset();
}

void FailNext(std::string function, unsigned rc, std::string text, int times, std::string subject,
              unsigned long needed) {
    auto& seam = cwb::TheSeam();
    seam.active = true;
    std::lock_guard lock(seam.mutex);
    seam.armed.push_back({std::move(function), std::move(subject),
                          cwb::Injection{rc, std::move(text), needed}, times});
}

void FailAfter(std::string function, int pass, unsigned rc, std::string text) {
    auto& seam = cwb::TheSeam();
    seam.active = true;
    std::lock_guard lock(seam.mutex);
    seam.armed.push_back(
        {std::move(function), {}, cwb::Injection{rc, std::move(text), 0}, 1, pass});
}

std::vector<Call> Calls() {
    auto& seam = cwb::TheSeam();
    std::lock_guard lock(seam.mutex);
    return seam.calls;
}

int CountCalls(std::string_view function, std::string_view subject) {
    auto calls = Calls();
    return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const Call& c) {
        return c.function == function && (subject.empty() || c.subject == subject);
    }));
}

void ClearCalls() {
    auto& seam = cwb::TheSeam();
    std::lock_guard lock(seam.mutex);
    seam.calls.clear();
}

#if TAVO_EMBEDDED_HOST
std::shared_ptr<tavo::server::HostEngine> Engine(std::string_view systemName) {
    auto load = cwb::Systems();
    if (!load.config)
        return nullptr;
    const auto* system = load.config->Find(systemName);
    if (!system || system->endpoint.kind != cwb::Endpoint::Kind::Embedded)
        return nullptr;
    return cwb::EmbeddedBackend::EngineFor(*system);
}
#endif

} // namespace cwbtest
