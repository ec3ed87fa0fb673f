/* Byte-string routines: splitting, case folding, replacing, counting,
 * hexadecimal, growing, trimming, joining, escaping and value extraction.
 *
 * Every routine works on NUL-terminated byte strings. Routines either work in
 * place on the caller's buffer or return a new block from malloc that the
 * caller releases with free. */
#ifndef VELMORA_QXSTRING_H
#define VELMORA_QXSTRING_H

#include <stdint.h>

#include "velmora/defs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Capacity of a STRING made by str_new. */
#define STRING_INITIAL_SIZE 1000

/* A growable text buffer. There is no destroy routine: the owner frees data
 * and then the STRING block itself. */
typedef struct STRING {
    int32_t length;    /* text bytes in data, without the terminating NUL */
    int32_t allocated; /* capacity of data in bytes */
    char *data;        /* the text, always NUL-terminated */
} STRING;

/* ---- Splitting -------------------------------------------------------- */

/* Cuts str in place at every delim and returns a NULL-terminated array of
 * pointers to the pieces (one malloc block; the pieces stay in str).
 * k separators give k+1 pieces, empty ones included. NULL when str is NULL
 * or the array cannot be allocated (str is then untouched). */
char **string_explode(char *str, char delim) VELMORA_NOEXCEPT;
/* As string_explode, but splits at no more than limit-1 separators, left to
 * right; the last piece is the rest of the text. A limit of 1 or less splits
 * nothing. *num (when num is not NULL) receives the number of pieces; it is
 * not written when NULL is returned. */
char **string_explode_limit(char *str, char delim, int limit, int *num) VELMORA_NOEXCEPT;

/* ---- Case folding (in place, with tolower of the process locale) ------- */

/* Lower-cases ptr (NULL or empty is left alone); always returns 0. */
int string_tolower(char *ptr) VELMORA_NOEXCEPT;
/* Lower-cases str and returns it. */
char *string_lcase(char *str) VELMORA_NOEXCEPT;
/* Decodes %XX escapes, turns spaces (also escaped ones) into '+' and
 * lower-cases, in place. An escape %00 is kept as the text "%00". */
void string_lowercase_url(char *str) VELMORA_NOEXCEPT;

/* ---- Replacing and counting ------------------------------------------- */

/* Every byte toreplace in ptr becomes replacement; returns ptr. */
char *string_replace(char *ptr, char toreplace, char replacement) VELMORA_NOEXCEPT;
/* New text with the first occurrence of find replaced by replace (a copy of
 * str when find is empty or absent); NULL for a NULL argument or when
 * allocation fails. */
char *string_replace_string(const char *str, const char *find, const char *replace) VELMORA_NOEXCEPT;
/* As string_replace_string for every occurrence, left to right, without
 * overlap; replacement text is never searched again. */
char *string_replace_string_global(const char *str, const char *find, const char *replace) VELMORA_NOEXCEPT;
/* Counts occurrences of find in str, resuming fl bytes past the start of each
 * hit. 0 when str or find is NULL or fl is not positive. */
int string_count_string_occurences_l(const char *str, const char *find, int fl) VELMORA_NOEXCEPT;
/* Counts the non-overlapping occurrences of find in str. */
int string_count_string_occurences(const char *str, const char *find) VELMORA_NOEXCEPT;

/* ---- Hexadecimal ------------------------------------------------------ */

/* Converts hexadecimal text to at most size bytes in binstr: 0 on success,
 * 1 on error (NULL argument, size 0, a non-hexadecimal digit). An odd last
 * digit fills the high half of its byte. */
int string_hex_to_bin(const char *str, unsigned char *binstr, int size) VELMORA_NOEXCEPT;

/* ---- Growing strings -------------------------------------------------- */

/* Grows the malloc block str by exactly len bytes of more (copied as they are)
 * and a NUL. Returns the possibly moved block, or NULL when growing failed
 * (str is then unchanged and still the caller's). */
char *string_append(char *str, const char *more, int len) VELMORA_NOEXCEPT;
/* string_append of base with the whole text add. */
char *string_add(char *base, const char *add) VELMORA_NOEXCEPT;
/* A new empty STRING of capacity STRING_INITIAL_SIZE, or NULL. */
STRING *str_new(void) VELMORA_NOEXCEPT;
/* Appends printf-formatted text to str: -1 on success, 0 when growing failed
 * (str is then unchanged). */
int str_add(STRING *str, const char *format, ...) VELMORA_NOEXCEPT
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;

/* ---- Trimming and truncating ------------------------------------------ */

/* Cuts trailing white space in place; returns str. */
char *string_rtrim(char *str) VELMORA_NOEXCEPT;
/* Pointer to the first byte of str that is not white space. */
char *string_ltrim(const char *str) VELMORA_NOEXCEPT;
/* New text that fits in shortsize bytes with its NUL: a copy of a shorter str,
 * else its first shortsize-4 bytes and "...". NULL when shortsize is below 4,
 * str is NULL or allocation fails. */
char *string_truncate_withdots(const char *str, int shortsize) VELMORA_NOEXCEPT;

/* ---- Joining ---------------------------------------------------------- */

/* Joins the NULL-terminated array str into new text, writing delim after
 * every element (the last one included). NULL for a NULL array or when
 * allocation fails. */
char *string_implode(char *const *str, char delim) VELMORA_NOEXCEPT;
/* As string_implode over the first num elements (0 or less: empty text). */
char *string_nimplode(char *const *str, char delim, int num) VELMORA_NOEXCEPT;

/* ---- Escaping ---------------------------------------------------------- */

/* New text with the HTML entities of ISO 8859-1 text ('"', '&', '<', '>' and
 * the bytes 0xA0 to 0xFE) written out. NULL when allocation fails. */
char *string_html_entities(const char *str) VELMORA_NOEXCEPT;
/* New text that a POSIX shell reads as the single word str ('' for an empty
 * str, an empty text for NULL). NULL when allocation fails. */
char *string_escapeshellarg(const char *str) VELMORA_NOEXCEPT;
/* Undoes C-style backslash escapes in place. */
void string_unescape_string(char *string) VELMORA_NOEXCEPT;
/* New text with every double quote removed and backslash escapes converted.
 * NULL when allocation fails. */
char *string_extract_from_quotes(const char *data) VELMORA_NOEXCEPT;
/* Cuts str in place at every space outside double quotes; an exploded array
 * as string_explode gives, or NULL when allocation fails. */
char **string_explode_quotes(char *str) VELMORA_NOEXCEPT;

/* ---- Extraction -------------------------------------------------------- */

/* New 20-character key drawn with random() from letters and digits. */
char *string_security_key(void) VELMORA_NOEXCEPT;
/* New block holding data read by strtol base 10 (0 without digits). */
int64_t *string_extract_number_signed(const char *data) VELMORA_NOEXCEPT;
/* New block holding data read by strtoull base 10. */
uint64_t *string_extract_long_number(const char *data) VELMORA_NOEXCEPT;
uint64_t *string_extract_number(const char *data) VELMORA_NOEXCEPT;
/* Parses a dotted IPv4 address, cutting data in place at its dots. A new
 * block holding the address in host byte order, or NULL. */
uint32_t *string_extract_ip(char *data) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
