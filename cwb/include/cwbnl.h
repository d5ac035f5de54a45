#pragma once

/* National-language support: the workstation code page and converters to and from EBCDIC. */

#include "cwbsv.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned long cwbNL_Converter;

#define CWBNL_ERR_CNV_UNSUPPORTED 6100u
#define CWBNL_ERR_CNV_INVALID_HANDLE 6101u

unsigned int cwbNL_GetCodePage(unsigned long* codePage, cwbSV_ErrHandle errorHandle);
/* The CCSID the host's sign-on server names, signing on to `system` if this process has
   not yet (without asking for a password); 37 for the embedded host and tcp://. */
unsigned int cwbNL_GetHostCCSID(const char* system, unsigned long* CCSID);
unsigned int cwbNL_CreateConverterEx(unsigned long sourceCodePage, unsigned long targetCodePage,
                                     cwbNL_Converter* theConverter, cwbSV_ErrHandle errorHandle,
                                     unsigned long shiftInShiftOutStatus, unsigned long padLength,
                                     char* pad);
unsigned int cwbNL_DeleteConverter(cwbNL_Converter theConverter, cwbSV_ErrHandle errorHandle);
/* Converts min(sourceLength, targetLength) bytes; a longer target is filled with the
   converter's pad, if it has one. A target shorter than the source gives
   CWB_BUFFER_OVERFLOW with requiredLen set. */
unsigned int cwbNL_Convert(cwbNL_Converter theConverter, unsigned long sourceLength,
                           unsigned long targetLength, char* sourceBuffer, char* targetBuffer,
                           unsigned long* numberOfErrors, unsigned long* firstErrorIndex,
                           unsigned long* requiredLen, cwbSV_ErrHandle errorHandle);

#ifdef __cplusplus
}
#endif
