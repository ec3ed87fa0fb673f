// Log sessions: filters built from "filter=" words, rings of recent entries,
// session sets keyed by name in the order the sessions were added, and the
// calls that attach sessions to the log channels.
#include "velmora/logsession.h"

#include "internal/malloc_ptr.h"
#include "internal/regex_size.h"
#include "velmora/qxstring.h"
#include "velmora/qxtime.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

constexpr const char *session_filter_token = "filter=";

unsigned long signed_byte(char c)
{
    // Bytes count as signed, so a byte of 0x80 or more sets every higher bit.
    return static_cast<unsigned long>(static_cast<long>(static_cast<signed char>(c)));
}

unsigned long hash_name(std::string_view name)
{
    if (name.empty())
        return 1;
    if (name.size() == 1)
        return signed_byte(name[0]);
    size_t last = name.size() - 1;
    return signed_byte(name[0]) << 24 | signed_byte(name[1]) << 16 | signed_byte(name[last - 1]) << 8 |
           signed_byte(name[last]);
}

time_t now()
{
    return __atomic_load_n(&current_time, __ATOMIC_RELAXED);
}

// Holds mutex for its scope; a null mutex stands for an unlocked owner.
class OptionalLock {
public:
    explicit OptionalLock(pthread_mutex_t *mutex) noexcept : mutex_(mutex)
    {
        if (mutex_ != nullptr)
            pthread_mutex_lock(mutex_);
    }
    ~OptionalLock()
    {
        if (mutex_ != nullptr)
            pthread_mutex_unlock(mutex_);
    }
    OptionalLock(const OptionalLock &) = delete;
    OptionalLock &operator=(const OptionalLock &) = delete;

private:
    pthread_mutex_t *mutex_;
};

pthread_mutex_t *set_mutex(logsession_set_t *set)
{
    return set->locked_set != 0 ? &set->lock : nullptr;
}

pthread_mutex_t *session_mutex(logsession_t *session)
{
    return session->locked_session != 0 ? &session->lock : nullptr;
}

// ---- Filters ------------------------------------------------------------

struct FilterSources {
    std::string match;
    std::string negate;
};

void add_alternative(std::string &source, const char *alternative)
{
    source += source.empty() ? '(' : '|';
    source += alternative;
}

// The words of a query, split at single spaces; words points into text.
struct QueryWords {
    velmora::MallocPtr<char> text;
    velmora::MallocPtr<char *> words;

    // Calls take(rest) with what follows token in every word that starts with it.
    template <typename Take>
    void for_each_token_word(const char *token, Take take) const
    {
        size_t token_len = std::strlen(token);
        for (char **word = words.get(); *word != nullptr; word++) {
            if (std::strncmp(*word, token, token_len) == 0)
                take(*word + token_len);
        }
    }
};

// Logs the parse on the debug channel; false when memory is short.
bool read_query_words(const char *query, const char *token, QueryWords &parsed)
{
    qxlog_send(QXLOG_DEBUG, "Logsession: Parsing for token %s from query %s\n", token, query);
    parsed.text.reset(strdup(query));
    if (parsed.text == nullptr)
        return false;
    parsed.words.reset(string_explode(parsed.text.get(), ' '));
    return parsed.words != nullptr;
}

// "token!x" is a negate alternative, "tokenx" a match alternative; words with
// nothing after the token (or after the "!") add nothing.
FilterSources collect_sources(const QueryWords &query, const char *token)
{
    FilterSources sources;
    query.for_each_token_word(token, [&sources](const char *rest) {
        if (*rest == '!') {
            if (rest[1] != '\0')
                add_alternative(sources.negate, rest + 1);
        } else if (*rest != '\0') {
            add_alternative(sources.match, rest);
        }
    });
    if (!sources.match.empty())
        sources.match += ')';
    if (!sources.negate.empty())
        sources.negate += ')';
    return sources;
}

