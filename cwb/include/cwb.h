#pragma once

/* Common definitions of the Client Access layer: return codes shared by every service. */

#ifdef __cplusplus
extern "C" {
#endif

#define CWB_OK 0u
#define CWB_FILE_NOT_FOUND 2u
#define CWB_ACCESS_DENIED 5u
#define CWB_INVALID_HANDLE 6u
#define CWB_NOT_ENOUGH_MEMORY 8u
#define CWB_INVALID_PARAMETER 87u
#define CWB_BUFFER_OVERFLOW 111u
#define CWB_INVALID_POINTER 4014u

/* Configuration and communications */
#define CWB_CONFIG_ERROR 4100u         /* the systems file cannot be read or is malformed */
#define CWB_UNKNOWN_SYSTEM 4101u       /* no configured system of that name */
#define CWB_COMMUNICATIONS_ERROR 4102u /* the host cannot be reached or the link broke */
#define CWB_SECURITY_ERROR 4103u       /* sign-on refused */
#define CWB_TIMEOUT 4104u              /* the host did not answer in time */
#define CWB_CERTIFICATE_ERROR 4105u    /* TLS: the host's certificate was not trusted */
#define CWB_REPLY_LOST 4106u           /* a call was sent but its answer lost: it may have run */
#define CWB_CANCELLED 4107u            /* cwbCO_Cancel ended the wait before the request left */

/* Sign-on refusals an IBM i host tells apart (ibmi:// systems) */
#define CWB_USER_UNKNOWN 4110u       /* no user profile of that name */
#define CWB_PASSWORD_INCORRECT 4111u /* the password is not the user's */
#define CWB_PASSWORD_EXPIRED 4112u   /* the password must be changed first (cwbCO_ChangePassword) */
#define CWB_USER_DISABLED 4113u      /* the user profile is disabled */
#define CWB_SIGNON_REFUSED 4114u     /* any other refusal; the host's code is in the text */
/* Sign-ons a host refused unchecked, to slow down guessing (4118 and 4120 are cwbsignon.h's) */
#define CWB_USER_LOCKED_OUT 4115u /* too many failed sign-ons; the text says until when */
#define CWB_SIGNON_DELAYED 4116u  /* failed sign-ons: wait; the text says how long */
#define CWB_HOST_BUSY 4117u       /* the host is busy checking sign-ons: retry shortly */
/* The host announced a lower password level than it used before, or than the system's
   min_password_level: a substitute at a weak level is what an eavesdropper would want, so
   nothing was sent. cwbCO_AcceptPasswordLevel accepts a level lowered on purpose. */
#define CWB_PASSWORD_LEVEL_LOWERED 4119u

#ifdef __cplusplus
}
#endif
