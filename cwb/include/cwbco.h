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

#ifdef __cplusplus
}
#endif