bool compile_expression(regex_t *expression, const std::string &source, bool negate)
{
    // Queries come from outside; a pattern whose compiled form would take
    // gigabytes is refused like one that does not compile.
    const bool too_large = velmora::regex_too_large(source.c_str());
    int rc = too_large ? REG_ESIZE : regcomp(expression, source.c_str(), REG_EXTENDED | REG_ICASE | REG_NOSUB);
    if (rc == 0)
        return true;
    char reason[128];
    if (too_large)
        std::snprintf(reason, sizeof reason, "%s", "expression too large");
    else
        regerror(rc, expression, reason, sizeof reason);
    if (negate)
        qxlog_send(QXLOG_ERROR, "Logsession: Failed to compile negate regular expression %s: %s\n", source.c_str(),
                   reason);
    else
        qxlog_send(QXLOG_ERROR, "Logsession: Failed to compile match regular expression %s: %s\n", source.c_str(),
                   reason);
    return false;
}

// Compiles source into expression and keeps a copy of source in *kept; an
// empty source leaves both unset. False when it does not compile or memory is
// short.
bool set_expression(char **kept, regex_t *expression, const std::string &source, bool negate)
{
    if (source.empty())
        return true;
    velmora::MallocPtr<char> copy(strdup(source.c_str()));
    if (copy == nullptr || !compile_expression(expression, source, negate))
        return false;
    if (!negate)
        qxlog_send(QXLOG_DEBUG, "Logsession: Created match regular expression for regular exp %s\n", source.c_str());
    *kept = copy.release();
    return true;
}

logsession_filter *compile_filter(const FilterSources &sources)
{
    auto *filter = static_cast<logsession_filter *>(std::calloc(1, sizeof(logsession_filter)));
    if (filter == nullptr)
        return nullptr;
    if (!set_expression(&filter->regstr_match, &filter->regexp_match, sources.match, false) ||
        !set_expression(&filter->regstr_negate, &filter->regexp_negate, sources.negate, true)) {
        logsession_filter_free(filter);
        return nullptr;
    }
    return filter;
}

// ---- Rings --------------------------------------------------------------

// Bytes of entry a ring keeps: up to bytes (or the text's end), cut after the
// first line feed.
size_t stored_length(const char *entry, size_t bytes)
{
    size_t len = strnlen(entry, bytes);
    const void *line_end = std::memchr(entry, '\n', len);
    return line_end != nullptr ? static_cast<size_t>(static_cast<const char *>(line_end) - entry) + 1 : len;
}

void put_in_ring(logsession_t *session, char *text)
{
    std::free(session->entries[session->pointer]);
    session->entries[session->pointer] = text;
    session->pointer = (session->pointer + 1) % session->max_entries;
    if (++session->count > session->max_entries) {
        session->overflow++;
        session->count = session->max_entries;
    }
}

// Stores len bytes of text followed by suffix; a failed copy stores nothing.
void store_entry(logsession_t *session, const char *text, size_t len, const char *suffix)
{
    size_t suffix_len = std::strlen(suffix);
    auto *copy = static_cast<char *>(std::malloc(len + suffix_len + 1));
    if (copy == nullptr)
        return;
    std::memcpy(copy, text, len);
    std::memcpy(copy + len, suffix, suffix_len + 1);
    OptionalLock lock(session_mutex(session));
    put_in_ring(session, copy);
}

// An entry longer than the session keeps is cut to its first buffer_size - 4
// bytes and "..."; a line feed within those bytes ends it earlier, since a
// ring keeps one line per entry.
void insert_text(logsession_t *session, const char *entry, int bytes)
{
    size_t len = strnlen(entry, static_cast<size_t>(bytes));
    if (len <= static_cast<size_t>(session->buffer_size)) {
        store_entry(session, entry, stored_length(entry, len), "");
        return;
    }
    size_t keep = static_cast<size_t>(session->buffer_size) - 4;
    const void *line_end = std::memchr(entry, '\n', keep);
    if (line_end != nullptr)
        store_entry(session, entry, static_cast<size_t>(static_cast<const char *>(line_end) - entry) + 1, "");
    else
        store_entry(session, entry, keep, "...");
}

void free_ring(logsession_t *session)
{
    if (session->entries == nullptr)
        return;
    for (int32_t i = 0; i < session->max_entries; i++)
        std::free(session->entries[i]);
    std::free(session->entries);
}

// ---- Binary records -----------------------------------------------------

