/* File routines: a buffered line reader over a descriptor, whole-file reading
 * with in-place line cutting, stream and descriptor line readers, and small
 * stat, existence, directory and removal helpers. A line ends at a line feed;
 * a carriage return right before it is removed. */
#ifndef VELMORA_FILE_H
#define VELMORA_FILE_H

#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include "velmora/defs.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Capacity of a new file_buffer, and its read size and growth step. */
#define FILE_BUFFER_INITIAL_SIZE 32768
#define FILE_BUFFER_CHUNK_SIZE 16384

typedef struct file_buffer {
    char *buffer;              /* text read and not yet consumed, NUL-terminated; owned */
    int32_t buffer_size;       /* capacity of buffer */
    int32_t buffer_chunk_size; /* read size and growth step */
    int32_t buffer_len;        /* valid bytes in buffer */
    char *line;                /* line of the last successful read; valid until the next read */
    char *next;                /* where the next line starts; NULL until the first read */
    int32_t fd;                /* descriptor, opened read-only */
} file_buffer;

/* Buffered line reader. */
file_buffer *file_buffer_open(const char *filename) VELMORA_NOEXCEPT;
/* 0 with line set to the next line (cut in place, overwritten by later reads);
 * 1 at the end of the file, on a read error, when the buffer cannot grow or for
 * a NULL buffer. A last line without a line feed is delivered too. */
int file_buffer_read_string(file_buffer *buffer) VELMORA_NOEXCEPT;
/* Reads the rest of the file into the buffer and sets next to the start of the
 * unconsumed text; always 0 (stops early on a read error or allocation failure). */
int file_buffer_read_all(file_buffer *buffer) VELMORA_NOEXCEPT;
/* Lines held in the buffer: its line feeds, plus a last line without one. */
int file_buffer_line_count(file_buffer *buffer) VELMORA_NOEXCEPT;
void file_buffer_close(file_buffer *buffer) VELMORA_NOEXCEPT;

/* The whole file as a new NUL-terminated malloc block; its length is stored
 * through size when given. NULL when the file cannot be examined, opened or
 * held. */
char *file_read_all_size(const char *fname, int32_t *size) VELMORA_NOEXCEPT;
char *file_read_all(const char *fname) VELMORA_NOEXCEPT;
/* Cuts the next line out of an in-memory text in place and advances *buffer
 * past its line feed. NULL (and *buffer unchanged) when no line feed follows:
 * text after the last line feed is not returned. */
char *file_read_all_string(char **buffer) VELMORA_NOEXCEPT;

/* Next line of a stream as a new string without its line end; a last line
 * without a line feed is returned too. NULL at the end of the stream. */
char *file_read_string(FILE *f) VELMORA_NOEXCEPT;
/* Rewinds, counts the lines file_read_string returns, rewinds again. */
int file_line_count(FILE *infile) VELMORA_NOEXCEPT;
/* Bytes up to the next NUL byte as a new string; NULL at the end of the file
 * or on a read error (an unfinished record is dropped). */
char *file_read_string_fd(int fd) VELMORA_NOEXCEPT;

/* fopen that reports a failure to the error log. */
FILE *file_open(const char *file, const char *mode) VELMORA_NOEXCEPT;
/* 0 when the file exists, -1 when not. */
int file_exists(const char *name) VELMORA_NOEXCEPT;
/* The result of stat (0 or -1); -1 for a NULL name. */
int file_stat(const char *name, struct stat *statb) VELMORA_NOEXCEPT;
/* Size in bytes, or -1. */
off_t file_size(const char *fname) VELMORA_NOEXCEPT;
/* Last modification time, or -1. */
time_t file_last_accessed(const char *fname) VELMORA_NOEXCEPT;
/* -1 when path is a directory, else 0. */
int dir_exists(const char *path) VELMORA_NOEXCEPT;
/* -1 when the directory was created, 0 on failure. */
int dir_create(const char *path) VELMORA_NOEXCEPT;
/* Deletes the directory tree at path (expected to end in "/"). Paths shorter
 * than 5 bytes are refused; failures are ignored. Symbolic links are removed,
 * never followed. */
void file_clear_all(const char *path) VELMORA_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif
