#pragma once

/* Remote command: connect to a system and call host programs with bound parameter areas. */

#include "cwbsv.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef unsigned long cwbRC_SysHandle;
typedef unsigned long cwbRC_PgmHandle;

#define CWBRC_INPUT 1
#define CWBRC_OUTPUT 2
#define CWBRC_INOUT 3

#define CWBRC_MAX_PARMS 35

#define CWBRC_INVALID_SYSTEM_HANDLE 6000u
#define CWBRC_INVALID_PROGRAM 6001u /* program handle unknown or names unusable */
#define CWBRC_INVALID_TYPE 6002u    /* parameter direction not 1, 2 or 3 */
#define CWBRC_TOO_MANY_PARMS 6003u
#define CWBRC_HOST_PROGRAM_ERROR 6004u /* the host could not run the program; text in msgHandle */

unsigned int cwbRC_StartSys(const char* system, unsigned long reserved, cwbRC_SysHandle* request);
unsigned int cwbRC_EndSys(cwbRC_SysHandle system);
unsigned int cwbRC_CreatePgm(const char* programName, const char* libraryName,
                             cwbRC_PgmHandle* program);
unsigned int cwbRC_DeletePgm(cwbRC_PgmHandle program);
/* The area stays bound to the program: each call sends it and fills it when it is an output. */
unsigned int cwbRC_AddParm(cwbRC_PgmHandle program, unsigned short type, unsigned long length,
                           const unsigned char* parameter);
unsigned int cwbRC_CallPgm(cwbRC_SysHandle system, cwbRC_PgmHandle program,
                           cwbSV_ErrHandle msgHandle);

#ifdef __cplusplus
}
#endif
