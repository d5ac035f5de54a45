#include <chrono>
#include <cstring>
#include <thread>

#include "Cancel.h"
#include "State.h"
#include "cwbdq.h"

using namespace cwb;

extern "C" {

unsigned int cwbDQ_Open(const char* queue, const char* library, const char* systemName,
                        cwbDQ_QueueHandle* queueHandle, cwbSV_ErrHandle errorHandle) {
    ClearErrors(errorHandle);
    if (auto injected = Intercept("cwbDQ_Open", systemName ? systemName : ""))
        return Fail(errorHandle, injected->rc, injected->text);
    if (!queue || !library || !systemName || !queueHandle)
        return Fail(errorHandle, CWB_INVALID_POINTER,
                    "cwbDQ_Open: a required argument is missing.");
    *queueHandle = 0;
    Status status;
    auto backend = OpenBackend(systemName, Use::Queues, status);
    if (!backend)
        return Fail(errorHandle, status);
    status = backend->QueueExists(queue, library);
    if (!status.ok())
        return Fail(errorHandle, status);
    auto opened = std::make_shared<Queue>();
    opened->name = queue;
    opened->library = library;
    opened->system = systemName;
    opened->backend = std::move(backend);
    *queueHandle = Queues().Add(std::move(opened));
    return CWB_OK;
}

unsigned int cwbDQ_Close(cwbDQ_QueueHandle queueHandle) {
    if (auto injected = Intercept("cwbDQ_Close"))
        return injected->rc;
    return Queues().Remove(queueHandle) ? CWB_OK : CWBDQ_INVALID_QUEUE_HANDLE;
}

cwbDQ_Data cwbDQ_CreateData(void) {
    if (Intercept("cwbDQ_CreateData"))
        return 0;
    return ReadDatas().Add(std::make_shared<ReadData>());
}

unsigned int cwbDQ_DeleteData(cwbDQ_Data data) {
    if (auto injected = Intercept("cwbDQ_DeleteData"))
        return injected->rc;
    return ReadDatas().Remove(data) ? CWB_OK : CWBDQ_INVALID_DATA_HANDLE;
}

unsigned int cwbDQ_SetData(cwbDQ_Data data, unsigned char* dataBuffer, unsigned long dataLength) {
    if (auto injected = Intercept("cwbDQ_SetData"))
        return injected->rc;
    auto target = ReadDatas().Get(data);
    if (!target)
        return CWBDQ_INVALID_DATA_HANDLE;
    if (!dataBuffer && dataLength > 0)
        return CWB_INVALID_POINTER;
    target->area = dataBuffer;
    target->length = dataLength;
    return CWB_OK;
}

unsigned int cwbDQ_SetSearchKey(cwbDQ_Data data, unsigned char* key, unsigned short keyLength) {
    if (auto injected = Intercept("cwbDQ_SetSearchKey"))
        return injected->rc;
    auto target = ReadDatas().Get(data);
    if (!target)
        return CWBDQ_INVALID_DATA_HANDLE;
    if (keyLength > CWBDQ_MAX_KEY_LENGTH)
        return CWBDQ_INVALID_KEY_LENGTH;
    if (!key && keyLength > 0)
        return CWB_INVALID_POINTER;
    target->key.assign(reinterpret_cast<const char*>(key), keyLength);
    target->keySet = true;
    return CWB_OK;
}

unsigned int cwbDQ_SetSearchOrder(cwbDQ_Data data, cwbDQ_SearchOrder searchOrder) {
    if (auto injected = Intercept("cwbDQ_SetSearchOrder"))
        return injected->rc;
    auto target = ReadDatas().Get(data);
    if (!target)
        return CWBDQ_INVALID_DATA_HANDLE;
    if (searchOrder < CWBDQ_NONE || searchOrder > CWBDQ_LESS)
        return CWBDQ_INVALID_SEARCH;
    target->order = searchOrder;
    return CWB_OK;
}

unsigned int cwbDQ_Read(cwbDQ_QueueHandle queueHandle, cwbDQ_Data data, long waitTime,
                        cwbSV_ErrHandle errorHandle) {
    ClearErrors(errorHandle);
    if (auto injected = Intercept("cwbDQ_Read"))
        return Fail(errorHandle, injected->rc, injected->text);
    auto queue = Queues().Get(queueHandle);
    if (!queue)
        return Fail(errorHandle, CWBDQ_INVALID_QUEUE_HANDLE, "The data queue handle is not valid.");
    auto target = ReadDatas().Get(data);
    if (!target)
        return Fail(errorHandle, CWBDQ_INVALID_DATA_HANDLE, "The data object handle is not valid.");
    if (!target->area)
        return Fail(errorHandle, CWBDQ_NO_DATA_AREA, "No area was set to receive the entry.");
    // Entries are only ever filed by key, so a read must ask for one key exactly.
    if (!target->keySet || target->order != CWBDQ_EQUAL)
        return Fail(errorHandle, CWBDQ_INVALID_SEARCH,
                    "Data queue " + queue->name +
                        " is read by key: set a key and search order EQUAL.");

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(waitTime > 0 ? waitTime : 0);
    std::string entry;
    Status status;
    for (;;) {
        {
            std::lock_guard lock(queue->use);
            status = queue->backend->TakeEntry(queue->name, queue->library, target->key, entry);
        }
        if (status.rc != CWBDQ_TIMED_OUT || waitTime == 0 ||
            (waitTime > 0 && Clock::now() >= deadline))
            break;
        if (Cancelled()) {
            status = Status::Fail(CWB_CANCELLED,
                                  "The wait on data queue " + queue->name + " was cancelled.");
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (!status.ok())
        return Fail(errorHandle, status);
    const auto copied = std::min<unsigned long>(entry.size(), target->length);
    std::memcpy(target->area, entry.data(), copied);
    target->lastLength = copied;
    if (copied < entry.size())
        return Fail(errorHandle, CWBDQ_DATA_TRUNCATED,
                    "The entry is " + std::to_string(entry.size()) + " bytes; the area holds " +
                        std::to_string(target->length) + ".");
    return CWB_OK;
}

unsigned int cwbDQ_GetDataLen(cwbDQ_Data data, unsigned long* length) {
    auto target = ReadDatas().Get(data);
    if (!target)
        return CWBDQ_INVALID_DATA_HANDLE;
    if (!length)
        return CWB_INVALID_POINTER;
    *length = target->lastLength;
    return CWB_OK;
}

} // extern "C"
