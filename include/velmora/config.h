/* Configuration: setting lines read from files (with includes), from program
 * text and from process-wide persistent lines. */
#ifndef VELMORA_CONFIG_H
#define VELMORA_CONFIG_H

#include <stddef.h>
#include <stdint.h>

#include "velmora/common.h"
#include "velmora/defs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One stored line: "key value...". */
typedef struct configuration_item {
    char **tokens;       /* NULL-terminated tokens pointing into tokens_line */
    char *tokens_line;   /* private copy of the line, cut in place at every space */
    int32_t token_count; /* number of tokens, key included (at least 1) */
    char *line;          /* private copy of the text after the first space; NULL without one */
} configuration_item;

/* The store of a configuration; callers hold it as void *. */
typedef struct configuration configuration;

/* ---- Store: 0 success, 1 failure unless stated. ---- */

/* A new configuration holding the persistent lines, or NULL. */
void *config_configuration_create(void) VELMORA_NOEXCEPT;
void config_configuration_free(void *config) VELMORA_NOEXCEPT;
/* Reads a configuration file and the files it includes. */
int config_configuration_readfile(void *config, const char *filename) VELMORA_NOEXCEPT;
/* Adds one line formatted as by printf. */
int config_configuration_add_line(void *config, const char *format, ...) VELMORA_NOEXCEPT
#if defined(__GNUC__)
    __attribute__((format(printf, 2, 3)))
#endif
    ;
/* Cuts lines at every line feed in place and adds each, first to last. */
int config_configuration_add_lines(void *config, char *lines) VELMORA_NOEXCEPT;
/* Removes every line of the key whose value equals the given line's value. */
int config_configuration_remove_line(void *config, const char *line) VELMORA_NOEXCEPT;
/* Appends a malloc'd line to the persistent lines, which then own it; on
 * failure the caller keeps it. */
int config_persistant_add_line(char *line) VELMORA_NOEXCEPT;
/* Frees the persistent lines; configurations already created keep theirs. */
void config_persistant_terminate(void) VELMORA_NOEXCEPT;

/* ---- Raw access to the first line of a key (or line number index). ---- */

int config_parse_line(void *config, const char *setting, char **value) VELMORA_NOEXCEPT;
int config_parse_token_count(void *config, const char *setting, int *value) VELMORA_NOEXCEPT;
/* The token array is not a copy: it belongs to the configuration. */
int config_parse_tokens(void *config, const char *setting, char ***value) VELMORA_NOEXCEPT;
char **config_parse_tokens_index(void *config, const char *setting, int *count, int index) VELMORA_NOEXCEPT;
char *config_parse_string_index(void *config, const char *setting, int index) VELMORA_NOEXCEPT;
int config_parse_string(void *config, const char *setting, char **value) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
