// File routines shared by the list loaders and the configuration reader.
#include "velmora/file.h"

#include "velmora/qxlog.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr size_t line_first_block = 501;
constexpr size_t line_growth_step = 500;
constexpr size_t clear_path_capacity = 2000;
constexpr size_t clear_min_path_length = 5;

// Cuts the line that starts at start if a line feed follows before the end of
// the text: the line feed, or a carriage return right before it, becomes NUL.
// Returns the line and sets *after past the line feed, or NULL.
char *cut_line(char *start, char **after)
{
    char *line_feed = std::strchr(start, '\n');
    if (line_feed == nullptr)
        return nullptr;
    if (line_feed > start && line_feed[-1] == '\r')
        line_feed[-1] = '\0';
    else
        *line_feed = '\0';
    *after = line_feed + 1;
    return start;
}

// Moves the text not yet consumed to the start of the buffer; it becomes the
// whole valid text and the next line starts there.
void keep_unconsumed(file_buffer *fb)
{
    if (fb->next != nullptr) {
        int32_t rest = fb->buffer_len - static_cast<int32_t>(fb->next - fb->buffer);
        if (rest > 0)
            std::memmove(fb->buffer, fb->next, static_cast<size_t>(rest));
        fb->buffer_len = rest;
        fb->buffer[rest] = '\0';
    }
    fb->next = fb->buffer;
}

// Makes room for one more chunk behind the valid text; false if the buffer
// cannot grow (it is then left as it was).
bool ensure_chunk_room(file_buffer *fb)
{
    if (fb->buffer_size - fb->buffer_len >= fb->buffer_chunk_size)
        return true;
    if (fb->buffer_size > INT32_MAX - fb->buffer_chunk_size)
        return false;
    int32_t grown = fb->buffer_size + fb->buffer_chunk_size;
    auto *bigger = static_cast<char *>(std::realloc(fb->buffer, static_cast<size_t>(grown)));
    if (bigger == nullptr)
        return false;
    fb->buffer = bigger;
    fb->buffer_size = grown;
    fb->next = bigger;
    return true;
}

// Reads up to one chunk less one byte behind the valid text and keeps the text
// NUL-terminated. Returns the count read, 0 at the end of the file, -1 on error.
ssize_t read_chunk(file_buffer *fb)
{
    ssize_t count;
    do {
        count = read(fb->fd, fb->buffer + fb->buffer_len, static_cast<size_t>(fb->buffer_chunk_size - 1));
    } while (count < 0 && errno == EINTR);
    if (count > 0) {
        fb->buffer_len += static_cast<int32_t>(count);
        fb->buffer[fb->buffer_len] = '\0';
        fb->next = fb->buffer;
    }
    return count;
}

// At the end of the file the unconsumed text is the last line, which lacked a
// line feed. Text holding a NUL byte is not a line: a NUL ends line delivery.
int deliver_last_line(file_buffer *fb)
{
    size_t length = std::strlen(fb->next);
    if (length == 0 || length != static_cast<size_t>(fb->buffer_len - (fb->next - fb->buffer)))
        return 1;
    if (fb->next[length - 1] == '\r')
        fb->next[length - 1] = '\0';
    fb->line = fb->next;
    fb->next += length;
    return 0;
}

bool chunk_size_usable(const file_buffer *fb)
{
    return fb->buffer_chunk_size >= 2;
}

// A string built one byte at a time in a malloc block that starts at 501 bytes
// and grows by 500; allocation failures are reported under the given name.
class GrowingText {
public:
    GrowingText() noexcept : text_(static_cast<char *>(std::malloc(line_first_block)))
    {
        if (text_ == nullptr)
            qxlog_send(QXLOG_ERROR, "Failed on Malloc, file_read_string\n");
        else
            capacity_ = line_first_block;
    }
    GrowingText(const GrowingText &) = delete;
    GrowingText &operator=(const GrowingText &) = delete;
    ~GrowingText() { std::free(text_); }

    bool usable() const { return text_ != nullptr; }
    size_t length() const { return length_; }

    bool append(char byte) noexcept
    {
        if (length_ + 1 >= capacity_ && !grow())
            return false;
        text_[length_++] = byte;
        return true;
    }

    void drop_trailing(char byte)
    {
        if (length_ > 0 && text_[length_ - 1] == byte)
            length_--;
    }

