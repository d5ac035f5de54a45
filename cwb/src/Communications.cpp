#include <atomic>

#include "Cancel.h"
#include "State.h"
#include "cwbco.h"

using namespace cwb;

namespace {
// Lock-free, so that a signal handler may set it.
std::atomic<bool> cancelled{false};
static_assert(std::atomic<bool>::is_always_lock_free);
} // namespace

bool cwb::Cancelled() {
    return cancelled.load(std::memory_order_relaxed);
}

extern "C" {

unsigned int cwbCO_CreateSysListHandle(cwbCO_SysListHandle* listHandle,
                                       cwbSV_ErrHandle errorHandle) {
    ClearErrors(errorHandle);
    if (auto injected = Intercept("cwbCO_CreateSysListHandle"))
        return Fail(errorHandle, injected->rc, injected->text);
    if (!listHandle)
        return Fail(errorHandle, CWB_INVALID_POINTER,
                    "cwbCO_CreateSysListHandle: no place for the handle.");
    auto load = Systems();
    if (!load.config)
        return Fail(errorHandle, CWB_CONFIG_ERROR, load.error);
    auto list = std::make_shared<SysList>();
    for (const auto& system : load.config->systems)
        list->names.push_back(system.name);
    *listHandle = SysLists().Add(std::move(list));
    return CWB_OK;
}

unsigned int cwbCO_GetDefaultSysName(char* defaultSystemName, unsigned long bufferSize,
                                     unsigned long* needed, cwbSV_ErrHandle errorHandle) {
    ClearErrors(errorHandle);
    if (auto injected = Intercept("cwbCO_GetDefaultSysName")) {
        if (needed)
            *needed = injected->needed;
        return Fail(errorHandle, injected->rc, injected->text);
    }
    if (!defaultSystemName || !needed)
        return Fail(errorHandle, CWB_INVALID_POINTER,
                    "cwbCO_GetDefaultSysName: an area is missing.");
    auto load = Systems();
    if (!load.config)
        return Fail(errorHandle, CWB_CONFIG_ERROR, load.error);
    if (load.config->defaultSystem.empty())
        return Fail(errorHandle, CWBCO_NO_DEFAULT_SYSTEM, "No default system is configured.");
    // The name as its section spells it, as the system list returns it.
    const auto* system = load.config->Find(load.config->defaultSystem);
    if (!system) // the parser refuses such a file, but a null here must never crash
        return Fail(errorHandle, CWBCO_NO_DEFAULT_SYSTEM,
                    "The default system " + load.config->defaultSystem + " is not configured.");
    const auto& name = system->name;
    const auto rc = CopyOut(name, defaultSystemName, bufferSize, needed);
    if (rc == CWB_BUFFER_OVERFLOW)
        return Fail(errorHandle, rc,
                    "The default system name needs " + std::to_string(*needed) + " bytes.");
    return rc;
}

unsigned int cwbCO_GetSysListSize(cwbCO_SysListHandle listHandle, unsigned long* listSize) {
    if (auto injected = Intercept("cwbCO_GetSysListSize"))
        return injected->rc;
    if (!listSize)
        return CWB_INVALID_POINTER;
    auto list = SysLists().Get(listHandle);
    if (!list)
        return CWB_INVALID_HANDLE;
    *listSize = list->names.size();
    return CWB_OK;
}

unsigned int cwbCO_GetNextSysName(cwbCO_SysListHandle listHandle, char* systemName,
                                  unsigned long bufferSize, unsigned long* needed) {
    auto list = SysLists().Get(listHandle);
    if (auto injected = Intercept("cwbCO_GetNextSysName")) {
        if (list && list->next < list->names.size())
            ++list->next; // a failed entry is skipped, as a real one would be
        if (needed)
            *needed = injected->needed;
        return injected->rc;
    }
    if (!list)
        return CWB_INVALID_HANDLE;
    if (!systemName || !needed)
        return CWB_INVALID_POINTER;
    if (list->next >= list->names.size())
        return CWBCO_END_OF_LIST;
    return CopyOut(list->names[list->next++], systemName, bufferSize, needed);
}

unsigned int cwbCO_DeleteSysListHandle(cwbCO_SysListHandle listHandle) {
    if (auto injected = Intercept("cwbCO_DeleteSysListHandle"))
        return injected->rc;
    return SysLists().Remove(listHandle) ? CWB_OK : CWB_INVALID_HANDLE;
}

void cwbCO_Cancel(void) {
    cancelled.store(true, std::memory_order_relaxed);
}

void cwbCO_ResetCancel(void) {
    cancelled.store(false, std::memory_order_relaxed);
}

int cwbCO_Cancelled(void) {
    return Cancelled() ? 1 : 0;
}

} // extern "C"
