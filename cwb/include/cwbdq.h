#pragma once

/* Data queue: read keyed entries that a host program left for this client. */

#include "cwbsv.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned long cwbDQ_QueueHandle;
typedef unsigned long cwbDQ_Data;

typedef enum {
    CWBDQ_NONE = 0,
    CWBDQ_EQUAL = 1,
    CWBDQ_NOT_EQUAL = 2,
    CWBDQ_GT_OR_EQUAL = 3,
    CWBDQ_GREATER = 4,
    CWBDQ_LT_OR_EQUAL = 5,
    CWBDQ_LESS = 6
} cwbDQ_SearchOrder;

#define CWBDQ_MAX_KEY_LENGTH 256u

#define CWBDQ_QUEUE_NOT_FOUND 6500u
#define CWBDQ_TIMED_OUT 6501u /* no matching entry within the wait time */
#define CWBDQ_INVALID_QUEUE_HANDLE 6502u
#define CWBDQ_INVALID_DATA_HANDLE 6503u
#define CWBDQ_INVALID_KEY_LENGTH 6504u
#define CWBDQ_INVALID_SEARCH 6505u
#define CWBDQ_NO_DATA_AREA 6506u   /* read before an area was set */
#define CWBDQ_DATA_TRUNCATED 6507u /* the entry is longer than the area; what fits was stored */

unsigned int cwbDQ_Open(const char* queue, const char* library, const char* systemName,
                        cwbDQ_QueueHandle* queueHandle, cwbSV_ErrHandle errorHandle);
unsigned int cwbDQ_Close(cwbDQ_QueueHandle queueHandle);
cwbDQ_Data cwbDQ_CreateData(void);
unsigned int cwbDQ_DeleteData(cwbDQ_Data data);
unsigned int cwbDQ_SetData(cwbDQ_Data data, unsigned char* dataBuffer, unsigned long dataLength);
unsigned int cwbDQ_SetSearchKey(cwbDQ_Data data, unsigned char* key, unsigned short keyLength);
unsigned int cwbDQ_SetSearchOrder(cwbDQ_Data data, cwbDQ_SearchOrder searchOrder);
/* waitTime in seconds: 0 returns at once, a negative value waits until an entry arrives */
unsigned int cwbDQ_Read(cwbDQ_QueueHandle queueHandle, cwbDQ_Data data, long waitTime,
                        cwbSV_ErrHandle errorHandle);
/* length of the entry the last read returned */
unsigned int cwbDQ_GetDataLen(cwbDQ_Data data, unsigned long* length);

#ifdef __cplusplus
}
#endif
