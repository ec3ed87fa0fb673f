#include "velmora_cli/list_loader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "velmora/file.h"

namespace velmora_cli {

namespace {

// Files below this size load too fast for a progress bar to help.
constexpr long long kProgressMinBytes = 1 << 20;
constexpr int kProgressWidth = 40;

// A bar on standard error, redrawn when the percentage changes; only when
// standard error is a terminal and the file is large.
class ProgressBar {
public:
    ProgressBar(const std::string &name, long long size)
        : name_(name), size_(size), enabled_(size >= kProgressMinBytes && isatty(STDERR_FILENO) == 1)
    {
    }
    ProgressBar(const ProgressBar &) = delete;
    ProgressBar &operator=(const ProgressBar &) = delete;
    ~ProgressBar()
    {
        if (enabled_ && shown_ >= 0)
            std::fprintf(stderr, "\r\033[K");
    }

    void advance(long long bytes)
    {
        if (!enabled_)
            return;
        done_ += bytes;
        int percent = static_cast<int>(done_ * 100 / size_);
        if (percent > 100)
            percent = 100;
        if (percent == shown_)
            return;
        shown_ = percent;
        int filled = percent * kProgressWidth / 100;
        std::fprintf(stderr, "\rloading %s [%.*s%*s] %3d%%", name_.c_str(), filled,
                     "########################################", kProgressWidth - filled, "", percent);
        std::fflush(stderr);
    }

private:
    std::string name_;
    long long size_;
    bool enabled_;
    long long done_ = 0;
    int shown_ = -1;
};

struct FileBufferClose {
    void operator()(file_buffer *b) const noexcept { file_buffer_close(b); }
};

bool is_blank_or_comment(const char *line)
{
    return line[0] == '\0' || line[0] == '#';
}

// The list's counters before a line, to see what the line did.
struct Counters {
    int loaded;
    int total;
};

Counters counters_of(const URLLIST &list)
{
    return {list.loaded_count, list.total_count};
}

// Loads one line. A line that loads no entry is reported: a failed entry (the
// library has already said why on standard error), a line with a single field,
// a category list without numbers, or a line the hint skips.
bool load_line(URLLIST &list, char *line, int hint, const std::string &file, long lineno, std::string &copy)
{
    copy.assign(line);
    Counters before = counters_of(list);
    int rc = urllist_add_line(&list, line, hint);
    Counters after = counters_of(list);
    if (rc == 0 && after.loaded > before.loaded)
        return true;
    std::fprintf(stderr, "velmora: %s:%ld: not loaded: %s\n", file.c_str(), lineno, copy.c_str());
    return false;
}

// Loads one file; false with the reason when it cannot be read.
bool load_file(URLLIST &list, const std::string &file, int hint, long &not_loaded, std::string &failure)
{
    struct stat st {};
    int error = stat(file.c_str(), &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
    std::unique_ptr<file_buffer, FileBufferClose> reader;
    if (error == 0) {
        reader.reset(file_buffer_open(file.c_str()));
        error = reader ? 0 : (errno != 0 ? errno : EIO);
    }
    if (error != 0) {
        failure = "cannot read list '" + file + "': " + std::strerror(error);
        return false;
    }
    ProgressBar bar(file, static_cast<long long>(st.st_size));
    std::string copy;
    long lineno = 0;
    while (file_buffer_read_string(reader.get()) == 0) {
        char *line = reader->line;
        lineno++;
        bar.advance(static_cast<long long>(std::strlen(line)) + 1);
        if (!is_blank_or_comment(line) && !load_line(list, line, hint, file, lineno, copy))
            not_loaded++;
    }
    return true;
}

struct KindCounter {
    const char *name;
    int URLLIST::*loaded;
    int URLLIST::*total;
};

constexpr KindCounter kKinds[] = {
    {"url", &URLLIST::loaded_url_count, &URLLIST::total_url_count},
    {"scheme", &URLLIST::loaded_scheme_count, &URLLIST::total_scheme_count},
    {"path", &URLLIST::loaded_path_count, &URLLIST::total_path_count},
    {"query", &URLLIST::loaded_query_count, &URLLIST::total_query_count},
    {"regexp", &URLLIST::loaded_regexp_count, &URLLIST::total_regexp_count},
    {"extension", &URLLIST::loaded_ext_count, &URLLIST::total_ext_count},
    {"keyword", &URLLIST::loaded_keyword_count, &URLLIST::total_keyword_count},
    {"multi-keyword", &URLLIST::loaded_multi_keyword_count, &URLLIST::total_multi_keyword_count},
    {"word", &URLLIST::loaded_word_count, &URLLIST::total_word_count},
    {"multi-word", &URLLIST::loaded_multi_word_count, &URLLIST::total_multi_word_count},
    {"digest", &URLLIST::loaded_digest_count, &URLLIST::total_digest_count},
    {"event-type", &URLLIST::loaded_eventtype_count, &URLLIST::total_eventtype_count},
};

} // namespace

LoadResult load_lists(const std::vector<std::string> &files, int hint)
{
    LoadResult result;
    UrlListPtr list(urllist_initialize(0));
    if (!list) {
        result.failure = "out of memory";
        return result;
    }
    for (const std::string &file : files) {
        if (!load_file(*list, file, hint, result.lines_not_loaded, result.failure))
            return result;
    }
    result.list = std::move(list);
    return result;
}

void print_load_summary(const URLLIST &list, size_t files, long lines_not_loaded)
{
    std::fprintf(stderr, "velmora: loaded %d of %d entries from %zu list%s", list.loaded_count, list.total_count,
                 files, files == 1 ? "" : "s");
    const char *separator = ": ";
    for (const KindCounter &kind : kKinds) {
        if (list.*kind.total == 0)
            continue;
        std::fprintf(stderr, "%s%s %d/%d", separator, kind.name, list.*kind.loaded, list.*kind.total);
        separator = ", ";
    }
    if (list.default_data != nullptr)
        std::fprintf(stderr, "%sdefault entry", separator);
    std::fprintf(stderr, "\n");
    if (lines_not_loaded > 0)
        std::fprintf(stderr, "velmora: %ld line%s not loaded\n", lines_not_loaded, lines_not_loaded == 1 ? "" : "s");
}

} // namespace velmora_cli