    // Hands the NUL-terminated text to the caller.
    char *release()
    {
        text_[length_] = '\0';
        char *text = text_;
        text_ = nullptr;
        return text;
    }

private:
    bool grow() noexcept
    {
        auto *bigger = static_cast<char *>(std::realloc(text_, capacity_ + line_growth_step));
        if (bigger == nullptr) {
            qxlog_send(QXLOG_ERROR, "Failed on realloc, file_read_string\n");
            return false;
        }
        text_ = bigger;
        capacity_ += line_growth_step;
        return true;
    }

    char *text_;
    size_t capacity_ = 0;
    size_t length_ = 0;
};

bool is_directory(const struct stat &st)
{
    return (st.st_mode & S_IFMT) == S_IFDIR;
}

// A symbolic link counts as a plain entry: removing the tree must never follow
// a link out of it.
bool is_real_directory(const char *path)
{
    struct stat st;
    return lstat(path, &st) == 0 && is_directory(st);
}

bool is_dot_entry(const char *name)
{
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

// path holds a directory path ending in '/' of length length, inside a buffer
// of clear_path_capacity bytes that every level of the recursion shares.
void clear_tree(char *path, size_t length)
{
    DIR *dir = opendir(path);
    if (dir == nullptr)
        return;
    while (const struct dirent *entry = readdir(dir)) {
        if (is_dot_entry(entry->d_name))
            continue;
        size_t name_length = std::strlen(entry->d_name);
        // Room for the name, a '/' and the NUL; a longer entry is left in place.
        if (length + name_length + 2 > clear_path_capacity)
            continue;
        std::memcpy(path + length, entry->d_name, name_length + 1);
        if (is_real_directory(path)) {
            path[length + name_length] = '/';
            path[length + name_length + 1] = '\0';
            clear_tree(path, length + name_length + 1);
        } else {
            std::remove(path);
        }
        path[length] = '\0';
    }
    closedir(dir);
    std::remove(path);
}

const char *printable(const char *text)
{
    return text != nullptr ? text : "(null)";
}

} // namespace

