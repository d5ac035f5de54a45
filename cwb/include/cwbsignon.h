#pragma once

/* Sign-on prompt: an extension of this layer's own, not a platform call. A system whose
   section gives neither `password` nor `password_command` is signed on with what the
   registered prompt returns; what the host accepted is kept in memory for the rest of
   the run, so the prompt is asked once per system. */

#include "cwb.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The system's password_command could not give a password (it could not start, failed,
   printed nothing or did not finish in the system's timeout). */
#define CWB_PASSWORD_COMMAND_FAILED 4109u

/* Longest user id and password, in characters. The areas a prompt fills hold that many
   in UTF-8 (at most four bytes each) and a terminator. */
#define CWBCO_MAX_USER_ID 128u
#define CWBCO_MAX_PASSWORD 128u

/* Called by cwbRC_StartSys, on the caller's thread, when a password is needed.
   `systemName` is the name the caller connects to; `reason` is why the host refused the
   last attempt (workstation code page), or empty on the first ask. `userId` holds the
   user to show (possibly empty) and receives the one chosen; `password` receives the
   password. Both are terminated within their sizes and hold the bytes the systems file
   would hold (UTF-8). Returns non-zero for OK, 0 for Cancel: the connect then fails with
   the refusal's code, or CWB_SECURITY_ERROR when nothing was refused yet. */
typedef int (*cwbCO_SignOnPrompt)(const char* systemName, const char* reason, char* userId,
                                  unsigned long userIdSize, char* password,
                                  unsigned long passwordSize, void* context);

/* Registers the prompt of this process; null removes it. Without a prompt, a system
   that has no password fails to connect with CWB_SECURITY_ERROR. */
unsigned int cwbCO_SetSignOnPrompt(cwbCO_SignOnPrompt prompt, void* context);

#ifdef __cplusplus
}
#endif
