// URL lists fed with list lines and then asked about URLs. Input: a control
// byte (bits 0-2: the hint, 0..5; bit 3: a locking list; bit 4: a charset
// list), then one line each: a line starting with '?' looks the rest up as a
// URL, every other line is loaded as a list line. The plain and the
// diagnostic lookups must agree.
#include <cstring>

#include "fuzz_input.h"
#include "velmora/category.h"
#include "velmora/urllist.h"
#include "velmora/urllist_action.h"
#include "velmora/urllist_explode.h"

namespace {

void check_found_entry(URLLIST_ITEM_DATA *data, const std::string &url) {
    FUZZ_CHECK(data != nullptr);
    char dump[256];
    urllist_action_dump_action(data, dump, sizeof dump);
    FUZZ_CHECK(std::strlen(dump) < sizeof dump);
    char *ret_url = nullptr;
    char **ret_hdr = nullptr;
    (void)urllist_action_process_action(data, nullptr, url.c_str(), &ret_url, &ret_hdr);
    std::free(ret_url);
    std::free(ret_hdr);
}

void lookup(URLLIST *list, const std::string &url) {
    URLLIST_EXPLODED_URL *rec = urllist_explode(url.c_str(), nullptr, 1, 0);
    if (rec != nullptr) {
        URLLIST_ITEM_DATA *data = nullptr, *diag_data = nullptr;
        char *listurl = nullptr;
        int found = urllist_lookup_data(list, rec, &data);
        int diag = urllist_lookup_diag(list, rec, &diag_data, &listurl);
        FUZZ_CHECK(found == diag && data == diag_data);
        if (found == 0) {
            FUZZ_CHECK(listurl != nullptr);
            check_found_entry(data, url);
        }
        std::free(listurl);
        cat_t cats;
        FUZZ_CHECK(category_init(&cats) == 0);
        (void)urllist_lookup_category(list, rec, &cats);
        category_destroy(&cats);
        urllist_free_urllist_exploded_url(rec);
    }
    char *nocase = nullptr;
    URLLIST_ITEM_DATA *data = nullptr;
    (void)urllist_lookup_string_data(list, url.c_str(), &nocase, &data);
    std::free(nocase);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 8192) return 0;
    velmora_fuzz::FuzzInput in(data, size);
    const uint8_t control = in.byte();
    const int hint = (control & 7) % 6;
    const int flags = (control & 8) ? URLLIST_LOCKING : 0;
    URLLIST *list = (control & 16) ? urllist_with_charset_initialize(flags, "ISO-8859-1") : urllist_initialize(flags);
    FUZZ_CHECK(list != nullptr);
    for (const std::string &line : velmora_fuzz::split_lines(in.rest_text())) {
        if (!line.empty() && line[0] == '?') {
            lookup(list, line.substr(1));
            continue;
        }
        std::string copy = line;
        int rc = urllist_add_line(list, copy.data(), hint);
        FUZZ_CHECK(rc <= 0 && rc >= -10);
    }
    urllist_terminate(list);
    return 0;
}
