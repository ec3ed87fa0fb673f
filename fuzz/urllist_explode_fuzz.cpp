// URL decomposition in both modes, with every flag combination and with or
// without a character-set record. The first input byte chooses the mode,
// flags and charset; the rest is the URL. Beyond the sanitizers, the record's
// structure is checked against the rules callers rely on.
#include <cctype>
#include <cstring>
#include <utility>

#include "fuzz_input.h"
#include "velmora/category.h"
#include "velmora/urllist.h"
#include "velmora/urllist_explode.h"

namespace {

struct TokenCounts {
    int proto = 0, host = 0, port = 0, path = 0, query = 0;
};

bool hashed_as_text(int flags, UrlPart type) {
    if (flags & URLLIST_EXPLODE_HASHED) return false;
    return !((flags & URLLIST_EXPLODE_HASHED_HOST) && type == UP_HOST);
}

// Walks the tokens: kinds come in the fixed order scheme, host labels, port,
// path segments, query; every text is readable and clear-text tokens carry
// the hash of their text.
TokenCounts check_tokens(const URLLIST_EXPLODED_URL *rec, int flags) {
    TokenCounts counts;
    int last_type = -1;
    const URLLIST_TOKEN *tok = rec->tokens;
    for (; tok->item != nullptr; ++tok) {
        FUZZ_CHECK(tok->type >= UP_PROTO && tok->type <= UP_QUERY);
        FUZZ_CHECK(static_cast<int>(tok->type) >= last_type);
        FUZZ_CHECK(tok->type == UP_HOST || tok->type == UP_PATH || static_cast<int>(tok->type) != last_type);
        last_type = tok->type;
        size_t len = std::strlen(tok->item);
        if (tok->type == UP_HOST || tok->type == UP_PATH) FUZZ_CHECK(len > 0 || tok->type == UP_HOST);
        if (tok->type != UP_QUERY && hashed_as_text(flags, tok->type)) {
            myhash_t expected{};
            urllist_hash(tok->item, static_cast<int>(len), &expected);
            FUZZ_CHECK(expected.city == tok->hash.city);
        }
        switch (tok->type) {
        case UP_PROTO: ++counts.proto; break;
        case UP_HOST: ++counts.host; break;
        case UP_PORT: ++counts.port; break;
        case UP_PATH: ++counts.path; break;
        default: ++counts.query; break;
        }
    }
    FUZZ_CHECK(tok->type == UP_NULL);
    return counts;
}

void check_optional_text(const char *text) {
    if (text != nullptr) (void)std::strlen(text);
}

void check_record(const URLLIST_EXPLODED_URL *rec, const std::string &url, int check_mode, int flags,
                  const cat_t *cats) {
    FUZZ_CHECK(rec->url == url.c_str());
    FUZZ_CHECK(rec->length == static_cast<int32_t>(url.size()));
    FUZZ_CHECK(rec->host_url_length >= 0 && rec->host_url_length <= rec->length);
    FUZZ_CHECK(rec->host_length >= 0);
    if (rec->asciihost == nullptr) {
        FUZZ_CHECK(rec->host >= rec->url && rec->host + rec->host_length <= rec->url + rec->length);
    } else {
        FUZZ_CHECK(rec->mangled_asciihost != nullptr);
        FUZZ_CHECK(rec->host == rec->asciihost);
        FUZZ_CHECK(static_cast<size_t>(rec->host_length) == std::strlen(rec->asciihost));
    }
    FUZZ_CHECK(rec->tokens != nullptr);
    TokenCounts counts = check_tokens(rec, flags);
    FUZZ_CHECK(counts.proto <= 1 && counts.port <= 1 && counts.query <= 1);
    FUZZ_CHECK(rec->domains_num == counts.host);
    FUZZ_CHECK(rec->paths_num == counts.path);
    FUZZ_CHECK((rec->query != nullptr) == (counts.query == 1));
    FUZZ_CHECK((rec->path != nullptr) == (counts.path > 0));
    if (rec->query != nullptr) FUZZ_CHECK(rec->query->type == UP_QUERY);
    if (rec->path != nullptr) {
        FUZZ_CHECK(rec->path->type == UP_PATH);
        FUZZ_CHECK(rec->path == rec->tokens || (rec->path - 1)->type != UP_PATH);
    }
    FUZZ_CHECK(rec->isRootURL == (counts.path == 0 && counts.query == 0));
    if (check_mode) {
        FUZZ_CHECK(counts.proto == 1 && counts.port == 1);
        FUZZ_CHECK(rec->anchor == nullptr);
    }
    if (rec->isIP && cats != nullptr) FUZZ_CHECK(category_search(cats, URLLIST_CATEGORY_IP_URL) >= 0);
    FUZZ_CHECK(rec->scheme != nullptr);
    (void)std::strlen(rec->scheme);
    check_optional_text(rec->fileExtension);
    check_optional_text(rec->topLevelDomain);
    check_optional_text(rec->anchor);
    check_optional_text(rec->userinfo);
}

std::vector<std::pair<int, std::string>> token_texts(const URLLIST_EXPLODED_URL *rec) {
    std::vector<std::pair<int, std::string>> out;
    for (const URLLIST_TOKEN *tok = rec->tokens; tok->item != nullptr; ++tok) out.emplace_back(tok->type, tok->item);
    return out;
}

// Lower-casing the whole URL first (URLLIST_EXPLODE_NOCASE) gives the tokens
// that the lower-cased URL gives without the flag.
void check_nocase_matches_lowered(const URLLIST_EXPLODED_URL *rec, const std::string &url, int check_mode,
                                  int flags, const CHARSET *charset) {
    std::string lowered = url;
    for (char &c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    URLLIST_EXPLODED_URL *plain =
        urllist_explode_charset(lowered.c_str(), nullptr, check_mode, flags & ~URLLIST_EXPLODE_NOCASE, charset);
    FUZZ_CHECK((plain == nullptr) == (rec == nullptr));
    if (plain == nullptr) return;
    FUZZ_CHECK(token_texts(plain) == token_texts(rec));
    FUZZ_CHECK(plain->num_port == rec->num_port && plain->isIP == rec->isIP);
    urllist_free_urllist_exploded_url(plain);
}

// Control byte: bit 0 check mode, bits 1-4 the explode flags, bit 5 a
// charset record, bit 6 a charset other than UTF-8 (converted first), bit 7
// no category set.
void explode_once(uint8_t control, const std::string &url) {
    const int check_mode = control & 1;
    const int flags = (control >> 1) & 0x0f;
    CHARSET *charset = nullptr;
    if (control & 0x20) charset = urllist_init_charset((control & 0x40) ? "ISO-8859-1" : "UTF-8");
    cat_t cats;
    const bool with_cats = !(control & 0x80);
    if (with_cats) FUZZ_CHECK(category_init(&cats) == 0);

    URLLIST_EXPLODED_URL *rec =
        urllist_explode_charset(url.c_str(), with_cats ? &cats : nullptr, check_mode, flags, charset);
    if (flags & URLLIST_EXPLODE_NOCASE) check_nocase_matches_lowered(rec, url, check_mode, flags, charset);
    if (rec != nullptr) {
        check_record(rec, url, check_mode, flags, with_cats ? &cats : nullptr);
        urllist_free_urllist_exploded_url(rec);
    } else if (with_cats) {
        FUZZ_CHECK(category_search(&cats, URLLIST_CATEGORY_INVALID_URL) >= 0);
    }
    if (with_cats) category_destroy(&cats);
    urllist_free_charset(charset);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    velmora_fuzz::FuzzInput in(data, size);
    const uint8_t control = in.byte();
    // The record keeps pointers into the caller's text, which must outlive it.
    const std::string url = in.rest_text();
    explode_once(control, url);
    return 0;
}
