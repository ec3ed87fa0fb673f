// Configuration text through the store and its accessors. Input: a control
// byte, then configuration text. Bit 0 reads the text as a file (with
// includes of files in a scratch directory, the text itself among them),
// otherwise it is added as program lines; bit 1 makes its first line a
// persistent line; bit 2 removes its second line again. Then every key of
// the text is read back through every accessor.
#include <cstring>
#include <set>
#include <unistd.h>

#include "fuzz_input.h"
#include "velmora/config.h"

namespace {

// Scratch directory holding "main.conf" (the current input) and
// "other.conf" (which includes main.conf back).
class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "/tmp/velmora-config-fuzz-XXXXXX";
        FUZZ_CHECK(mkdtemp(pattern) != nullptr);
        dir_ = pattern;
        write("other.conf", "other value\ninclude main.conf\n");
    }
    ~ScratchDir() {
        unlink(path("main.conf").c_str());
        unlink(path("other.conf").c_str());
        rmdir(dir_.c_str());
    }
    std::string path(const std::string &name) const { return dir_ + "/" + name; }
    void write(const std::string &name, const std::string &text) const {
        FILE *f = std::fopen(path(name).c_str(), "wb");
        FUZZ_CHECK(f != nullptr);
        std::fwrite(text.data(), 1, text.size(), f);
        std::fclose(f);
    }

private:
    std::string dir_;
};

std::string first_token(const std::string &line) { return line.substr(0, line.find(' ')); }

std::string skip_blanks(const std::string &line) {
    size_t start = 0;
    while (start < line.size() && std::isspace(static_cast<unsigned char>(line[start]))) ++start;
    return line.substr(start);
}

// Includes may only name files by plain names (found in the working directory
// or the scratch directory), never absolute or relative paths to elsewhere.
std::string confine_includes(const std::vector<std::string> &lines) {
    std::string text;
    for (const std::string &line : lines) {
        const std::string rest = skip_blanks(line);
        bool outside = rest.rfind("include ", 0) == 0 && first_token(rest.substr(8)).find('/') != std::string::npos;
        text += outside ? "#" + line : line;
        text += '\n';
    }
    if (!text.empty()) text.pop_back();
    return text;
}

void check_key(void *config, const std::string &key) {
    char **tokens = nullptr;
    int count = 0;
    if (config_parse_tokens(config, key.c_str(), &tokens) != 0) {
        FUZZ_CHECK(config_parse_token_count(config, key.c_str(), &count) == 1);
        FUZZ_CHECK(config_parse_tokens_index(config, key.c_str(), &count, 0) == nullptr);
        return;
    }
    FUZZ_CHECK(config_parse_token_count(config, key.c_str(), &count) == 0 && count >= 1);
    for (int i = 0; i < count; ++i) FUZZ_CHECK(tokens[i] != nullptr);
    FUZZ_CHECK(tokens[count] == nullptr && key == tokens[0]);

    char *value = nullptr;
    if (config_parse_line(config, key.c_str(), &value) == 0) {
        FUZZ_CHECK(count >= 2 && std::strncmp(value, tokens[1], std::strlen(tokens[1])) == 0);
        std::free(value);
    } else {
        FUZZ_CHECK(count == 1);
    }
    if (config_parse_string(config, key.c_str(), &value) == 0) {
        FUZZ_CHECK(count >= 2 && std::strcmp(value, tokens[1]) == 0);
        std::free(value);
    }
    for (int index = 0; index < 4; ++index) {
        int n = 0;
        char **line = config_parse_tokens_index(config, key.c_str(), &n, index);
        char *second = config_parse_string_index(config, key.c_str(), index);
        if (line == nullptr) {
            FUZZ_CHECK(second == nullptr);
            continue;
        }
        FUZZ_CHECK(n >= 1 && line[n] == nullptr && key == line[0]);
        if (second != nullptr) FUZZ_CHECK(n >= 2 && second == line[1] && second[0] != '\0');
    }
}

