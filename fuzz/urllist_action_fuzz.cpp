// URL actions: an action word and argument are parsed, carried out on a URL
// (with and without each of the caller's outputs), printed back into buffers
// of every size and released. Regular-expression actions are also chained.
// Input: a control byte, then the lines action word, argument, URL and a
// second argument for chaining.
#include <cstring>

#include "fuzz_input.h"
#include "velmora/category.h"
#include "velmora/urllist_action.h"

namespace {

struct Script {
    std::string word, args, url, chained_args;
    bool null_args = false;
};

Script read_script(velmora_fuzz::FuzzInput &in, uint8_t control) {
    std::vector<std::string> lines = velmora_fuzz::split_lines(in.rest_text());
    lines.resize(4);
    return Script{lines[0], lines[1], lines[2], lines[3], (control & 0x80) != 0};
}

void check_category_set(const cat_t &cats) {
    for (uint32_t i = 1; i < cats.num; ++i) FUZZ_CHECK(cats.catnums[i - 1] < cats.catnums[i]);
}

void check_result(int rc, char *ret_url, char **ret_hdr) {
    FUZZ_CHECK(rc == URLLIST_RESULT_NONE || (rc >= URLLIST_RESULT_ALLOW && rc <= URLLIST_RESULT_LIST));
    if (rc == URLLIST_RESULT_URL) {
        FUZZ_CHECK(ret_url != nullptr);
        (void)std::strlen(ret_url);
    }
    if (rc == URLLIST_RESULT_HEADER) {
        FUZZ_CHECK(ret_hdr != nullptr);
        for (char **line = ret_hdr; *line != nullptr; ++line) (void)std::strlen(*line);
    }
    std::free(ret_url);
    std::free(ret_hdr);
}

// Carries the action out once with every output and once with none.
void process(const URLLIST_ITEM_DATA &item, const std::string &url) {
    cat_t cats;
    FUZZ_CHECK(category_init(&cats) == 0);
    char *ret_url = nullptr;
    char **ret_hdr = nullptr;
    int rc = urllist_action_process_action(&item, &cats, url.c_str(), &ret_url, &ret_hdr);
    check_result(rc, ret_url, ret_hdr);
    check_category_set(cats);
    FUZZ_CHECK(urllist_action_get_category(&item, &cats) == (item.action == UA_CATEGORY ? 1 : 0));
    check_category_set(cats);
    category_destroy(&cats);

    rc = urllist_action_process_action(&item, nullptr, nullptr, nullptr, nullptr);
    FUZZ_CHECK(rc == URLLIST_RESULT_NONE || rc == URLLIST_RESULT_ALLOW || rc == URLLIST_RESULT_DENY ||
               rc == URLLIST_RESULT_LIST);
}

void dump(const URLLIST_ITEM_DATA &item, size_t size) {
    char *buffer = static_cast<char *>(std::malloc(size > 0 ? size : 1));
    FUZZ_CHECK(buffer != nullptr);
    urllist_action_dump_action(&item, buffer, size);
    if (size > 0) FUZZ_CHECK(std::strlen(buffer) < size);
    std::free(buffer);
    FUZZ_CHECK(urllist_action_name(&item) != nullptr);
    int expired = urllist_action_expired(&item);
    FUZZ_CHECK(expired == 0 || expired == 1);
}

URLLIST_ITEM_DATA parse(const std::string &word, const std::string &args, bool null_args, time_t ttl) {
    void *data = reinterpret_cast<void *>(0x1);
    UrlAction action = urllist_action_parse_action(word.c_str(), null_args ? nullptr : args.c_str(), &data);
    FUZZ_CHECK(action >= UA_NONE && action <= UA_ERROR);
    if (action == UA_UNKNOWN || action == UA_ERROR) FUZZ_CHECK(data == nullptr);
    return URLLIST_ITEM_DATA{1, ttl, action, data};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 8192) return 0;
    velmora_fuzz::FuzzInput in(data, size);
    const uint8_t control = in.byte();
    const Script script = read_script(in, control);
    const time_t ttl = (control & 0x40) ? 1 : 0;

    URLLIST_ITEM_DATA item = parse(script.word, script.args, script.null_args, ttl);
    process(item, script.url);
    dump(item, control & 0x3f);

    URLLIST_ITEM_DATA second = parse(script.word, script.chained_args, false, 0);
    if (urllist_action_append_action_data(&item, &second) == 1) {
        FUZZ_CHECK(second.action_data == nullptr);
        process(item, script.url);
        dump(item, 255);
    }
    urllist_action_data_free(&second);
    urllist_action_data_free(&item);
    return 0;
}
