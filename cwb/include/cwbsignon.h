#pragma once

/* Sign-on prompt: an extension of this layer's own, not a platform call. A system whose
   section gives neither `password` nor `password_command` is signed on with what the
   registered prompt returns; what the host accepted is kept in memory for the rest of
   the run, so the prompt is asked once per system. */

#include "cwb.h"
#include "cwbsv.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The system's password_command could not give a password (it could not start, failed,
   printed nothing or did not finish in the system's timeout). */
#define CWB_PASSWORD_COMMAND_FAILED 4109u

/* The host refused the new password of cwbCO_ChangePassword by its rules (too short, the
   same as the old one, ...); the error handle holds the host's own text. */
#define CWB_NEW_PASSWORD_REFUSED 4120u

/* The prompt was cancelled (or could not ask): nothing reached the host. */
#define CWB_SIGNON_CANCELLED 4118u

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
   CWB_SIGNON_CANCELLED, and the host is not asked again. The call may come on any thread
   that connects; a window shows its dialog on its own thread. */
typedef int (*cwbCO_SignOnPrompt)(const char* systemName, const char* reason, char* userId,
                                  unsigned long userIdSize, char* password,
                                  unsigned long passwordSize, void* context);

/* Registers the prompt of this process; null removes it. Without a prompt, a system
   that has no password fails to connect with CWB_SECURITY_ERROR. */
unsigned int cwbCO_SetSignOnPrompt(cwbCO_SignOnPrompt prompt, void* context);

/* Changes the password of `userId` on the system, from `oldPassword` (which may have
   expired) to `newPassword`; all three UTF-8, as a prompt returns them. The host checks the
   old password and applies its rules to the new one: CWB_PASSWORD_INCORRECT when the old
   one is wrong, CWB_NEW_PASSWORD_REFUSED when a rule refuses the new one, the host's text
   in the error handle either way. Once changed, this process signs on to the system with
   the new password for the rest of the run, whatever the systems file says; the file is
   never rewritten. An embedded system has no passwords: CWB_INVALID_PARAMETER. */
unsigned int cwbCO_ChangePassword(const char* systemName, const char* userId,
                                  const char* oldPassword, const char* newPassword,
                                  cwbSV_ErrHandle errorHandle);

/* The user the system signs on as in this run: the one a change of password or the prompt
   gave, else the systems file's; empty when neither names one. `needed` counts the
   terminator; CWB_BUFFER_OVERFLOW when the area is too small. */
unsigned int cwbCO_GetSignOnUserID(const char* systemName, char* userId, unsigned long size,
                                   unsigned long* needed);

/* Whether the last sign-on to the system in this process was told that its password
   expires within the host's warning period: `daysLeft` receives the days left (a day begun
   counts whole, so 1 on the last day), or -1 when no warning is due or nothing is known. */
unsigned int cwbCO_GetPasswordExpiry(const char* systemName, long* daysLeft);

/* Lets the next sign-on to the system in this run use whatever password level its host
   announces, even below the one it used before (CWB_PASSWORD_LEVEL_LOWERED otherwise), and
   remembers that level in place of the old one once the host has accepted the sign-on. For
   a host whose administrators lowered its level on purpose. It never goes below the
   systems file's min_password_level; systems other than ibmi:// and ibmis:// have no
   levels, and for them it changes nothing. */
unsigned int cwbCO_AcceptPasswordLevel(const char* systemName);

#ifdef __cplusplus
}
#endif