// Renders the record into session's scratch buffer, or copies the text of the
// last session that rendered when the set says both render alike.
void render_record(logsession_set_t *set, logsession_t *session, void *record, logsession_t *&last_renderer)
{
    bool render_anew = last_renderer == nullptr ||
                       (set->query_binary_data_cmp_output_func != nullptr &&
                        set->query_binary_data_cmp_output_func(session->query_binary_data,
                                                               last_renderer->query_binary_data, last_renderer) != 0);
    if (!render_anew) {
        if (last_renderer != session)
            std::strcpy(session->record_buff, last_renderer->record_buff);
        return;
    }
    session->record_buff[0] = '\0';
    set->query_binary_data2text_func(session->record_buff, LOGSESSION_RECORD_BUFF_SIZE, record,
                                     session->query_binary_data);
    session->record_buff[LOGSESSION_RECORD_BUFF_SIZE - 1] = '\0';
    last_renderer = session;
}

bool rejects_record(logsession_set_t *set, logsession_t *session, void *record)
{
    return session->query_binary_data != nullptr && set->query_binary_data_match_func != nullptr &&
           set->query_binary_data_match_func(session->query_binary_data, record) != 0;
}

// A rendered text longer than the session keeps is rendered again within
// buffer_size bytes.
void insert_rendered(logsession_set_t *set, logsession_t *session, void *record)
{
    size_t len = std::strlen(session->record_buff);
    if (len <= static_cast<size_t>(session->buffer_size)) {
        store_entry(session, session->record_buff, stored_length(session->record_buff, len), "");
        return;
    }
    velmora::MallocPtr<char> shorter(static_cast<char *>(std::malloc(static_cast<size_t>(session->buffer_size))));
    if (shorter == nullptr)
        return;
    shorter.get()[0] = '\0';
    set->query_binary_data2text_func(shorter.get(), session->buffer_size, record, session->query_binary_data);
    shorter.get()[session->buffer_size - 1] = '\0';
    size_t shorter_len = std::strlen(shorter.get());
    store_entry(session, shorter.get(), stored_length(shorter.get(), shorter_len), "");
}

} // namespace

// Sessions by name for lookups, and in the order they were added for every
// pass over the set. The names are the sessions' own.
struct logsession_index {
    struct NameHash {
        size_t operator()(std::string_view name) const noexcept { return hash_name(name); }
    };
    std::vector<logsession_t *> order;
    std::unordered_map<std::string_view, logsession_t *, NameHash> by_name;

    logsession_t *find(const char *name) const
    {
        auto found = by_name.find(name);
        return found != by_name.end() ? found->second : nullptr;
    }

    // False when the name is taken; throws std::bad_alloc.
    bool add(logsession_t *session)
    {
        if (order.size() == order.capacity())
            order.reserve(std::max<size_t>(8, 2 * order.size()));
        if (!by_name.try_emplace(session->name, session).second)
            return false;
        order.push_back(session);
        return true;
    }

    void remove(logsession_t *session)
    {
        by_name.erase(session->name);
        order.erase(std::find(order.begin(), order.end(), session));
    }
};

