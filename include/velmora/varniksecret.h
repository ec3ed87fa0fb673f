/* Secret sealing: a reversible, keyless obfuscation of a short secret text
 * into a printable token (framed with '@', bytes XOR 0x01, Base64 with '+'
 * written as '!') and back. */
#ifndef VELMORA_VARNIKSECRET_H
#define VELMORA_VARNIKSECRET_H

#include "velmora/defs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Longest secret that is sealed; longer secrets are sealed as their first
 * VARNIKSECRET_MAX_SECRET bytes. */
#define VARNIKSECRET_MAX_SECRET 2052
/* Length of the longest token the sealer makes (a secret of
 * VARNIKSECRET_MAX_SECRET bytes); the unsealer reads tokens up to this length. */
#define VARNIKSECRET_MAX_TOKEN 2740

/* Seals input into output as a NUL-terminated token and returns the number of
 * framed bytes encoded (secret bytes sealed + 2). An empty or NULL input, or an
 * output too small for the whole token and its NUL, writes an empty text and
 * returns 0. Nothing is written when output is NULL or outputSize is below 1. */
int varniksecret_encrypt(const char *input, char *output, int outputSize) VELMORA_NOEXCEPT;

/* Unseals the token input into output as a NUL-terminated secret and returns
 * its length. Returns 0 with an empty output for an empty or NULL input and for
 * any text that does not unseal, including a secret that would not fit in
 * output with its NUL. Nothing is written when output is NULL or outputSize is
 * below 1. */
int varniksecret_decrypt(const char *input, char *output, int outputSize) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
