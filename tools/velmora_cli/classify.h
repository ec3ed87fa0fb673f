// Classification of one URL against a URL list: decomposition in check mode,
// the diagnostic lookup, and the texts an answer shows.
#ifndef VELMORA_CLI_CLASSIFY_H
#define VELMORA_CLI_CLASSIFY_H

#include <cstdlib>
#include <memory>

#include "velmora/category.h"
#include "velmora/urllist.h"

namespace velmora_cli {

struct FreeText {
    void operator()(char *text) const noexcept { std::free(text); }
};
using MallocText = std::unique_ptr<char, FreeText>;

struct Verdict {
    bool valid = false;                   // the URL could be decomposed
    const URLLIST_ITEM_DATA *data = nullptr; // the governing entry's result (owned by the list)
    MallocText entry;                     // the governing entry's text
};

// One classifier per thread: it keeps the category set the decomposition
// marks, so no allocation is made per URL for it.
class Classifier {
public:
    explicit Classifier(bool nocase_url);
    Classifier(const Classifier &) = delete;
    Classifier &operator=(const Classifier &) = delete;
    ~Classifier();

    // url must be NUL-terminated. Without with_entry the entry's text is not
    // built (a lookup without the diagnostic walk).
    Verdict classify(URLLIST &list, const char *url, bool with_entry = true);

    // The action's short form ("D", "A", "C 3,5", "Q +a=1", ...) or "none";
    // valid until the next call.
    const char *short_form(const Verdict &verdict);

private:
    // Long enough for any short form a list line can produce; longer ones
    // are cut.
    static constexpr size_t kShortFormSize = 8192;

    int flags_;
    cat_t cats_{};
    char short_form_[kShortFormSize];
};

} // namespace velmora_cli

#endif