// The module forms build "module->setting" and must agree with the plain
// forms on that key.
void check_module_forms(void *config, const std::string &key) {
    const size_t arrow = key.find("->");
    if (arrow == std::string::npos) return;
    const std::string module = key.substr(0, arrow), setting = key.substr(arrow + 2);
    int plain = 0, by_module = 0;
    FUZZ_CHECK(config_parse_int(config, key.c_str(), &plain) ==
               config_module_parse_int(config, module.c_str(), setting.c_str(), &by_module));
    long long plain_ll = 0, module_ll = 0;
    FUZZ_CHECK(config_parse_size(config, key.c_str(), &plain_ll) ==
               config_module_parse_size(config, module.c_str(), setting.c_str(), &module_ll));
    FUZZ_CHECK(plain_ll == module_ll);
    char *text = nullptr;
    if (config_module_parse_line(config, module.c_str(), setting.c_str(), &text) == 0) std::free(text);
    if (config_module_parse_string_hostname(config, module.c_str(), setting.c_str(), &text) == 0) std::free(text);
    qx_ipaddr ip;
    (void)config_module_parse_ipaddr(config, module.c_str(), setting.c_str(), &ip);
    (void)config_module_parse_boolean(config, module.c_str(), setting.c_str(), &plain);
    (void)config_module_parse_sec(config, module.c_str(), setting.c_str(), &plain);
    (void)config_module_parse_msec(config, module.c_str(), setting.c_str(), &module_ll);
}

// Every typed accessor on the key, with the module-keyed readers given the
// key as module name, and the dumps of what they read.
void check_typed(void *config, const std::string &key) {
    int i = 0;
    long long ll = 0;
    (void)config_parse_int(config, key.c_str(), &i);
    (void)config_parse_longlong(config, key.c_str(), &ll);
    if (config_parse_boolean(config, key.c_str(), &i) == 0) FUZZ_CHECK(i == 0 || i == 1);
    (void)config_parse_sec(config, key.c_str(), &i);
    (void)config_parse_msec(config, key.c_str(), &ll);
    (void)config_parse_size(config, key.c_str(), &ll);
    qx_ipaddr ip;
    qxnet_defaultip(&ip);
    (void)config_parse_ipaddr(config, key.c_str(), &ip);
    char *text = config_dump_ipaddr(key.c_str(), &ip);
    std::free(text);
    if (config_parse_string_hostname(config, key.c_str(), &text) == 0) std::free(text);
    if (config_parse_denypagehost(config, &text) == 0) std::free(text);
    FUZZ_CHECK(config_parse_failure(config, key.c_str(), &i) == 0 && i >= 1 && i <= 3);
    size_t stack = 0;
    (void)config_parse_thread_stacksize(config, key.c_str(), &stack);
    std::free(config_dump_thread_stacksize(key.c_str(), stack));
    for (const char *prefix : {"", key.c_str()}) {
        qxcpuinfo cpu;
        qxcpuinfo_init(&cpu);
        FUZZ_CHECK(config_parse_cpuinfo(config, prefix, &cpu) == 0);
        std::free(config_dump_cpuinfo(prefix, &cpu));
    }
    (void)config_parse_find_name(key.c_str());
    FUZZ_CHECK(config_parse_msec_name(key.c_str()) >= 0 && config_parse_size_name(key.c_str()) >= 0);
    check_module_forms(config, key);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 16384) return 0;
    static ScratchDir scratch;
    velmora_fuzz::FuzzInput in(data, size);
    const uint8_t control = in.byte();
    const std::vector<std::string> lines = velmora_fuzz::split_lines(in.rest_text());

    if ((control & 2) && !lines.empty()) {
        char *persistent = strdup(lines[0].c_str());
        if (config_persistant_add_line(persistent) != 0) std::free(persistent);
    }
    void *config = config_configuration_create();
    FUZZ_CHECK(config != nullptr);
    if (control & 1) {
        scratch.write("main.conf", confine_includes(lines));
        int rc = config_configuration_readfile(config, scratch.path("main.conf").c_str());
        FUZZ_CHECK(rc == 0 || rc == 1);
    } else {
        std::string text;
        for (const std::string &line : lines) text += line + "\n";
        text.pop_back();
        FUZZ_CHECK(config_configuration_add_lines(config, text.data()) == 0);
    }
    if ((control & 4) && lines.size() > 1) {
        int rc = config_configuration_remove_line(config, lines[1].c_str());
        FUZZ_CHECK(rc == 0 || rc == 1);
    }
    std::set<std::string> keys;
    for (const std::string &line : lines) keys.insert(first_token((control & 1) ? skip_blanks(line) : line));
    keys.insert("other");
    for (const std::string &key : keys) {
        check_key(config, key);
        check_typed(config, key);
    }

    config_configuration_free(config);
    config_persistant_terminate();
    return 0;
}
