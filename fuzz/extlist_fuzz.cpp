// Extension lists: extensions are added one by one, with category numbers or
// from file text, and looked up in any letter case. Input: a control byte
// (the bucket count, from -8 up), then one operation per line: 'a' add the
// extension, 'c' add "extension numbers" with categories, 'f' and 'F' load
// the rest of the input as a file of extensions or of categories, '?' look
// up. The first data added for an extension is the one every lookup finds.
#include <cctype>
#include <cstring>
#include <map>
#include <optional>

#include "fuzz_input.h"
#include "velmora/category.h"
#include "velmora/extlist.h"

namespace {

char g_cells[64];

bool is_cell(void *data) { return data >= static_cast<void *>(g_cells) && data < static_cast<void *>(g_cells + 64); }

// Category sets are owned by the table; presence marks and cells are not.
void free_categories(void *data) {
    if (data != EXTLIST_PRESENT && !is_cell(data)) category_free(static_cast<cat_t *>(data));
}

std::string lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

class ExtensionScript {
public:
    explicit ExtensionScript(int hash_count)
        : hash_count_(hash_count), table_(extlist_initialize(hash_count, free_categories)) {
        FUZZ_CHECK(table_ != nullptr);
    }
    ~ExtensionScript() { extlist_terminate(table_); }

    void run(char op, const std::string &arg, const std::string &rest, size_t index) {
        int bucket = extlist_create_hash(hash_count_, arg.c_str());
        FUZZ_CHECK(bucket == 0 || (bucket > 0 && bucket < hash_count_));
        switch (op) {
        case 'a': return add(arg, &g_cells[index % sizeof g_cells]);
        case 'c': return add_categories(arg);
        case 'f':
        case 'F': return load(rest, op == 'F');
        case '?': return lookup(arg);
        default: return;
        }
    }

private:
    void add(const std::string &ext, void *data) {
        int rc = extlist_add_item(table_, ext.c_str(), data);
        FUZZ_CHECK(rc == 0 || rc == -1);
        FUZZ_CHECK(rc == 0 || hash_count_ <= 0 || ext.empty());
        if (rc == 0) expected_.try_emplace(lower(ext), data);
    }

    void add_categories(const std::string &arg) {
        const size_t space = arg.find(' ');
        const std::string ext = arg.substr(0, space);
        const std::string cats = space == std::string::npos ? std::string() : arg.substr(space + 1);
        if (extlist_add_category_item(table_, ext.c_str(), cats.c_str()) == 0)
            expected_.try_emplace(lower(ext), std::nullopt);
    }

    // File loads add extensions this script does not track exactly.
    void load(const std::string &text, bool categories) {
        FILE *f = fmemopen(const_cast<char *>(text.data()), text.size(), "r");
        if (f == nullptr) return;
        int added = categories ? extlist_add_category_file(table_, f) : extlist_add_file(table_, f);
        FUZZ_CHECK(added >= 0);
        if (hash_count_ <= 0) FUZZ_CHECK(added == 0);
        std::fclose(f);
        loaded_files_ = true;
    }

    void lookup(const std::string &ext) {
        char *item = nullptr;
        void *data = extlist_lookup_diag(table_, ext.c_str(), &item);
        FUZZ_CHECK(data == extlist_lookup(table_, ext.c_str()));
        if (data != nullptr) {
            FUZZ_CHECK(item != nullptr && lower(ext) == item);
        } else {
            FUZZ_CHECK(item == nullptr);
        }
        std::free(item);
        auto known = expected_.find(lower(ext));
        if (known == expected_.end()) {
            if (!loaded_files_) FUZZ_CHECK(data == nullptr);
            return;
        }
        FUZZ_CHECK(data != nullptr);
        if (!loaded_files_ && known->second.has_value()) FUZZ_CHECK(data == *known->second);
    }

    int hash_count_;
    EXTLIST_TABLE *table_;
    std::map<std::string, std::optional<void *>> expected_;
    bool loaded_files_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 8192) return 0;
    velmora_fuzz::FuzzInput in(data, size);
    const int hash_count = static_cast<int>(in.byte()) - 8;
    const std::string text = in.rest_text();
    ExtensionScript script(hash_count);
    size_t start = 0, index = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        if (!line.empty()) script.run(line[0], line.substr(1), text.substr(std::min(end + 1, text.size())), index++);
        // A file load takes the rest of the input.
        if (!line.empty() && (line[0] == 'f' || line[0] == 'F')) break;
        start = end + 1;
    }
    return 0;
}
