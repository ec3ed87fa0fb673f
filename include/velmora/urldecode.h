/* URL form decoding. */
#ifndef VELMORA_URLDECODE_H
#define VELMORA_URLDECODE_H

#include "velmora/defs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* New text (malloc, one byte longer than str) with '+' turned into a space and
 * every %XX escape into its byte; NULL for a NULL str or when allocation
 * fails. */
char *qxurldecode(const char *str) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
