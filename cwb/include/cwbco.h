#pragma once

/* Communications: the systems configured for this user, and the default one. */

#include "cwbsv.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned long cwbCO_SysListHandle;

#define CWBCO_END_OF_LIST 6600u
#define CWBCO_NO_DEFAULT_SYSTEM 6601u

unsigned int cwbCO_CreateSysListHandle(cwbCO_SysListHandle* listHandle,
                                       cwbSV_ErrHandle errorHandle);
unsigned int cwbCO_GetDefaultSysName(char* defaultSystemName, unsigned long bufferSize,
                                     unsigned long* needed, cwbSV_ErrHandle errorHandle);
unsigned int cwbCO_GetSysListSize(cwbCO_SysListHandle listHandle, unsigned long* listSize);
/* On CWB_BUFFER_OVERFLOW the entry is skipped: the next call returns the one after it. */
unsigned int cwbCO_GetNextSysName(cwbCO_SysListHandle listHandle, char* systemName,
                                  unsigned long bufferSize, unsigned long* needed);
unsigned int cwbCO_DeleteSysListHandle(cwbCO_SysListHandle listHandle);

/* Extension: ends the waits of this process's host calls. Every wait on the network, on a
   password_command or on a data queue, now or later, ends within a few tens of milliseconds:
   the call fails with CWB_CANCELLED while its request had not left, CWB_REPLY_LOST once it
   had (the host may have acted on it). It lasts until cwbCO_ResetCancel. Any thread may call
   it, and so may a signal handler. */
void cwbCO_Cancel(void);
void cwbCO_ResetCancel(void);
int cwbCO_Cancelled(void);

#ifdef __cplusplus
}
#endif