namespace {

// Calls take(session) for every session whose filter passes entry.
template <typename Take>
void for_each_text_taker(logsession_set_t *set, const char *entry, Take take)
{
    for (logsession_t *session : set->sessions->order) {
        if (logsession_filter_run(session->filter, entry) == 0)
            take(session);
    }
}

// Calls take(session) for every session that takes record; its text is then
// in the session's scratch buffer.
template <typename Take>
void for_each_binary_taker(logsession_set_t *set, void *record, Take take)
{
    if (set->query_binary_data2text_func == nullptr)
        return; // nothing can render the record
    logsession_t *last_renderer = nullptr;
    for (logsession_t *session : set->sessions->order) {
        if (rejects_record(set, session, record))
            continue;
        render_record(set, session, record, last_renderer);
        if (logsession_filter_run(session->filter, session->record_buff) == 0)
            take(session);
    }
}

template <typename ForEachTaker>
intarray *collect_takers(logsession_set_t *set, ForEachTaker for_each_taker)
{
    if (set == nullptr || set->size <= 0)
        return nullptr;
    intarray *takers = intarray_create(set->size, set->size, 0);
    if (takers == nullptr)
        return nullptr;
    int taken = 0;
    for_each_taker([&](logsession_t *session) {
        if (intarray_insert(takers, taken, session) == 0)
            taken++;
    });
    if (taken == 0) {
        intarray_destroy(takers);
        return nullptr;
    }
    return takers;
}

// Removes the named session from the set and hands it over; nullptr when
// there is none. The caller holds the set lock.
logsession_t *detach_session(logsession_set_t *set, const char *name)
{
    logsession_t *session = set->sessions->find(name);
    if (session != nullptr) {
        set->sessions->remove(session);
        set->size--;
    }
    return session;
}

// The sessions not sampled for more than a minute, removed from the set.
std::vector<logsession_t *> detach_stale_sessions(logsession_set_t *set)
{
    std::vector<logsession_t *> stale;
    time_t now_time = now();
    OptionalLock lock(set_mutex(set));
    for (logsession_t *session : set->sessions->order) {
        if (now_time - session->last_time > LOGSESSION_STALE_SECONDS)
            stale.push_back(session);
    }
    for (logsession_t *session : stale) {
        set->sessions->remove(session);
        set->size--;
    }
    return stale;
}

logsession_set_t *channel_sessions(const char *log_name)
{
    LOGFILE *channel = qxlog_get_by_type(qxlog_get_type(log_name));
    return channel != nullptr ? channel->sessions : nullptr;
}

} // namespace

