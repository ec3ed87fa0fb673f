/* Base64 (RFC 4648 alphabet, no line breaks) into caller-supplied buffers.
 * Every routine NUL-terminates what it writes and never writes more than the
 * stated buffer size. */
#ifndef VELMORA_BASE64_H
#define VELMORA_BASE64_H

#include <stdint.h>

#include "velmora/defs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The 64 alphabet characters in RFC 4648 order. */
extern const char base64_code[];
/* Alphabet position of each byte value, 0 for '=', -1 for every other byte. */
extern int32_t base64_value[256];
/* Set once base64_value has been built. */
extern int base64_initialized;

/* Encodes the text decoded_str into result (result_size bytes): the number of
 * characters written before their NUL. Only whole groups that leave room are
 * encoded; with result_size below 5 nothing is (an empty text where there is
 * room for one byte). 0 and nothing written for a NULL text. */
int base64_encode(const char *decoded_str, char *result, int result_size) VELMORA_NOEXCEPT;
/* The same for len arbitrary bytes. */
int base64_encode_bin(const void *data, int len, char *result, int result_size) VELMORA_NOEXCEPT;
/* Decodes Base64 text p into result (result_size bytes), skipping bytes
 * outside the alphabet; '=' decodes as zero bits and an incomplete last group
 * is dropped. Returns the number of bytes written before the NUL that follows
 * them. 0 and nothing written for a NULL p. */
int base64_decode_bin(const char *p, void *result, int result_size) VELMORA_NOEXCEPT;
/* base64_decode_bin, with trailing zero bytes left out of the returned count
 * (they stay in result). */
int base64_decode(const char *p, void *result, int result_size) VELMORA_NOEXCEPT;
/* 0 when each of the first size bytes of p is an alphabet character, '=' or
 * NUL (also for size 0 or less), 1 otherwise. */
int base64_isEncoded(const char *p, int size) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
