// Configuration store and file reader: setting lines kept per key in the order
// they were added, read from files with nested includes, from program text and
// from the process-wide persistent lines.
#include "velmora/config.h"

#include "internal/config_store.h"
#include "velmora/file.h"
#include "velmora/qxlog.h"
#include "velmora/qxstring.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct ItemFree {
    void operator()(configuration_item *item) const noexcept
    {
        std::free(item->tokens);
        std::free(item->tokens_line);
        std::free(item->line);
        std::free(item);
    }
};
using ItemPtr = std::unique_ptr<configuration_item, ItemFree>;

struct TextFree {
    void operator()(char *text) const noexcept { std::free(text); }
};
using OwnedText = std::unique_ptr<char, TextFree>;

// A file that includes itself, directly or through others, would recurse
// without end: the include lines of a file at this nesting level (the top
// file being level 0) are refused with a message.
constexpr int max_include_depth = 4;

constexpr char include_word[] = "include ";
constexpr size_t include_word_length = sizeof include_word - 1;

// Copies the line, splits the copy at every space and copies the value (the
// text after the first space). nullptr when an allocation fails.
ItemPtr make_item(const char *text) noexcept
{
    ItemPtr item(static_cast<configuration_item *>(std::calloc(1, sizeof(configuration_item))));
    if (!item)
        return nullptr;
    item->tokens_line = strdup(text);
    if (item->tokens_line == nullptr)
        return nullptr;
    item->tokens = string_explode(item->tokens_line, ' ');
    if (item->tokens == nullptr)
        return nullptr;
    while (item->tokens[item->token_count] != nullptr)
        item->token_count++;
    if (const char *space = std::strchr(text, ' ')) {
        item->line = strdup(space + 1);
        if (item->line == nullptr)
            return nullptr;
    }
    return item;
}

} // namespace

// Items of one key keep the order in which they were added: the first counts.
struct configuration {
    std::map<std::string, std::vector<ItemPtr>, std::less<>> tree;
};

namespace {

std::optional<std::vector<OwnedText>> persistent_lines;

configuration *as_configuration(void *config) noexcept
{
    return static_cast<configuration *>(config);
}

// 0 when the line was stored under its key, 1 on allocation failure.
int add_verbatim(configuration &config, const char *text) noexcept
{
    ItemPtr item = make_item(text);
    if (!item)
        return 1;
    try {
        auto [slot, created] = config.tree.try_emplace(item->tokens[0]);
        try {
            slot->second.push_back(std::move(item));
        } catch (const std::bad_alloc &) {
            if (created)
                config.tree.erase(slot);
            return 1;
        }
    } catch (const std::bad_alloc &) {
        return 1;
    }
    return 0;
}

int add_persistent_lines(configuration &config) noexcept
{
    if (!persistent_lines)
        return 0;
    for (const OwnedText &line : *persistent_lines) {
        if (add_verbatim(config, line.get()) != 0)
            return 1;
    }
    return 0;
}

// The next line of a file's text, cut in place; the last line counts even
// without a line feed. A carriage return left inside a line ends it there.
char *next_file_line(char **cursor) noexcept
{
    char *line = file_read_all_string(cursor);
    if (line == nullptr) {
        if (**cursor == '\0')
            return nullptr;
        line = *cursor;
        *cursor += std::strlen(line);
    }
    line[std::strcspn(line, "\r")] = '\0';
    return line;
}

int read_file(configuration &config, const char *filename, int depth);

// The file an include names: as given if readable, else beside the including
// file. Empty when neither can be read.
std::string locate_include(const char *name, const char *including)
{
    if (access(name, R_OK) == 0)
        return name;
    const char *slash = std::strrchr(including, '/');
    if (slash == nullptr)
        return {};
    std::string beside(including, static_cast<size_t>(slash + 1 - including));
    beside += name;
    if (access(beside.c_str(), R_OK) == 0)
        return beside;
    return {};
}

// Reads the file named by the second word of an include line into the same
// configuration. An include that cannot be found is skipped silently and the
// included file's own result does not matter to the including file.
void process_include(configuration &config, char *line, const char *including, int depth)
{
    char *name = line + include_word_length;
    name[std::strcspn(name, " ")] = '\0';
    // An empty name (two spaces after the word) names nothing; without this it
    // would resolve to the including file's directory.
    if (*name == '\0')
        return;
    std::string path = locate_include(name, including);
    if (path.empty())
        return;
    if (depth >= max_include_depth) {
        qxlog_send(QXLOG_ERROR, "Could not include configuration file '%s': includes nested deeper than %d levels.\n",
                   path.c_str(), max_include_depth);
        return;
    }
    (void)read_file(config, path.c_str(), depth + 1);
}

// Blank lines and comments are skipped, include lines processed, any other
// line is stored from its first non-blank character on.
int process_file_line(configuration &config, char *line, const char *filename, int depth)
{
    while (std::isspace(static_cast<unsigned char>(*line)))
        line++;
    if (*line == '\0' || *line == '#')
        return 0;
    if (std::strncmp(line, include_word, include_word_length) == 0) {
        process_include(config, line, filename, depth);
        return 0;
    }
    return add_verbatim(config, line);
}

int read_file(configuration &config, const char *filename, int depth)
{
    OwnedText text(file_read_all(filename));
    if (!text) {
        qxlog_send(QXLOG_ERROR, "Could not open configuration file '%s'.\n", filename);
        return 1;
    }
    char *cursor = text.get();
    while (char *line = next_file_line(&cursor)) {
        if (process_file_line(config, line, filename, depth) != 0)
            return 1;
    }
    return 0;
}

} // namespace

