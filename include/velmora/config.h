/* Configuration: setting lines read from files (with includes), from program
 * text and from process-wide persistent lines, and typed accessors that read
 * one setting and convert it (numbers, booleans, durations, sizes, addresses,
 * host names, failure mode, thread stack size, CPU placement), plus dumps that
 * write values back as setting lines. */
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

/* Failure modes of config_parse_failure. */
#define CONFIG_FAILURE_DENYPAGE 1
#define CONFIG_FAILURE_SHUTDOWN 2
#define CONFIG_FAILURE_OTHER 3

/* Stack size used when none is configured (2 MiB). */
#define CONFIG_DEFAULT_THREAD_STACKSIZE 2097152

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

/* ---- Converted values of the first line's value token. ---- */

int config_parse_int(void *config, const char *setting, int *value) VELMORA_NOEXCEPT;
int config_parse_longlong(void *config, const char *setting, long long *value) VELMORA_NOEXCEPT;
int config_parse_boolean(void *config, const char *setting, int *value) VELMORA_NOEXCEPT;
int config_parse_sec(void *config, const char *setting, int *value) VELMORA_NOEXCEPT;
int config_parse_msec(void *config, const char *setting, long long *value) VELMORA_NOEXCEPT;
int config_parse_size(void *config, const char *setting, long long *value) VELMORA_NOEXCEPT;
int config_parse_ipaddr(void *config, const char *config_name, qx_ipaddr *ipaddr) VELMORA_NOEXCEPT;
int config_parse_string_hostname(void *config, const char *name, char **value) VELMORA_NOEXCEPT;
int config_parse_denypagehost(void *config, char **value) VELMORA_NOEXCEPT;
/* Always 0; value gets one of the CONFIG_FAILURE_ modes. */
int config_parse_failure(void *config, const char *modulename, int *value) VELMORA_NOEXCEPT;
/* 1 with the default size stored when nothing usable is configured. */
int config_parse_thread_stacksize(void *config, const char *modulename, size_t *value) VELMORA_NOEXCEPT;
/* Always 0; modulename is a plain key prefix. */
int config_parse_cpuinfo(void *config, const char *modulename, qxcpuinfo *cpuinfo) VELMORA_NOEXCEPT;

/* Where the unit word behind a number starts, or NULL without one. */
const char *config_parse_find_name(const char *name) VELMORA_NOEXCEPT;
/* Milliseconds of a duration word, bytes of a size word; 0 when unknown. */
long long config_parse_msec_name(const char *name) VELMORA_NOEXCEPT;
long long config_parse_size_name(const char *name) VELMORA_NOEXCEPT;
/* A new copy of the environment's HOSTNAME. */
int config_get_envhostname(char **value) VELMORA_NOEXCEPT;

/* ---- Dumps: new setting lines (free them), or NULL. ---- */

char *config_dump_cpuinfo(const char *modulename, const qxcpuinfo *cpuinfo) VELMORA_NOEXCEPT;
char *config_dump_thread_stacksize(const char *modulename, size_t value) VELMORA_NOEXCEPT;
char *config_dump_ipaddr(const char *modulename, const qx_ipaddr *ipaddr) VELMORA_NOEXCEPT;

/* ---- Module forms: the key is "module->setting". ---- */

int config_module_parse_line(void *config, const char *module, const char *setting, char **value) VELMORA_NOEXCEPT;
int config_module_parse_token_count(void *config, const char *module, const char *setting, int *value) VELMORA_NOEXCEPT;
int config_module_parse_tokens(void *config, const char *module, const char *setting, char ***value) VELMORA_NOEXCEPT;
char **config_module_parse_tokens_index(void *config, const char *module, const char *setting, int *count,
                                        int index) VELMORA_NOEXCEPT;
char *config_module_parse_string_index(void *config, const char *module, const char *setting,
                                       int index) VELMORA_NOEXCEPT;
int config_module_parse_string(void *config, const char *module, const char *setting, char **value) VELMORA_NOEXCEPT;
int config_module_parse_string_hostname(void *config, const char *module, const char *setting,
                                        char **value) VELMORA_NOEXCEPT;
int config_module_parse_ipaddr(void *config, const char *module, const char *setting,
                               qx_ipaddr *ipaddr) VELMORA_NOEXCEPT;
int config_module_parse_int(void *config, const char *module, const char *setting, int *value) VELMORA_NOEXCEPT;
int config_module_parse_longlong(void *config, const char *module, const char *setting,
                                 long long *value) VELMORA_NOEXCEPT;
int config_module_parse_boolean(void *config, const char *module, const char *setting, int *value) VELMORA_NOEXCEPT;
int config_module_parse_sec(void *config, const char *module, const char *setting, int *value) VELMORA_NOEXCEPT;
int config_module_parse_msec(void *config, const char *module, const char *setting, long long *value) VELMORA_NOEXCEPT;
int config_module_parse_size(void *config, const char *module, const char *setting, long long *value) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