extern "C" {

// ---- Filters ------------------------------------------------------------

logsession_filter *logsession_filter_create(const char *query, const char *token) noexcept
{
    if (query == nullptr || token == nullptr)
        return nullptr;
    try {
        QueryWords words;
        if (!read_query_words(query, token, words))
            return nullptr;
        FilterSources sources = collect_sources(words, token);
        if (sources.match.empty() && sources.negate.empty())
            return nullptr;
        return compile_filter(sources);
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

int logsession_filter_run(const logsession_filter *filter, const char *buffer) noexcept
{
    if (filter == nullptr || buffer == nullptr)
        return 0;
    if (filter->regstr_match != nullptr && regexec(&filter->regexp_match, buffer, 0, nullptr, 0) != 0)
        return 1;
    if (filter->regstr_negate != nullptr && regexec(&filter->regexp_negate, buffer, 0, nullptr, 0) == 0)
        return 1;
    return 0;
}

void logsession_filter_free(logsession_filter *filter) noexcept
{
    if (filter == nullptr)
        return;
    if (filter->regstr_match != nullptr)
        regfree(&filter->regexp_match);
    if (filter->regstr_negate != nullptr)
        regfree(&filter->regexp_negate);
    std::free(filter->regstr_match);
    std::free(filter->regstr_negate);
    std::free(filter);
}

char *logsession_filter_string(const char *query, const char *token, const char *delim) noexcept
{
    if (query == nullptr || token == nullptr || delim == nullptr)
        return nullptr;
    try {
        QueryWords words;
        if (!read_query_words(query, token, words))
            return nullptr;
        std::string joined;
        bool found = false;
        words.for_each_token_word(token, [&](const char *rest) {
            if (*rest == '\0')
                return;
            if (found)
                joined += delim;
            joined += rest;
            found = true;
        });
        return found ? strdup(joined.c_str()) : nullptr;
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

// ---- Sessions -----------------------------------------------------------

// A ring needs one slot and an entry room for the "..." of a cut entry and
// its NUL, so smaller sizes are raised to those minimums.
logsession_t *logsession_create(logsession_set_t *set, const char *name, const char *query, void *data,
                                int max_entries, int buffer_size, int locked) noexcept
{
    if (set == nullptr || name == nullptr)
        return nullptr;
    auto *session = static_cast<logsession_t *>(std::calloc(1, sizeof(logsession_t)));
    if (session == nullptr)
        return nullptr;
    session->max_entries = std::max(max_entries, 1);
    session->buffer_size = std::max(buffer_size, 4);
    session->name = strdup(name);
    session->entries = static_cast<char **>(std::calloc(static_cast<size_t>(session->max_entries), sizeof(char *)));
    if (session->name == nullptr || session->entries == nullptr) {
        std::free(session->name);
        std::free(session->entries);
        std::free(session);
        return nullptr;
    }
    pthread_mutex_init(&session->lock, nullptr);
    session->set = set;
    session->query_binary_data = data;
    session->locked_session = locked;
    session->last_time = now();
    session->filter = logsession_filter_create(query, session_filter_token);
    return session;
}

void logsession_insert(logsession_t *session, const char *entry, int bytes) noexcept
{
    if (session == nullptr || entry == nullptr || bytes < 0)
        return;
    store_entry(session, entry, stored_length(entry, static_cast<size_t>(bytes)), "");
}

logsession_sample_t *logsession_sample(logsession_t *session) noexcept
{
    if (session == nullptr)
        return nullptr;
    OptionalLock lock(session_mutex(session));
    auto *sample = static_cast<logsession_sample_t *>(std::malloc(sizeof(logsession_sample_t)));
    if (sample == nullptr)
        return nullptr;
    sample->entries = nullptr;
    if (session->count > 0) {
        sample->entries = static_cast<char **>(std::malloc(static_cast<size_t>(session->count) * sizeof(char *)));
        if (sample->entries == nullptr) {
            std::free(sample);
            return nullptr;
        }
    }
    int32_t oldest = (session->pointer + session->max_entries - session->count) % session->max_entries;
    for (int32_t i = 0; i < session->count; i++) {
        int32_t slot = (oldest + i) % session->max_entries;
        sample->entries[i] = session->entries[slot];
        session->entries[slot] = nullptr;
    }
    sample->size = static_cast<uint32_t>(session->count);
    sample->overflow = session->overflow;
    session->last_time = now();
    session->overflow = 0;
    session->pointer = 0;
    session->count = 0;
    return sample;
}

void logsession_sample_destroy(logsession_sample_t *sample) noexcept
{
    if (sample == nullptr)
        return;
    for (uint32_t i = 0; i < sample->size; i++)
        std::free(sample->entries[i]);
    std::free(sample->entries);
    std::free(sample);
}

void logsession_destroy(logsession_t *session) noexcept
{
    if (session == nullptr)
        return;
    free_ring(session);
    logsession_filter_free(session->filter);
    logsession_set_t *set = session->set;
    if (set != nullptr && set->query_binary_data_free_func != nullptr && session->query_binary_data != nullptr)
        set->query_binary_data_free_func(session->query_binary_data);
    pthread_mutex_destroy(&session->lock);
    std::free(session->name);
    std::free(session);
}

// ---- Sets ---------------------------------------------------------------

logsession_set_t *logsession_set_create(int locked, logsession_free_func_t free_func,
                                        logsession_match_func_t match_func, logsession_text_func_t text_func,
                                        logsession_cmp_output_func_t cmp_output_func) noexcept
{
    auto *set = static_cast<logsession_set_t *>(std::calloc(1, sizeof(logsession_set_t)));
    if (set == nullptr)
        return nullptr;
    try {
        set->sessions = new logsession_index;
        set->sessions->by_name.reserve(100);
    } catch (const std::bad_alloc &) {
        delete set->sessions;
        std::free(set);
        return nullptr;
    }
    set->query_binary_data_free_func = free_func;
    set->query_binary_data_match_func = match_func;
    set->query_binary_data2text_func = text_func;
    set->query_binary_data_cmp_output_func = cmp_output_func;
    set->locked_set = locked;
    pthread_mutex_init(&set->lock, nullptr);
    return set;
}

// The session (and its filter, which may log on the debug and error channels)
// is built before the set lock is taken: when the set belongs to one of those
// channels, the messages come back to this set's lock.
int logsession_set_add(logsession_set_t *set, const char *name, const char *query, void *data, int max_entries,
                       int buffer_size) noexcept
{
    logsession_t *session = logsession_create(set, name, query, data, max_entries, buffer_size, 0);
    if (session == nullptr)
        return -1;
    bool added = false;
    {
        OptionalLock lock(set_mutex(set));
        try {
            added = set->sessions->add(session);
        } catch (const std::bad_alloc &) {
            added = false;
        }
        if (added)
            set->size++;
    }
    if (added)
        return 0;
    session->query_binary_data = nullptr; // a refused caller keeps its data
    logsession_destroy(session);
    return -1;
}

logsession_t *logsession_set_find(logsession_set_t *set, const char *name) noexcept
{
    if (set == nullptr || name == nullptr)
        return nullptr;
    OptionalLock lock(set_mutex(set));
    return set->sessions->find(name);
}

int logsession_set_get_count(logsession_set_t *set) noexcept
{
    if (set == nullptr)
        return 0;
    OptionalLock lock(set_mutex(set));
    return set->size;
}

int logsession_set_remove(logsession_set_t *set, const char *name) noexcept
{
    if (set == nullptr || name == nullptr)
        return -1;
    logsession_t *session = nullptr;
    {
        OptionalLock lock(set_mutex(set));
        session = detach_session(set, name);
    }
    // Destroyed outside the lock: the free function is the owner's code.
    logsession_destroy(session);
    return session != nullptr ? 0 : -1;
}

logsession_sample_t *logsession_set_sample(logsession_set_t *set, const char *name) noexcept
{
    if (set == nullptr || name == nullptr)
        return nullptr;
    OptionalLock lock(set_mutex(set));
    return logsession_sample(set->sessions->find(name));
}

void logsession_set_insert(logsession_set_t *set, const char *entry, int bytes) noexcept
{
    if (set == nullptr || entry == nullptr || bytes < 0)
        return;
    OptionalLock lock(set_mutex(set));
    for_each_text_taker(set, entry, [&](logsession_t *session) { insert_text(session, entry, bytes); });
}

void logsession_set_insert_binary(logsession_set_t *set, void *data) noexcept
{
    if (set == nullptr)
        return;
    OptionalLock lock(set_mutex(set));
    for_each_binary_taker(set, data, [&](logsession_t *session) { insert_rendered(set, session, data); });
}

intarray *logsession_set_matches(logsession_set_t *set, const char *entry) noexcept
{
    return collect_takers(set, [&](auto take) { for_each_text_taker(set, entry, take); });
}

intarray *logsession_set_matches_binary(logsession_set_t *set, void *data) noexcept
{
    return collect_takers(set, [&](auto take) { for_each_binary_taker(set, data, take); });
}

void logsession_set_flush(logsession_set_t *set) noexcept
{
    if (set == nullptr)
        return;
    try {
        for (logsession_t *session : detach_stale_sessions(set))
            logsession_destroy(session);
    } catch (const std::bad_alloc &) {
        // nothing detached; the next pass tries again
    }
}

void logsession_set_destroy(logsession_set_t *set) noexcept
{
    if (set == nullptr)
        return;
    for (logsession_t *session : set->sessions->order)
        logsession_destroy(session);
    delete set->sessions;
    pthread_mutex_destroy(&set->lock);
    std::free(set);
}

unsigned long logsession_hash_fn(const void *name) noexcept
{
    return hash_name(name != nullptr ? static_cast<const char *>(name) : "");
}

// ---- Sessions on the log channels ---------------------------------------

int qxlog_logsession_create(const char *log_name, const char *session_name, const char *query, int max_entries,
                            int buffer_size) noexcept
{
    int log_type = qxlog_get_type(log_name);
    if (log_type == 0)
        return -1;
    LOGFILE *channel = qxlog_get_by_type(log_type);
    if (channel == nullptr) {
        qxlog_send(QXLOG_ERROR, "qxlog_create_session: unknown log type %d\n", log_type);
        return -1;
    }
    if (channel->enabled == 0) {
        qxlog_send(QXLOG_ERROR, "qxlog_create_session: log %s is disabled\n", log_name);
        return -1;
    }
    return logsession_set_add(channel->sessions, session_name, query, nullptr, max_entries, buffer_size);
}

logsession_sample_t *qxlog_logsession_sample(const char *log_name, const char *session_name) noexcept
{
    return logsession_set_sample(channel_sessions(log_name), session_name);
}

int qxlog_logsession_destroy(const char *log_name, const char *session_name) noexcept
{
    logsession_set_t *sessions = channel_sessions(log_name);
    if (sessions == nullptr)
        return 1;
    logsession_set_remove(sessions, session_name);
    return 0;
}

} // extern "C"