namespace velmora {

const configuration_item *config_find_item(void *config, const char *key, int index) noexcept
{
    if (config == nullptr || key == nullptr || index < 0)
        return nullptr;
    const auto &tree = as_configuration(config)->tree;
    auto found = tree.find(std::string_view(key));
    if (found == tree.end() || static_cast<size_t>(index) >= found->second.size())
        return nullptr;
    return found->second[static_cast<size_t>(index)].get();
}

int config_copy_out(const char *text, char **value) noexcept
{
    char *copy = strdup(text);
    if (copy == nullptr)
        return 1;
    *value = copy;
    return 0;
}

const char *config_value_token(void *config, const char *key) noexcept
{
    const configuration_item *item = config_find_item(config, key);
    if (item == nullptr || item->token_count < 2)
        return nullptr;
    return item->tokens[1];
}

} // namespace velmora

using velmora::config_copy_out;
using velmora::config_find_item;
using velmora::config_value_token;

extern "C" {

void *config_configuration_create(void) noexcept
{
    auto *config = new (std::nothrow) configuration;
    if (config == nullptr)
        return nullptr;
    if (add_persistent_lines(*config) != 0) {
        delete config;
        return nullptr;
    }
    return config;
}

void config_configuration_free(void *config) noexcept
{
    delete as_configuration(config);
}

int config_configuration_readfile(void *config, const char *filename) noexcept
{
    if (config == nullptr || filename == nullptr)
        return 1;
    try {
        return read_file(*as_configuration(config), filename, 0);
    } catch (const std::bad_alloc &) {
        return 1;
    }
}

int config_configuration_add_line(void *config, const char *format, ...) noexcept
{
    if (config == nullptr || format == nullptr)
        return 1;
    char *text = nullptr;
    va_list ap;
    va_start(ap, format);
    int length = vasprintf(&text, format, ap);
    va_end(ap);
    if (length < 0)
        return 1;
    OwnedText owned(text);
    return add_verbatim(*as_configuration(config), owned.get());
}

int config_configuration_add_lines(void *config, char *lines) noexcept
{
    if (config == nullptr || lines == nullptr)
        return 1;
    // An empty text holds no line, just as nothing follows a final line feed.
    char *piece = lines;
    while (*piece != '\0') {
        char *line_feed = std::strchr(piece, '\n');
        if (line_feed != nullptr)
            *line_feed = '\0';
        if (add_verbatim(*as_configuration(config), piece) != 0)
            return 1;
        if (line_feed == nullptr)
            break;
        piece = line_feed + 1;
    }
    return 0;
}

int config_configuration_remove_line(void *config, const char *line) noexcept
{
    if (config == nullptr || line == nullptr)
        return 1;
    ItemPtr probe = make_item(line);
    // A line without a value matches nothing, stored or given.
    if (!probe || probe->line == nullptr)
        return 1;
    auto &tree = as_configuration(config)->tree;
    auto found = tree.find(std::string_view(probe->tokens[0]));
    if (found == tree.end())
        return 1;
    auto removed = std::erase_if(found->second, [&probe](const ItemPtr &item) {
        return item->line != nullptr && std::strcmp(item->line, probe->line) == 0;
    });
    if (found->second.empty())
        tree.erase(found);
    return removed > 0 ? 0 : 1;
}

int config_persistant_add_line(char *line) noexcept
{
    try {
        if (!persistent_lines)
            persistent_lines.emplace();
        if (line == nullptr)
            return 1;
        // Reserving first keeps the append itself from failing, so the list
        // owns the line exactly when 0 is returned.
        if (persistent_lines->size() == persistent_lines->capacity())
            persistent_lines->reserve(2 * persistent_lines->size() + 4);
        persistent_lines->emplace_back(line);
    } catch (const std::bad_alloc &) {
        return 1;
    }
    return 0;
}

void config_persistant_terminate(void) noexcept
{
    persistent_lines.reset();
}

/* ---- Raw access ---- */

int config_parse_line(void *config, const char *setting, char **value) noexcept
{
    const configuration_item *item = config_find_item(config, setting);
    if (item == nullptr || item->line == nullptr || value == nullptr)
        return 1;
    return config_copy_out(item->line, value);
}

int config_parse_token_count(void *config, const char *setting, int *value) noexcept
{
    const configuration_item *item = config_find_item(config, setting);
    if (item == nullptr || value == nullptr)
        return 1;
    *value = item->token_count;
    return 0;
}

int config_parse_tokens(void *config, const char *setting, char ***value) noexcept
{
    const configuration_item *item = config_find_item(config, setting);
    if (item == nullptr || value == nullptr)
        return 1;
    *value = item->tokens;
    return 0;
}

char **config_parse_tokens_index(void *config, const char *setting, int *count, int index) noexcept
{
    const configuration_item *item = config_find_item(config, setting, index);
    if (item == nullptr)
        return nullptr;
    if (count != nullptr)
        *count = item->token_count;
    return item->tokens;
}

char *config_parse_string_index(void *config, const char *setting, int index) noexcept
{
    const configuration_item *item = config_find_item(config, setting, index);
    if (item == nullptr || item->token_count < 2 || item->tokens[1][0] == '\0')
        return nullptr;
    return item->tokens[1];
}

int config_parse_string(void *config, const char *setting, char **value) noexcept
{
    const char *token = config_value_token(config, setting);
    if (token == nullptr || value == nullptr)
        return 1;
    return config_copy_out(token, value);
}

} // extern "C"
