#pragma once

/* Service: error handles that collect the message texts of failed calls. */

#include "cwb.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned long cwbSV_ErrHandle;

#define CWBSV_NO_ERROR_MESSAGES 6200u /* the handle holds no message at that index */

unsigned int cwbSV_CreateErrHandle(cwbSV_ErrHandle* errorHandle);
unsigned int cwbSV_DeleteErrHandle(cwbSV_ErrHandle errorHandle);
unsigned int cwbSV_GetErrCount(cwbSV_ErrHandle errorHandle, unsigned long* count);
/* index 1 is the oldest message; a text longer than the area is cut, terminated, and
   CWB_BUFFER_OVERFLOW returned with the full length (terminator included) in returnLength */
unsigned int cwbSV_GetErrTextIndexed(cwbSV_ErrHandle errorHandle, unsigned long index,
                                     char* errorText, unsigned long errorTextLength,
                                     unsigned long* returnLength);
/* the newest message */
unsigned int cwbSV_GetErrText(cwbSV_ErrHandle errorHandle, char* errorText,
                              unsigned long errorTextLength, unsigned long* returnLength);

#ifdef __cplusplus
}
#endif
