#include "State.h"
#include "cwbsv.h"

using namespace cwb;

extern "C" {

unsigned int cwbSV_CreateErrHandle(cwbSV_ErrHandle* errorHandle) {
    if (auto injected = Intercept("cwbSV_CreateErrHandle"))
        return injected->rc;
    if (!errorHandle)
        return CWB_INVALID_POINTER;
    *errorHandle = ErrorHandles().Add(std::make_shared<ErrorList>());
    return CWB_OK;
}

unsigned int cwbSV_DeleteErrHandle(cwbSV_ErrHandle errorHandle) {
    if (auto injected = Intercept("cwbSV_DeleteErrHandle"))
        return injected->rc;
    return ErrorHandles().Remove(errorHandle) ? CWB_OK : CWB_INVALID_HANDLE;
}

unsigned int cwbSV_GetErrCount(cwbSV_ErrHandle errorHandle, unsigned long* count) {
    if (auto injected = Intercept("cwbSV_GetErrCount"))
        return injected->rc;
    if (!count)
        return CWB_INVALID_POINTER;
    auto list = ErrorHandles().Get(errorHandle);
    if (!list)
        return CWB_INVALID_HANDLE;
    std::lock_guard lock(list->mutex);
    *count = list->messages.size();
    return CWB_OK;
}

unsigned int cwbSV_GetErrTextIndexed(cwbSV_ErrHandle errorHandle, unsigned long index,
                                     char* errorText, unsigned long errorTextLength,
                                     unsigned long* returnLength) {
    if (auto injected = Intercept("cwbSV_GetErrTextIndexed"))
        return injected->rc;
    if (!errorText)
        return CWB_INVALID_POINTER;
    auto list = ErrorHandles().Get(errorHandle);
    if (!list)
        return CWB_INVALID_HANDLE;
    std::lock_guard lock(list->mutex);
    if (index < 1 || index > list->messages.size())
        return CWBSV_NO_ERROR_MESSAGES;
    return CopyOut(list->messages[index - 1], errorText, errorTextLength, returnLength);
}

unsigned int cwbSV_GetErrText(cwbSV_ErrHandle errorHandle, char* errorText,
                              unsigned long errorTextLength, unsigned long* returnLength) {
    if (auto injected = Intercept("cwbSV_GetErrText"))
        return injected->rc;
    if (!errorText)
        return CWB_INVALID_POINTER;
    auto list = ErrorHandles().Get(errorHandle);
    if (!list)
        return CWB_INVALID_HANDLE;
    std::lock_guard lock(list->mutex);
    if (list->messages.empty())
        return CWBSV_NO_ERROR_MESSAGES;
    return CopyOut(list->messages.back(), errorText, errorTextLength, returnLength);
}

} // extern "C"
