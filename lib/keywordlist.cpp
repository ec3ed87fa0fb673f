#include "velmora/keywordlist.h"

#include "velmora/qxstring.h"

#include "internal/malloc_ptr.h"
#include "internal/prefix_trie.h"

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <string_view>
#include <vector>

namespace {

using velmora::MallocPtr;

// A stored word and what the public record cannot say: the restriction its
// own data was added with. A mixed word (added both free and restricted) found
// where it is not bounded still takes part in its free phrases, but answers
// with its own data only when that data was added as a free keyword; otherwise
// a whole-word keyword would match inside longer words.
struct StoredWord {
    KEYWORDLIST_WORD word;
    bool data_restricted;
};

constexpr int reference_growth = 4;

} // namespace

struct KEYWORDLIST_TRIE {
    velmora::PrefixTrie<StoredWord *> words;
};

struct KEYWORDLIST_PHRASE_LIST {
    std::vector<KEYWORDLIST_PHRASE *> items;
};

namespace {

unsigned char keywordlist_generate_hash(std::string_view word) noexcept
{
    return static_cast<unsigned char>(word.front());
}

// A new word record holding a copy of text (which must not be empty), or
// nullptr when memory is short. A word made for a phrase carries that one
// reference.
StoredWord *keywordlist_new_word(KEYWORDLIST_TABLE *table, std::string_view text, void *data, bool restricted,
                                 const KWL_PHRASE_WORD *reference) noexcept
{
    auto *stored = new (std::nothrow) StoredWord{};
    if (stored == nullptr)
        return nullptr;
    KEYWORDLIST_WORD &word = stored->word;
    word.item = static_cast<char *>(std::malloc(text.size() + 1));
    if (reference != nullptr)
        word.phrases = static_cast<KWL_PHRASE_WORD *>(std::malloc(reference_growth * sizeof(KWL_PHRASE_WORD)));
    if (word.item == nullptr || (reference != nullptr && word.phrases == nullptr)) {
        std::free(word.item);
        std::free(word.phrases);
        delete stored;
        return nullptr;
    }
    std::memcpy(word.item, text.data(), text.size());
    word.item[text.size()] = '\0';
    word.data = data;
    word.table = table;
    word.length = text.size();
    word.restricted = restricted ? KWL_RESTRICTED : KWL_FREE;
    stored->data_restricted = restricted;
    if (reference != nullptr) {
        word.phrases[0] = *reference;
        word.phrases_num = 1;
    }
    return stored;
}

// Releases a word record without touching its data (which still belongs to
// whoever passed it in).
void discard_word(StoredWord *stored) noexcept
{
    std::free(stored->word.item);
    std::free(stored->word.phrases);
    delete stored;
}

// Releases one stored word, its data through the table's free function.
void keywordlist_tree_free(StoredWord *stored) noexcept
{
    keywordlist_free_fn free_func = stored->word.table->free_func;
    if (free_func != nullptr && stored->word.data != nullptr)
        free_func(stored->word.data);
    discard_word(stored);
}

bool append_reference(KEYWORDLIST_WORD &word, const KWL_PHRASE_WORD &reference) noexcept
{
    if (word.phrases_num % reference_growth == 0) {
        std::size_t slots = static_cast<std::size_t>(word.phrases_num) + reference_growth;
        void *grown = std::realloc(word.phrases, slots * sizeof(KWL_PHRASE_WORD));
        if (grown == nullptr)
            return false;
        word.phrases = static_cast<KWL_PHRASE_WORD *>(grown);
    }
    word.phrases[word.phrases_num++] = reference;
    return true;
}

// Folds a freshly made word into the stored word of the same text.
int merge_word(StoredWord &existing, const StoredWord &fresh) noexcept
{
    if (fresh.word.data != nullptr) {
        if (existing.word.data != nullptr)
            return -2;
        existing.word.data = fresh.word.data;
        existing.data_restricted = fresh.data_restricted;
    }
    for (int i = 0; i < fresh.word.phrases_num; i++) {
        if (!append_reference(existing.word, fresh.word.phrases[i]))
            return -1;
    }
    if (existing.word.restricted != fresh.word.restricted)
        existing.word.restricted = KWL_MIXED;
    return 0;
}

// Stores fresh in the trie of its first byte, or merges it into the word
// already stored there; fresh is consumed either way. 0, -1 out of memory,
// -2 both carry data.
int keywordlist_add_word(KEYWORDLIST_TABLE *table, StoredWord *fresh) noexcept
{
    std::string_view text(fresh->word.item, fresh->word.length);
    KEYWORDLIST_TRIE *&trie = table->keywords[keywordlist_generate_hash(text)];
    if (trie == nullptr)
        trie = new (std::nothrow) KEYWORDLIST_TRIE;
    if (trie == nullptr) {
        discard_word(fresh);
        return -1;
    }
    try {
        auto [slot, inserted] = trie->words.insert(text, fresh);
        if (inserted) {
            table->count++;
            return 0;
        }
        int rc = merge_word(**slot, *fresh);
        discard_word(fresh);
        return rc;
    } catch (const std::bad_alloc &) {
        discard_word(fresh);
        return -1;
    }
}

int add_single_word(KEYWORDLIST_TABLE *table, std::string_view text, void *data, bool restricted) noexcept
{
    StoredWord *fresh = keywordlist_new_word(table, text, data, restricted, nullptr);
    if (fresh == nullptr)
        return -1;
    return keywordlist_add_word(table, fresh);
}

KEYWORDLIST_PHRASE *keywordlist_new_phrase(KEYWORDLIST_TABLE *table, const char *text, void *data, bool restricted,
                                           std::size_t word_count) noexcept
{
    std::size_t size = offsetof(KEYWORDLIST_PHRASE, found_words) + word_count;
    auto *phrase = static_cast<KEYWORDLIST_PHRASE *>(std::calloc(1, size));
    if (phrase == nullptr)
        return nullptr;
    phrase->item = strdup(text);
    if (phrase->item == nullptr) {
        std::free(phrase);
        return nullptr;
    }
    for (char *p = phrase->item; *p != '\0'; p++)
        *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    phrase->data = data;
    phrase->table = table;
    phrase->restricted = restricted ? 1 : 0;
    phrase->size = static_cast<int>(size);
    phrase->phrase = phrase;
    return phrase;
}

// Releases one stored phrase, its data through the table's free function.
void keywordlist_phrases_free(KEYWORDLIST_PHRASE *phrase) noexcept
{
    keywordlist_free_fn free_func = phrase->table->free_func;
    if (free_func != nullptr && phrase->data != nullptr)
        free_func(phrase->data);
    std::free(phrase->item);
    std::free(phrase);
}

bool append_phrase(KEYWORDLIST_TABLE *table, KEYWORDLIST_PHRASE *phrase) noexcept
{
    try {
        if (table->phrases == nullptr)
            table->phrases = new KEYWORDLIST_PHRASE_LIST;
        table->phrases->items.push_back(phrase);
        return true;
    } catch (const std::bad_alloc &) {
        return false;
    }
}

std::vector<std::string_view> non_empty_pieces(std::string_view text, char separator)
{
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = std::min(text.find(separator, start), text.size());
        if (end > start)
            pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

// Reads the kind of a phrase word from its leading mark and removes the mark.
char take_word_type(std::string_view &piece) noexcept
{
    char type = KWL_WORD_REQUIRED;
    if (piece.front() == '!')
        type = KWL_WORD_CANCEL;
    else if (piece.front() == '^')
        type = KWL_WORD_EXCEPTION;
    if (type != KWL_WORD_REQUIRED)
        piece.remove_prefix(1);
    return type;
}

int add_phrase_word(KEYWORDLIST_TABLE *table, KEYWORDLIST_PHRASE *phrase, std::string_view piece, int offset) noexcept
{
    KWL_PHRASE_WORD reference{take_word_type(piece), offset, phrase};
    // A lone "!" or "^" names no word: nothing could ever match it.
    if (piece.empty())
        return 0;
    if (reference.type == KWL_WORD_REQUIRED) {
        phrase->length++;
        phrase->done++;
    } else if (reference.type == KWL_WORD_CANCEL) {
        phrase->cancelable = 1;
    }
    StoredWord *fresh = keywordlist_new_word(table, piece, nullptr, phrase->restricted != 0, &reference);
    if (fresh == nullptr)
        return -1;
    return keywordlist_add_word(table, fresh);
}

int add_phrase(KEYWORDLIST_TABLE *table, const char *keyword, const std::vector<std::string_view> &pieces, void *data,
               bool restricted) noexcept
{
    KEYWORDLIST_PHRASE *phrase = keywordlist_new_phrase(table, keyword, data, restricted, pieces.size());
    if (phrase == nullptr)
        return -1;
    if (!append_phrase(table, phrase)) {
        std::free(phrase->item);
        std::free(phrase);
        return -1;
    }
    for (std::size_t i = 0; i < pieces.size(); i++) {
        if (add_phrase_word(table, phrase, pieces[i], static_cast<int>(i)) != 0) {
            // The half-built phrase stays (words already refer to it) but gives
            // its data back: the caller still owns data after a failure, and a
            // phrase without data never answers a lookup.
            phrase->data = nullptr;
            return -1;
        }
    }
    return 0;
}

// Bounded on the left: at the start of the text, after one of the prefixes,
// or (without a prefix list) after a punctuation character. Empty elements of
// a boundary list bound nothing, so an empty list bounds nothing either.
bool start_is_bounded(const KEYWORDLIST_TABLE &table, const char *text, const char *pos) noexcept
{
    if (pos == text)
        return true;
    if (table.prefix_list == nullptr)
        return std::ispunct(static_cast<unsigned char>(pos[-1])) != 0;
    std::ptrdiff_t room = pos - text;
    for (int i = 0; table.prefix_list[i] != nullptr; i++) {
        int len = table.prefix_list_len[i];
        if (len > 0 && len <= room && std::memcmp(pos - len, table.prefix_list[i], static_cast<std::size_t>(len)) == 0)
            return true;
    }
    return false;
}

bool end_is_bounded(const KEYWORDLIST_TABLE &table, const char *end) noexcept
{
    if (*end == '\0')
        return true;
    if (table.postfix_list == nullptr)
        return std::ispunct(static_cast<unsigned char>(*end)) != 0;
    for (int i = 0; table.postfix_list[i] != nullptr; i++) {
        int len = table.postfix_list_len[i];
        // strncmp stops at the end of the text, so a postfix longer than what
        // is left simply does not match.
        if (len > 0 && std::strncmp(end, table.postfix_list[i], static_cast<std::size_t>(len)) == 0)
            return true;
    }
    return false;
}

bool keywordlist_check_restriction(const KEYWORDLIST_TABLE &table, const char *text, const char *pos,
                                   std::size_t length) noexcept
{
    return start_is_bounded(table, text, pos) && end_is_bounded(table, pos + length);
}

// The state of one phrase during one lookup: a private copy of the stored
// record whose flags, counters and completed-list link the lookup changes.
struct WorkingPhrase {
    MallocPtr<KEYWORDLIST_PHRASE> copy;
    // Set once the phrase completed and was either offered as the result or
    // linked into the completed list, so it is never linked twice.
    bool settled = false;
};

class Lookup {
public:
    Lookup(const KEYWORDLIST_TABLE &table, const char *text, keywordlist_data_check_fn check_func, void *args)
        : table_(table), text_(text), end_(text + std::strlen(text)), check_func_(check_func), args_(args)
    {
    }

    KEYWORDLIST_RESULT *run()
    {
        std::vector<StoredWord *> matches;
        for (const char *pos = text_; pos < end_; pos++) {
            const KEYWORDLIST_TRIE *trie = table_.keywords[static_cast<unsigned char>(*pos)];
            if (trie == nullptr)
                continue;
            matches.clear();
            trie->words.collect_prefixes(std::string_view(pos, static_cast<std::size_t>(end_ - pos)), matches);
            for (auto it = matches.rbegin(); it != matches.rend(); ++it) {
                if (KEYWORDLIST_RESULT *result = examine(**it, pos))
                    return result;
            }
        }
        return best_remaining();
    }

private:
    static KEYWORDLIST_RESULT *as_result(KEYWORDLIST_WORD *word) noexcept
    {
        return reinterpret_cast<KEYWORDLIST_RESULT *>(word);
    }

    static KEYWORDLIST_RESULT *as_result(KEYWORDLIST_PHRASE *phrase) noexcept
    {
        return reinterpret_cast<KEYWORDLIST_RESULT *>(phrase);
    }

    bool accepts(KEYWORDLIST_RESULT *candidate) const
    {
        return check_func_ == nullptr || check_func_(args_, candidate->data, candidate) != 0;
    }

    KEYWORDLIST_RESULT *examine(StoredWord &stored, const char *pos)
    {
        KEYWORDLIST_WORD &word = stored.word;
        bool bounded = word.restricted == KWL_FREE || keywordlist_check_restriction(table_, text_, pos, word.length);
        if (!bounded && word.restricted == KWL_RESTRICTED)
            return nullptr;
        bool data_usable = word.data != nullptr && (bounded || !stored.data_restricted);
        if (table_.phrases == nullptr)
            return data_usable && accepts(as_result(&word)) ? as_result(&word) : nullptr;
        // With phrases a word only stands in for the case that none completes.
        if (data_usable && fallback_ == nullptr && accepts(as_result(&word)))
            fallback_ = as_result(&word);
        return follow_phrases(word, pos, bounded);
    }

    KEYWORDLIST_RESULT *follow_phrases(const KEYWORDLIST_WORD &word, const char *pos, bool bounded)
    {
        const KEYWORDLIST_PHRASE *credited = nullptr;
        for (int i = 0; i < word.phrases_num; i++) {
            const KWL_PHRASE_WORD &reference = word.phrases[i];
            const KEYWORDLIST_PHRASE *stored = reference.phrase;
            if (stored->data == nullptr || (!bounded && stored->restricted))
                continue;
            // One occurrence fills one required slot of a phrase that lists
            // the same word more than once.
            if (reference.type == KWL_WORD_REQUIRED && stored == credited)
                continue;
            WorkingPhrase &working = working_copy(stored);
            KEYWORDLIST_PHRASE &copy = *working.copy;
            if (copy.skipto != nullptr && pos < copy.skipto)
                continue;
            if (reference.type == KWL_WORD_CANCEL) {
                copy.canceled = 1;
                continue;
            }
            if (reference.type == KWL_WORD_EXCEPTION) {
                copy.skipto = pos + word.length;
            } else if (copy.found_words[reference.offset] == 0) {
                copy.found_words[reference.offset] = 1;
                copy.done--;
                credited = stored;
            }
            if (KEYWORDLIST_RESULT *result = settle_if_complete(working))
                return result;
        }
        return nullptr;
    }

    WorkingPhrase &working_copy(const KEYWORDLIST_PHRASE *stored)
    {
        auto [it, inserted] = copies_.try_emplace(stored);
        if (inserted) {
            auto *copy = static_cast<KEYWORDLIST_PHRASE *>(std::malloc(static_cast<std::size_t>(stored->size)));
            if (copy == nullptr) {
                copies_.erase(it);
                throw std::bad_alloc();
            }
            std::memcpy(copy, stored, static_cast<std::size_t>(stored->size));
            it->second.copy.reset(copy);
            longest_ = std::max(longest_, stored->length);
        }
        return it->second;
    }

    KEYWORDLIST_RESULT *settle_if_complete(WorkingPhrase &working)
    {
        KEYWORDLIST_PHRASE &copy = *working.copy;
        if (working.settled || copy.canceled || copy.done != 0)
            return nullptr;
        working.settled = true;
        // A phrase that cannot be cancelled later and is as long as any met so
        // far cannot be beaten: it answers at once.
        if (!copy.cancelable && copy.length == longest_)
            return accepts(as_result(copy.phrase)) ? as_result(copy.phrase) : nullptr;
        link_completed(copy);
        return nullptr;
    }

    // Longest first; a phrase goes before others of its length.
    void link_completed(KEYWORDLIST_PHRASE &copy) noexcept
    {
        KEYWORDLIST_PHRASE **slot = &completed_;
        while (*slot != nullptr && (*slot)->length > copy.length)
            slot = &(*slot)->next;
        copy.next = *slot;
        *slot = &copy;
    }

    KEYWORDLIST_RESULT *best_remaining() const
    {
        for (KEYWORDLIST_PHRASE *p = completed_; p != nullptr; p = p->next) {
            if (!p->canceled && accepts(as_result(p->phrase)))
                return as_result(p->phrase);
        }
        return fallback_;
    }

    const KEYWORDLIST_TABLE &table_;
    const char *text_;
    const char *end_;
    keywordlist_data_check_fn check_func_;
    void *args_;
    // Keyed by the stored phrase's identity; only phrases met in this lookup.
    std::map<const KEYWORDLIST_PHRASE *, WorkingPhrase> copies_;
    KEYWORDLIST_PHRASE *completed_ = nullptr;
    KEYWORDLIST_RESULT *fallback_ = nullptr;
    int longest_ = 0;
};

// Copies a space-separated boundary list and splits the copy into its words
// (empty words kept). false when memory is short; what was made is left in the
// out parameters for the caller's teardown.
bool split_boundaries(const char *words, char **copy, char ***list, int **lengths) noexcept
{
    *copy = strdup(words);
    if (*copy == nullptr)
        return false;
    *list = string_explode(*copy, ' ');
    if (*list == nullptr)
        return false;
    std::size_t n = 0;
    while ((*list)[n] != nullptr)
        n++;
    *lengths = static_cast<int *>(std::malloc(n * sizeof(int)));
    if (*lengths == nullptr)
        return false;
    for (std::size_t i = 0; i < n; i++)
        (*lengths)[i] = static_cast<int>(std::strlen((*list)[i]));
    return true;
}

} // namespace

extern "C" {

KEYWORDLIST_TABLE *keywordlist_initialize(const char *prefixes, const char *postfixes,
                                          keywordlist_free_fn free_func) noexcept
{
    auto *table = static_cast<KEYWORDLIST_TABLE *>(std::calloc(1, sizeof(KEYWORDLIST_TABLE)));
    if (table == nullptr)
        return nullptr;
    table->free_func = free_func;
    bool ok = (prefixes == nullptr ||
               split_boundaries(prefixes, &table->prefixes, &table->prefix_list, &table->prefix_list_len)) &&
              (postfixes == nullptr ||
               split_boundaries(postfixes, &table->postfixes, &table->postfix_list, &table->postfix_list_len));
    if (!ok) {
        keywordlist_terminate(table);
        return nullptr;
    }
    return table;
}

int keywordlist_add_keyword(KEYWORDLIST_TABLE *table, const char *keyword, void *data, int restricted,
                            int multi) noexcept
{
    if (table == nullptr || keyword == nullptr || data == nullptr)
        return -3;
    MallocPtr<char> normalised(strdup(keyword));
    if (normalised == nullptr)
        return -1;
    string_lowercase_url(normalised.get());
    std::string_view text(normalised.get());
    bool is_restricted = restricted != 0;
    if (multi == 0 || text.find('+') == std::string_view::npos)
        return text.empty() ? -3 : add_single_word(table, text, data, is_restricted);
    try {
        std::vector<std::string_view> pieces = non_empty_pieces(text, '+');
        if (pieces.empty())
            return -3;
        if (pieces.size() == 1)
            return add_single_word(table, pieces.front(), data, is_restricted);
        return add_phrase(table, keyword, pieces, data, is_restricted);
    } catch (const std::bad_alloc &) {
        return -1;
    }
}

KEYWORDLIST_RESULT *keywordlist_lookup(const KEYWORDLIST_TABLE *table, const char *url,
                                       keywordlist_data_check_fn check_func, void *args) noexcept
{
    if (table == nullptr || url == nullptr || table->count == 0 || url[0] == '\0')
        return nullptr;
    try {
        return Lookup(*table, url, check_func, args).run();
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

void keywordlist_terminate(KEYWORDLIST_TABLE *t) noexcept
{
    if (t == nullptr)
        return;
    for (KEYWORDLIST_TRIE *&trie : t->keywords) {
        if (trie == nullptr)
            continue;
        trie->words.for_each([](StoredWord *stored) { keywordlist_tree_free(stored); });
        delete trie;
        trie = nullptr;
    }
    std::free(t->prefix_list_len);
    std::free(t->prefix_list);
    std::free(t->prefixes);
    std::free(t->postfix_list_len);
    std::free(t->postfix_list);
    std::free(t->postfixes);
    if (t->phrases != nullptr) {
        for (KEYWORDLIST_PHRASE *phrase : t->phrases->items)
            keywordlist_phrases_free(phrase);
        delete t->phrases;
    }
    std::free(t);
}

} // extern "C"