extern "C" {

file_buffer *file_buffer_open(const char *filename) noexcept
{
    if (filename == nullptr)
        return nullptr;
    auto *fb = static_cast<file_buffer *>(std::calloc(1, sizeof(file_buffer)));
    if (fb == nullptr)
        return nullptr;
    fb->buffer = static_cast<char *>(std::malloc(FILE_BUFFER_INITIAL_SIZE));
    if (fb->buffer == nullptr) {
        std::free(fb);
        return nullptr;
    }
    fb->fd = open(filename, O_RDONLY | O_CLOEXEC);
    if (fb->fd < 0) {
        std::free(fb->buffer);
        std::free(fb);
        return nullptr;
    }
    fb->buffer[0] = '\0';
    fb->buffer_size = FILE_BUFFER_INITIAL_SIZE;
    fb->buffer_chunk_size = FILE_BUFFER_CHUNK_SIZE;
    return fb;
}

int file_buffer_read_string(file_buffer *buffer) noexcept
{
    if (buffer == nullptr || buffer->buffer == nullptr || !chunk_size_usable(buffer))
        return 1;
    for (;;) {
        if (buffer->next != nullptr) {
            char *after = nullptr;
            char *line = cut_line(buffer->next, &after);
            if (line != nullptr) {
                buffer->line = line;
                buffer->next = after;
                return 0;
            }
        }
        keep_unconsumed(buffer);
        if (!ensure_chunk_room(buffer))
            return 1;
        ssize_t count = read_chunk(buffer);
        if (count < 0)
            return 1;
        if (count == 0)
            return deliver_last_line(buffer);
    }
}

int file_buffer_read_all(file_buffer *buffer) noexcept
{
    if (buffer == nullptr || buffer->buffer == nullptr || !chunk_size_usable(buffer))
        return 0;
    // Consumed lines are dropped first, so next marks the first unread line.
    keep_unconsumed(buffer);
    while (ensure_chunk_room(buffer) && read_chunk(buffer) > 0) {
    }
    buffer->next = buffer->buffer;
    return 0;
}

// A last line without a line feed counts, as file_buffer_read_string delivers
// it; text after a NUL byte does not.
int file_buffer_line_count(file_buffer *buffer) noexcept
{
    if (buffer == nullptr || buffer->buffer == nullptr)
        return 0;
    int lines = 0;
    const char *piece_start = buffer->buffer;
    const char *end = buffer->buffer + buffer->buffer_len;
    for (const char *p = buffer->buffer; p < end; p++) {
        if (*p == '\n') {
            lines++;
            piece_start = p + 1;
        }
    }
    if (piece_start < end && std::memchr(piece_start, '\0', static_cast<size_t>(end - piece_start)) == nullptr)
        lines++;
    return lines;
}

void file_buffer_close(file_buffer *buffer) noexcept
{
    if (buffer == nullptr)
        return;
    std::free(buffer->buffer);
    if (buffer->fd >= 0)
        close(buffer->fd);
    std::free(buffer);
}

// When the file yields fewer bytes than stat reported (it shrank meanwhile),
// the block holds what was read, NUL-terminated, and size reports that count.
// Files too large for a 32-bit size are refused.
char *file_read_all_size(const char *fname, int32_t *size) noexcept
{
    struct stat st;
    if (fname == nullptr || stat(fname, &st) != 0)
        return nullptr;
    if (st.st_size < 0 || st.st_size > INT32_MAX - 1)
        return nullptr;
    FILE *f = std::fopen(fname, "r");
    if (f == nullptr)
        return nullptr;
    auto expected = static_cast<size_t>(st.st_size);
    auto *block = static_cast<char *>(std::malloc(expected + 1));
    if (block == nullptr) {
        std::fclose(f);
        return nullptr;
    }
    size_t got = std::fread(block, 1, expected, f);
    std::fclose(f);
    block[got] = '\0';
    if (size != nullptr)
        *size = static_cast<int32_t>(got);
    return block;
}

char *file_read_all(const char *fname) noexcept
{
    return file_read_all_size(fname, nullptr);
}

char *file_read_all_string(char **buffer) noexcept
{
    if (buffer == nullptr || *buffer == nullptr)
        return nullptr;
    char *after = nullptr;
    char *line = cut_line(*buffer, &after);
    if (line != nullptr)
        *buffer = after;
    return line;
}

char *file_read_string(FILE *f) noexcept
{
    if (f == nullptr)
        return nullptr;
    GrowingText text;
    if (!text.usable())
        return nullptr;
    int c;
    while ((c = std::getc(f)) != EOF && c != '\n') {
        if (!text.append(static_cast<char>(c)))
            return nullptr;
    }
    // A last line without a line feed still counts; a read error drops it.
    if (c == EOF && (text.length() == 0 || std::ferror(f)))
        return nullptr;
    text.drop_trailing('\r');
    return text.release();
}

int file_line_count(FILE *infile) noexcept
{
    if (infile == nullptr)
        return 0;
    std::rewind(infile);
    int lines = 0;
    while (char *line = file_read_string(infile)) {
        std::free(line);
        lines++;
    }
    std::rewind(infile);
    return lines;
}

char *file_read_string_fd(int fd) noexcept
{
    GrowingText text;
    if (!text.usable())
        return nullptr;
    for (;;) {
        char byte;
        ssize_t count = read(fd, &byte, 1);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return nullptr;
        if (byte == '\0')
            return text.release();
        if (!text.append(byte))
            return nullptr;
    }
}

FILE *file_open(const char *file, const char *mode) noexcept
{
    FILE *f = (file != nullptr && mode != nullptr) ? std::fopen(file, mode) : nullptr;
    if (f == nullptr)
        qxlog_send(QXLOG_ERROR, "Could not open file %s mode %s\n", printable(file), printable(mode));
    return f;
}

int file_exists(const char *name) noexcept
{
    struct stat st;
    return file_stat(name, &st) == 0 ? 0 : -1;
}

int file_stat(const char *name, struct stat *statb) noexcept
{
    if (name == nullptr || statb == nullptr)
        return -1;
    return stat(name, statb);
}

off_t file_size(const char *fname) noexcept
{
    struct stat st;
    if (file_stat(fname, &st) != 0)
        return -1;
    return st.st_size;
}

time_t file_last_accessed(const char *fname) noexcept
{
    struct stat st;
    if (file_stat(fname, &st) != 0)
        return -1;
    return st.st_mtime;
}

int dir_exists(const char *path) noexcept
{
    struct stat st;
    return file_stat(path, &st) == 0 && is_directory(st) ? -1 : 0;
}

int dir_create(const char *path) noexcept
{
    if (path == nullptr)
        return 0;
    return mkdir(path, 0777) == 0 ? -1 : 0;
}

// A path without its final '/' gets one, so that entry paths are composed
// inside the directory and never name a sibling of it. A path that does not fit
// the 2000-byte path buffer is left alone.
void file_clear_all(const char *path) noexcept
{
    if (path == nullptr)
        return;
    size_t length = std::strlen(path);
    if (length < clear_min_path_length || length + 2 > clear_path_capacity)
        return;
    char composed[clear_path_capacity];
    std::memcpy(composed, path, length + 1);
    if (composed[length - 1] != '/') {
        composed[length++] = '/';
        composed[length] = '\0';
    }
    clear_tree(composed, length);
}

} // extern "C"
