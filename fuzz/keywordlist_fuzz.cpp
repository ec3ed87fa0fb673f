// Keyword lists: keywords and phrases are added, then texts are looked up.
// Input: a control byte (bit 0: a prefix line follows, bit 1: a postfix line
// follows, bit 2: a check callback that rejects every other data pointer),
// then one operation per line: 'k' free keyword, 'w' restricted keyword,
// 'K' and 'W' the same with phrases allowed, '?' look the text up.
// While only free single keywords are stored, a lookup must find something
// exactly when one of them occurs in the text.
#include <cstring>

#include "fuzz_input.h"
#include "velmora/keywordlist.h"
#include "velmora/qxstring.h"

namespace {

char g_cells[64];

bool accepted(void *data) { return (static_cast<char *>(data) - g_cells) % 2 == 0; }

int check_even_cells(void *, void *data, KEYWORDLIST_RESULT *) { return accepted(data) ? 1 : 0; }

std::string lowercase_url(const std::string &text) {
    std::string copy = text;
    string_lowercase_url(copy.data());
    copy.resize(std::strlen(copy.c_str()));
    return copy;
}

class KeywordScript {
public:
    KeywordScript(const char *prefixes, const char *postfixes, bool with_check)
        : table_(keywordlist_initialize(prefixes, postfixes, nullptr)), with_check_(with_check) {
        FUZZ_CHECK(table_ != nullptr);
    }
    ~KeywordScript() { keywordlist_terminate(table_); }

    void run(char op, const std::string &arg, size_t index) {
        if (op == '?') return lookup(arg);
        const bool restricted = op == 'w' || op == 'W';
        const bool multi = op == 'K' || op == 'W';
        if (!restricted && !multi && op != 'k') return;
        void *data = &g_cells[index % sizeof g_cells];
        int rc = keywordlist_add_keyword(table_, arg.c_str(), data, restricted, multi);
        FUZZ_CHECK(rc == 0 || rc == -2 || rc == -3);
        if (op != 'k') {
            simple_ = false;
        } else if (rc == 0) {
            keywords_.push_back({lowercase_url(arg), data});
        }
        FUZZ_CHECK(keywordlist_add_keyword(table_, arg.c_str(), nullptr, restricted, multi) == -3);
    }

private:
    struct Keyword {
        std::string text;
        void *data;
    };

    void lookup(const std::string &arg) {
        const std::string text = lowercase_url(arg);
        KEYWORDLIST_RESULT *result =
            keywordlist_lookup(table_, text.c_str(), with_check_ ? check_even_cells : nullptr, nullptr);
        if (result != nullptr) {
            FUZZ_CHECK(result->item != nullptr && result->data != nullptr);
            (void)std::strlen(result->item);
        }
        if (!simple_) return;
        bool expected = false;
        for (const Keyword &k : keywords_)
            if (text.find(k.text) != std::string::npos && (!with_check_ || accepted(k.data))) expected = true;
        FUZZ_CHECK((result != nullptr) == expected);
        if (result != nullptr) {
            FUZZ_CHECK(text.find(result->item) != std::string::npos);
            if (with_check_) FUZZ_CHECK(accepted(result->data));
        }
    }

    KEYWORDLIST_TABLE *table_;
    bool with_check_;
    bool simple_ = true;
    std::vector<Keyword> keywords_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 8192) return 0;
    velmora_fuzz::FuzzInput in(data, size);
    const uint8_t control = in.byte();
    std::vector<std::string> lines = velmora_fuzz::split_lines(in.rest_text());
    size_t next = 0;
    auto take_line = [&]() { return next < lines.size() ? lines[next++] : std::string(); };
    const std::string prefixes = (control & 1) ? take_line() : std::string();
    const std::string postfixes = (control & 2) ? take_line() : std::string();
    KeywordScript script((control & 1) ? prefixes.c_str() : nullptr, (control & 2) ? postfixes.c_str() : nullptr,
                         (control & 4) != 0);
    for (size_t i = next; i < lines.size(); ++i)
        if (!lines[i].empty()) script.run(lines[i][0], lines[i].substr(1), i);
    return 0;
}
