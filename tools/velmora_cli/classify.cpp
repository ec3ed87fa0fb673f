#include "velmora_cli/classify.h"

namespace velmora_cli {

namespace {

struct ExplodedRelease {
    void operator()(URLLIST_EXPLODED_URL *u) const noexcept { urllist_free_urllist_exploded_url(u); }
};

} // namespace

Classifier::Classifier(bool nocase_url) : flags_(nocase_url ? URLLIST_EXPLODE_NOCASE : 0)
{
    // A failed allocation leaves the set empty; the decomposition then marks
    // nothing, which only loses the category marks nobody here reads.
    category_init(&cats_);
}

Classifier::~Classifier()
{
    category_destroy(&cats_);
}

Verdict Classifier::classify(URLLIST &list, const char *url, bool with_entry)
{
    Verdict verdict;
    std::unique_ptr<URLLIST_EXPLODED_URL, ExplodedRelease> exploded(
        urllist_explode_charset(url, &cats_, 1, flags_, list.charset_data));
    if (!exploded)
        return verdict;
    verdict.valid = true;
    URLLIST_ITEM_DATA *data = nullptr;
    char *entry = nullptr;
    int rc = with_entry ? urllist_lookup_diag(&list, exploded.get(), &data, &entry)
                        : urllist_lookup_data(&list, exploded.get(), &data);
    if (rc == 0) {
        verdict.data = data;
        verdict.entry.reset(entry);
    }
    return verdict;
}

const char *Classifier::short_form(const Verdict &verdict)
{
    if (verdict.data == nullptr)
        return "none";
    urllist_action_dump_action(verdict.data, short_form_, sizeof short_form_);
    return short_form_;
}

} // namespace velmora_cli
