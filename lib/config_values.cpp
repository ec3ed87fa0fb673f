// Typed configuration values: each accessor reads one setting of a
// configuration and converts it; the dumps write values back as setting lines
// in the syntax the reader accepts.
#include "velmora/config.h"

#include "internal/config_store.h"
#include "velmora/common.h"
#include "velmora/qxif.h"
#include "velmora/qxlog.h"

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <sched.h>
#include <string>
#include <strings.h>

using velmora::config_find_item;
using velmora::config_copy_out;
using velmora::config_value_token;

namespace {

struct TextFree {
    void operator()(char *text) const noexcept { std::free(text); }
};
using OwnedText = std::unique_ptr<char, TextFree>;

constexpr int cpu_count = 1024;
static_assert(CPU_SETSIZE >= cpu_count, "cpu_set_t must hold 1024 CPUs");

struct UnitGroup {
    long long value;
    const char *words[10]; // ends with nullptr
};

constexpr UnitGroup duration_units[] = {
    {1, {"ms", "msec", "msecs", "msecond", "mseconds", "millis", "millisec", "millisecond", "milliseconds"}},
    {1000, {"s", "sec", "secs", "second", "seconds"}},
    {60000, {"m", "min", "mins", "minute", "minutes"}},
    {3600000, {"h", "hour", "hours"}},
    {86400000, {"d", "day", "days"}},
};

// Words ending in "bit" or "bits" count bits: their value is an eighth of the
// byte value of the same prefix. The binary tera words begin with "teb".
constexpr UnitGroup size_units[] = {
    {1000LL, {"k", "kb", "kbs", "kilo", "kilos", "kbyte", "kbytes", "kilobyte", "kilobytes"}},
    {125LL, {"kbit", "kbits", "kilobit", "kilobits"}},
    {1024LL, {"kib", "kibs", "kibyte", "kibytes", "kibibyte", "kibibytes"}},
    {128LL, {"kibit", "kibits", "kibibit", "kibibits"}},
    {1000000LL, {"m", "mb", "mbs", "meg", "megs", "mbyte", "mbytes", "megabyte", "megabytes"}},
    {125000LL, {"mbit", "mbits", "megabit", "megabits"}},
    {1048576LL, {"mib", "mibs", "mibyte", "mibytes", "mebibyte", "mebibytes"}},
    {131072LL, {"mibit", "mibits", "mebibit", "mebibits"}},
    {1000000000LL, {"g", "gb", "gbs", "gig", "gigs", "gbyte", "gbytes", "gigabyte", "gigabytes"}},
    {125000000LL, {"gbit", "gbits", "gigabit", "gigabits"}},
    {1073741824LL, {"gib", "gibs", "gibyte", "gibytes", "gibibyte", "gibibytes"}},
    {134217728LL, {"gibit", "gibits", "gibibit", "gibibits"}},
    {1000000000000LL, {"t", "tb", "tbs", "tera", "teras", "tbyte", "tbytes", "terabyte", "terabytes"}},
    {125000000000LL, {"tbit", "tbits", "terabit", "terabits"}},
    {1099511627776LL, {"teb", "tebs", "tebyte", "tebytes", "tebibyte", "tebibytes"}},
    {137438953472LL, {"tebit", "tebits", "tebibit", "tebibits"}},
};

struct NamedScheduler {
    const char *name;
    int policy;
};

constexpr NamedScheduler schedulers[] = {
    {"SCHED_OTHER", 0},
    {"SCHED_FIFO", 1},
    {"SCHED_RR", 2},
    {"SCHED_BATCH", 3},
};

template <size_t N>
long long unit_value(const UnitGroup (&groups)[N], const char *word) noexcept
{
    for (const UnitGroup &group : groups) {
        for (const char *const *candidate = group.words; *candidate != nullptr; candidate++) {
            if (strcasecmp(*candidate, word) == 0)
                return group.value;
        }
    }
    return 0;
}

long long second_unit_value(const char *word) noexcept
{
    return config_parse_msec_name(word) / 1000;
}

bool is_digit(char c) noexcept
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// The decimal number from begin to exactly end, as strtoll reads it (leading
// white space and a sign allowed, no range test). A text without digits is no
// number: it must not read as 0.
bool read_number(const char *begin, const char *end, long long &out) noexcept
{
    char *stop = nullptr;
    long long number = std::strtoll(begin, &stop, 10);
    if (stop == begin || stop != end)
        return false;
    out = number;
    return true;
}

bool read_whole_number(const char *text, long long &out) noexcept
{
    return read_number(text, text + std::strlen(text), out);
}

// The two texts joined into a new key; nullptr when either is NULL or the key
// cannot be allocated.
OwnedText join_key(const char *first, const char *second, const char *separator = "") noexcept
{
    if (first == nullptr || second == nullptr)
        return nullptr;
    char *key = nullptr;
    if (asprintf(&key, "%s%s%s", first, separator, second) < 0)
        return nullptr;
    return OwnedText(key);
}

// Calls a plain accessor with the key "module->setting".
template <typename Result, typename Plain, typename... Outputs>
Result with_module_key(Result failure, Plain plain, void *config, const char *module, const char *setting,
                       Outputs... outputs) noexcept
{
    OwnedText key = join_key(module, setting, "->");
    if (!key)
        return failure;
    return plain(config, key.get(), outputs...);
}

char *malloc_copy(const std::string &text) noexcept
{
    auto *copy = static_cast<char *>(std::malloc(text.size() + 1));
    if (copy != nullptr)
        std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

const char *first_nonempty_token(const configuration_item *item, int from) noexcept
{
    for (int i = from; i < item->token_count; i++) {
        if (item->tokens[i][0] != '\0')
            return item->tokens[i];
    }
    return nullptr;
}

using UnitValue = long long (*)(const char *word) noexcept;

// A number with an optional unit, either directly behind it ("90s") or as the
// next non-empty word ("90 seconds"), times the unit's value. Fails for an
// unknown unit, a multiplier below 1, a value without digits and a product
// that does not fit.
std::optional<long long> scaled_value(void *config, const char *key, UnitValue value_of_unit) noexcept
{
    const configuration_item *item = config_find_item(config, key);
    if (item == nullptr || item->token_count < 2)
        return std::nullopt;
    const char *token = item->tokens[1];
    const char *number_end = token + std::strlen(token);
    long long multiplier = 1;
    if (const char *unit = config_parse_find_name(token)) {
        multiplier = value_of_unit(unit);
        number_end = unit;
    } else if (const char *word = first_nonempty_token(item, 2)) {
        multiplier = value_of_unit(word);
    }
    long long number = 0;
    long long product = 0;
    if (multiplier < 1 || !read_number(token, number_end, number) ||
        __builtin_mul_overflow(number, multiplier, &product))
        return std::nullopt;
    return product;
}

int failure_mode_of(const char *token) noexcept
{
    if (token == nullptr)
        return CONFIG_FAILURE_OTHER;
    if (strcasecmp(token, "shutdown") == 0)
        return CONFIG_FAILURE_SHUTDOWN;
    if (strcasecmp(token, "denypage") == 0)
        return CONFIG_FAILURE_DENYPAGE;
    return CONFIG_FAILURE_OTHER;
}

// The value token of the module's own key, else of the shared key.
const char *module_or_shared_token(void *config, const char *modulename, const char *suffix,
                                   const char *shared_key) noexcept
{
    OwnedText module_key = join_key(modulename, suffix);
    const char *token = config_value_token(config, module_key.get());
    return token != nullptr ? token : config_value_token(config, shared_key);
}

int interface_address(const char *key, const char *token, char **value) noexcept
{
    constexpr size_t prefix_length = sizeof "$IPADDR_" - 1;
    struct in_addr address {};
    if (qxif_get_ipv4_addr(token + prefix_length, &address) != 0) {
        char reason[128];
        const char *text = strerror_r(errno, reason, sizeof reason);
        qxlog_send(QXLOG_ERROR, "config: couldnt convert ipaddr for '%s' = '%s': %s.  Expected valid ipv4 device name\n",
                   key, token, text);
        return 1;
    }
    char dotted[INET_ADDRSTRLEN];
    if (inet_ntop(AF_INET, &address, dotted, sizeof dotted) == nullptr)
        return 1;
    return config_copy_out(dotted, value);
}

// Examines every word after the key: "ALL" ends the examination with no
// restriction; CPU numbers up to 1024 restrict the placement, those below 1024
// join the set; empty words and negative or larger numbers are ignored.
void read_affinity(const configuration_item *item, qxcpuinfo *cpuinfo) noexcept
{
    for (int i = 1; i < item->token_count; i++) {
        const char *token = item->tokens[i];
        if (strcasecmp(token, "ALL") == 0) {
            cpuinfo->affinity_all = 1;
            return;
        }
        if (token[0] == '\0')
            continue;
        long cpu = std::strtol(token, nullptr, 10);
        if (cpu < 0 || cpu > cpu_count)
            continue;
        cpuinfo->affinity_all = 0;
        if (cpu < cpu_count)
            CPU_SET(static_cast<size_t>(cpu), &cpuinfo->affinity_set);
    }
}

void read_scheduler(const char *token, qxcpuinfo *cpuinfo) noexcept
{
    if (token == nullptr)
        return;
    for (const NamedScheduler &scheduler : schedulers) {
        if (strcasecmp(token, scheduler.name) == 0) {
            cpuinfo->scheduler = scheduler.policy;
            cpuinfo->scheduler_set = 1;
            return;
        }
    }
}

const char *scheduler_name(int policy) noexcept
{
    for (const NamedScheduler &scheduler : schedulers) {
        if (scheduler.policy == policy)
            return scheduler.name;
    }
    return "SCHED_OTHER";
}

std::string cpuinfo_lines(const char *prefix, const qxcpuinfo *cpuinfo)
{
    std::string text(prefix);
    text += "thread_affinity";
    if (cpuinfo->affinity_all != 0) {
        text += " ALL";
    } else {
        for (int cpu = 0; cpu < cpu_count; cpu++) {
            if (CPU_ISSET(static_cast<size_t>(cpu), &cpuinfo->affinity_set))
                text += " " + std::to_string(cpu);
        }
    }
    text += "\n";
    if (cpuinfo->priority_set != 0)
        text += std::string(prefix) + "thread_priority " + std::to_string(cpuinfo->priority) + "\n";
    if (cpuinfo->scheduler_set != 0)
        text += std::string(prefix) + "thread_scheduler " + scheduler_name(cpuinfo->scheduler) + "\n";
    return text;
}

} // namespace

extern "C" {

/* ---- Converted values ---- */

int config_parse_int(void *config, const char *setting, int *value) noexcept
{
    long long number = 0;
    if (value == nullptr || config_parse_longlong(config, setting, &number) != 0)
        return 1;
    // No range test: the value is truncated to 32 bits.
    *value = static_cast<int>(number);
    return 0;
}

int config_parse_longlong(void *config, const char *setting, long long *value) noexcept
{
    const char *token = config_value_token(config, setting);
    long long number = 0;
    if (token == nullptr || value == nullptr || !read_whole_number(token, number))
        return 1;
    *value = number;
    return 0;
}

int config_parse_boolean(void *config, const char *setting, int *value) noexcept
{
    static constexpr const char *true_words[] = {"yes", "y", "on", "true"};
    static constexpr const char *false_words[] = {"no", "n", "off", "false"};
    const char *token = config_value_token(config, setting);
    if (token == nullptr || value == nullptr)
        return 1;
    for (const char *word : true_words) {
        if (strcasecmp(token, word) == 0) {
            *value = 1;
            return 0;
        }
    }
    for (const char *word : false_words) {
        if (strcasecmp(token, word) == 0) {
            *value = 0;
            return 0;
        }
    }
    *value = std::strtol(token, nullptr, 10) != 0 ? 1 : 0;
    return 0;
}

int config_parse_sec(void *config, const char *setting, int *value) noexcept
{
    std::optional<long long> seconds = scaled_value(config, setting, second_unit_value);
    if (!seconds || value == nullptr)
        return 1;
    *value = static_cast<int>(*seconds);
    return 0;
}

int config_parse_msec(void *config, const char *setting, long long *value) noexcept
{
    std::optional<long long> milliseconds = scaled_value(config, setting, config_parse_msec_name);
    if (!milliseconds || value == nullptr)
        return 1;
    *value = *milliseconds;
    return 0;
}

int config_parse_size(void *config, const char *setting, long long *value) noexcept
{
    std::optional<long long> bytes = scaled_value(config, setting, config_parse_size_name);
    if (!bytes || value == nullptr)
        return 1;
    *value = *bytes;
    return 0;
}

int config_parse_ipaddr(void *config, const char *config_name, qx_ipaddr *ipaddr) noexcept
{
    const char *token = config_value_token(config, config_name);
    if (token == nullptr || ipaddr == nullptr)
        return 1;
    if (qxnet_aton(token, ipaddr) != 0)
        return 1;
    // Only the canonical form is accepted: the address must print back as written.
    char printed[INET6_ADDRSTRLEN];
    if (inet_ntop(ipaddr->family, &ipaddr->addr, printed, sizeof printed) == nullptr)
        return 1;
    return std::strcmp(printed, token) == 0 ? 0 : 1;
}

int config_parse_string_hostname(void *config, const char *name, char **value) noexcept
{
    if (config == nullptr || value == nullptr)
        return 1;
    const char *token = config_value_token(config, name);
    // An empty word names no host, just like a missing one.
    if (token == nullptr || token[0] == '\0' || std::strcmp(token, "$HOSTNAME") == 0)
        return config_get_envhostname(value);
    if (std::strncmp(token, "$IPADDR_", sizeof "$IPADDR_" - 1) == 0)
        return interface_address(name, token, value);
    return config_copy_out(token, value);
}

int config_parse_denypagehost(void *config, char **value) noexcept
{
    return config_parse_string_hostname(config, "deny_page_host", value);
}

int config_get_envhostname(char **value) noexcept
{
    const char *hostname = std::getenv("HOSTNAME");
    if (hostname == nullptr || value == nullptr)
        return 1;
    return config_copy_out(hostname, value);
}

int config_parse_failure(void *config, const char *modulename, int *value) noexcept
{
    if (value == nullptr)
        return 0;
    if (modulename == nullptr) {
        *value = CONFIG_FAILURE_DENYPAGE;
        return 0;
    }
    *value = failure_mode_of(module_or_shared_token(config, modulename, "_failure", "failure"));
    return 0;
}

int config_parse_thread_stacksize(void *config, const char *modulename, size_t *value) noexcept
{
    if (value == nullptr)
        return 1;
    const char *token = nullptr;
    if (modulename != nullptr)
        token = module_or_shared_token(config, modulename, "_thread_stacksize", "thread_stacksize");
    // Only a whole positive number of bytes is a usable stack size; anything
    // else (a unit word, a negative number, 0) counts as not configured.
    long long size = 0;
    if (token == nullptr || !read_whole_number(token, size) || size <= 0) {
        *value = CONFIG_DEFAULT_THREAD_STACKSIZE;
        return 1;
    }
    *value = static_cast<size_t>(size);
    return 0;
}

int config_parse_cpuinfo(void *config, const char *modulename, qxcpuinfo *cpuinfo) noexcept
{
    if (cpuinfo == nullptr)
        return 0;
    // A NULL prefix is taken as no prefix.
    const char *prefix = modulename != nullptr ? modulename : "";
    OwnedText affinity_key = join_key(prefix, "thread_affinity");
    if (const configuration_item *item = config_find_item(config, affinity_key.get()))
        read_affinity(item, cpuinfo);
    if (cpuinfo->affinity_all != 0) {
        for (int cpu = 0; cpu < cpu_count; cpu++)
            CPU_SET(static_cast<size_t>(cpu), &cpuinfo->affinity_set);
    }
    OwnedText priority_key = join_key(prefix, "thread_priority");
    int priority = 0;
    if (config_parse_int(config, priority_key.get(), &priority) == 0) {
        cpuinfo->priority = priority;
        cpuinfo->priority_set = 1;
    }
    OwnedText scheduler_key = join_key(prefix, "thread_scheduler");
    read_scheduler(config_value_token(config, scheduler_key.get()), cpuinfo);
    return 0;
}

/* ---- Unit words ---- */

const char *config_parse_find_name(const char *name) noexcept
{
    if (name == nullptr || name[0] == '\0')
        return nullptr;
    const char *position = name;
    if (*position == '-') {
        if (!is_digit(position[1]))
            return nullptr;
        position++;
    }
    while (is_digit(*position))
        position++;
    return *position == '\0' ? nullptr : position;
}

long long config_parse_msec_name(const char *name) noexcept
{
    return name == nullptr ? 0 : unit_value(duration_units, name);
}

long long config_parse_size_name(const char *name) noexcept
{
    return name == nullptr ? 0 : unit_value(size_units, name);
}

/* ---- Dumps ---- */

char *config_dump_cpuinfo(const char *modulename, const qxcpuinfo *cpuinfo) noexcept
{
    if (cpuinfo == nullptr)
        return nullptr;
    try {
        return malloc_copy(cpuinfo_lines(modulename != nullptr ? modulename : "", cpuinfo));
    } catch (const std::bad_alloc &) {
        return nullptr;
    }
}

char *config_dump_thread_stacksize(const char *modulename, size_t value) noexcept
{
    if (modulename == nullptr)
        return nullptr;
    // The whole size is written: cutting it to 32 bits would read back as a
    // different size.
    char *text = nullptr;
    if (asprintf(&text, "%s_thread_stacksize %zu\n", modulename, value) < 0)
        return nullptr;
    return text;
}

char *config_dump_ipaddr(const char *modulename, const qx_ipaddr *ipaddr) noexcept
{
    if (modulename == nullptr || ipaddr == nullptr)
        return nullptr;
    char printed[INET6_ADDRSTRLEN];
    if (inet_ntop(ipaddr->family, &ipaddr->addr, printed, sizeof printed) == nullptr)
        return nullptr;
    char *text = nullptr;
    if (asprintf(&text, "%s %s\n", modulename, printed) < 0)
        return nullptr;
    return text;
}

/* ---- Module forms ---- */

int config_module_parse_line(void *config, const char *module, const char *setting, char **value) noexcept
{
    return with_module_key(1, config_parse_line, config, module, setting, value);
}

int config_module_parse_token_count(void *config, const char *module, const char *setting, int *value) noexcept
{
    return with_module_key(1, config_parse_token_count, config, module, setting, value);
}

int config_module_parse_tokens(void *config, const char *module, const char *setting, char ***value) noexcept
{
    return with_module_key(1, config_parse_tokens, config, module, setting, value);
}

char **config_module_parse_tokens_index(void *config, const char *module, const char *setting, int *count,
                                        int index) noexcept
{
    return with_module_key<char **>(nullptr, config_parse_tokens_index, config, module, setting, count, index);
}

char *config_module_parse_string_index(void *config, const char *module, const char *setting, int index) noexcept
{
    return with_module_key<char *>(nullptr, config_parse_string_index, config, module, setting, index);
}

int config_module_parse_string(void *config, const char *module, const char *setting, char **value) noexcept
{
    return with_module_key(1, config_parse_string, config, module, setting, value);
}

int config_module_parse_string_hostname(void *config, const char *module, const char *setting,
                                        char **value) noexcept
{
    return with_module_key(1, config_parse_string_hostname, config, module, setting, value);
}

int config_module_parse_ipaddr(void *config, const char *module, const char *setting, qx_ipaddr *ipaddr) noexcept
{
    return with_module_key(1, config_parse_ipaddr, config, module, setting, ipaddr);
}

int config_module_parse_int(void *config, const char *module, const char *setting, int *value) noexcept
{
    return with_module_key(1, config_parse_int, config, module, setting, value);
}

int config_module_parse_longlong(void *config, const char *module, const char *setting, long long *value) noexcept
{
    return with_module_key(1, config_parse_longlong, config, module, setting, value);
}

int config_module_parse_boolean(void *config, const char *module, const char *setting, int *value) noexcept
{
    return with_module_key(1, config_parse_boolean, config, module, setting, value);
}

int config_module_parse_sec(void *config, const char *module, const char *setting, int *value) noexcept
{
    return with_module_key(1, config_parse_sec, config, module, setting, value);
}

int config_module_parse_msec(void *config, const char *module, const char *setting, long long *value) noexcept
{
    return with_module_key(1, config_parse_msec, config, module, setting, value);
}

int config_module_parse_size(void *config, const char *module, const char *setting, long long *value) noexcept
{
    return with_module_key(1, config_parse_size, config, module, setting, value);
}

} // extern "C"
