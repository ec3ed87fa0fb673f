#include "config_fixture.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using velmora_test::ConfigTest;
using velmora_test::Lines;
using velmora_test::take;

TEST_F(ConfigTest, ModuleFormsJoinModuleAndSettingWithArrow)
{
    add("web->port 8080");
    add("web->timeout 2 minutes");
    add("web->cache 4MiB");
    add("web->on yes");
    add("web->server 10.0.0.1");
    add("web->host example.org");
    int number = 0;
    long long big = 0;
    EXPECT_EQ(config_module_parse_int(config, "web", "port", &number), 0);
    EXPECT_EQ(number, 8080);
    EXPECT_EQ(config_module_parse_longlong(config, "web", "port", &big), 0);
    EXPECT_EQ(big, 8080);
    EXPECT_EQ(config_module_parse_token_count(config, "web", "timeout", &number), 0);
    EXPECT_EQ(number, 3);
    EXPECT_EQ(config_module_parse_sec(config, "web", "timeout", &number), 0);
    EXPECT_EQ(number, 120);
    EXPECT_EQ(config_module_parse_msec(config, "web", "timeout", &big), 0);
    EXPECT_EQ(big, 120000);
    EXPECT_EQ(config_module_parse_size(config, "web", "cache", &big), 0);
    EXPECT_EQ(big, 4194304);
    EXPECT_EQ(config_module_parse_boolean(config, "web", "on", &number), 0);
    EXPECT_EQ(number, 1);
    qx_ipaddr address{};
    EXPECT_EQ(config_module_parse_ipaddr(config, "web", "server", &address), 0);
    char *text = nullptr;
    EXPECT_EQ(config_module_parse_string_hostname(config, "web", "host", &text), 0);
    EXPECT_EQ(take(text), "example.org");
    EXPECT_EQ(config_module_parse_string(config, "web", "timeout", &text), 0);
    EXPECT_EQ(take(text), "2");
    EXPECT_EQ(config_module_parse_line(config, "web", "timeout", &text), 0);
    EXPECT_EQ(take(text), "2 minutes");
    char **tokens = nullptr;
    EXPECT_EQ(config_module_parse_tokens(config, "web", "timeout", &tokens), 0);
    EXPECT_STREQ(tokens[2], "minutes");
    EXPECT_NE(config_module_parse_tokens_index(config, "web", "timeout", &number, 0), nullptr);
    EXPECT_STREQ(config_module_parse_string_index(config, "web", "port", 0), "8080");

    EXPECT_EQ(config_module_parse_int(config, nullptr, "port", &number), 1);
    EXPECT_EQ(config_module_parse_int(config, "web", nullptr, &number), 1);
    EXPECT_EQ(config_module_parse_string_index(config, nullptr, "port", 0), nullptr);
}

// ---- Converted values: one table per accessor family ----

struct NumberCase {
    const char *line;
    int result;
    long long value;
};

class ConfigNumberTest : public ConfigTest, public ::testing::WithParamInterface<NumberCase> {};

TEST_P(ConfigNumberTest, IntAndLongLongNeedTheWholeTokenToBeANumber)
{
    add(GetParam().line);
    int number = -7;
    long long big = -7;
    ASSERT_EQ(config_parse_int(config, "n", &number), GetParam().result);
    ASSERT_EQ(config_parse_longlong(config, "n", &big), GetParam().result);
    long long expected = GetParam().result == 0 ? GetParam().value : -7;
    EXPECT_EQ(big, expected);
    EXPECT_EQ(number, static_cast<int>(expected)) << "int keeps the low 32 bits";
}

INSTANTIATE_TEST_SUITE_P(Cases, ConfigNumberTest,
                         ::testing::Values(NumberCase{"n 8080", 0, 8080}, NumberCase{"n -12", 0, -12},
                                           NumberCase{"n +5 extra words", 0, 5}, NumberCase{"n 8080x", 1, 0},
                                           NumberCase{"n", 1, 0}, NumberCase{"n abc", 1, 0},
                                           // An empty value token holds no digits: not 0.
                                           NumberCase{"n  5", 1, 0}, NumberCase{"n 4294967297", 0, 4294967297LL}));

struct BooleanCase {
    const char *line;
    int result;
    int value;
};

class ConfigBooleanTest : public ConfigTest, public ::testing::WithParamInterface<BooleanCase> {};

TEST_P(ConfigBooleanTest, WordsAndNumbers)
{
    add(GetParam().line);
    int value = -1;
    EXPECT_EQ(config_parse_boolean(config, "enabled", &value), GetParam().result);
    EXPECT_EQ(value, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConfigBooleanTest,
                         ::testing::Values(BooleanCase{"enabled ON", 0, 1}, BooleanCase{"enabled Yes", 0, 1},
                                           BooleanCase{"enabled y", 0, 1}, BooleanCase{"enabled TRUE", 0, 1},
                                           BooleanCase{"enabled 0", 0, 0}, BooleanCase{"enabled no", 0, 0},
                                           BooleanCase{"enabled N", 0, 0}, BooleanCase{"enabled Off", 0, 0},
                                           BooleanCase{"enabled false", 0, 0}, BooleanCase{"enabled 7", 0, 1},
                                           BooleanCase{"enabled maybe", 0, 0}, BooleanCase{"enabled", 1, -1}));

struct DurationCase {
    const char *line;
    std::optional<long long> msec;
    std::optional<int> sec;
};

class ConfigDurationTest : public ConfigTest, public ::testing::WithParamInterface<DurationCase> {};

TEST_P(ConfigDurationTest, UnitBehindTheNumberOrAsNextWord)
{
    add(GetParam().line);
    long long msec = -1;
    int sec = -1;
    EXPECT_EQ(config_parse_msec(config, "timeout", &msec), GetParam().msec ? 0 : 1);
    EXPECT_EQ(msec, GetParam().msec.value_or(-1));
    EXPECT_EQ(config_parse_sec(config, "timeout", &sec), GetParam().sec ? 0 : 1);
    EXPECT_EQ(sec, GetParam().sec.value_or(-1));
}

const std::optional<long long> no_msec;
const std::optional<int> no_sec;

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigDurationTest,
    ::testing::Values(DurationCase{"timeout 2m", 120000, 120}, DurationCase{"timeout 2 minutes", 120000, 120},
                      DurationCase{"timeout 2", 2, 2}, DurationCase{"timeout 2 ", 2, 2},
                      DurationCase{"timeout 2  MIN", 120000, 120}, DurationCase{"timeout 90s", 90000, 90},
                      DurationCase{"timeout 90 s", 90000, 90}, DurationCase{"timeout 90 seconds", 90000, 90},
                      DurationCase{"timeout 1d", 86400000, 86400}, DurationCase{"timeout 3 Hours", 10800000, 10800},
                      DurationCase{"timeout -3s", -3000, -3}, DurationCase{"timeout 500ms", 500, no_sec},
                      DurationCase{"timeout 2 fortnights", no_msec, no_sec},
                      DurationCase{"timeout 1.5h", no_msec, no_sec}, DurationCase{"timeout", no_msec, no_sec},
                      // Texts without digits are no durations.
                      DurationCase{"timeout s", no_msec, no_sec}, DurationCase{"timeout -x", no_msec, no_sec},
                      DurationCase{"timeout  5s", no_msec, no_sec},
                      // A product that does not fit is refused instead of overflowing.
                      DurationCase{"timeout 9223372036854775807d", no_msec, no_sec}));

struct SizeCase {
    const char *line;
    std::optional<long long> bytes;
};

class ConfigSizeTest : public ConfigTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(ConfigSizeTest, UnitWordsInBytesAndBits)
{
    add(GetParam().line);
    long long bytes = -1;
    EXPECT_EQ(config_parse_size(config, "cache", &bytes), GetParam().bytes ? 0 : 1);
    EXPECT_EQ(bytes, GetParam().bytes.value_or(-1));
}

INSTANTIATE_TEST_SUITE_P(Cases, ConfigSizeTest,
                         ::testing::Values(SizeCase{"cache 4MiB", 4194304}, SizeCase{"cache 8 kbit", 1000},
                                           SizeCase{"cache 1 tib", std::nullopt}, SizeCase{"cache 1teb", 1099511627776LL},
                                           SizeCase{"cache 2 GB", 2000000000}, SizeCase{"cache 3m", 3000000},
                                           SizeCase{"cache 10", 10}, SizeCase{"cache 1 tebibits", 137438953472LL},
                                           SizeCase{"cache 5 KiBytes", 5120}, SizeCase{"cache 1 gibit", 134217728},
                                           SizeCase{"cache 1 bytes", std::nullopt},
                                           SizeCase{"cache 99999999 teb", std::nullopt}));

TEST(ConfigUnitWords, TablesAndUnitSplit)
{
    struct WordCase {
        const char *word;
        long long msec;
        long long bytes;
    };
    const WordCase words[] = {
        {"ms", 1, 0},       {"MilliSeconds", 1, 0}, {"sec", 1000, 0},         {"M", 60000, 1000000},
        {"hours", 3600000, 0}, {"day", 86400000, 0}, {"k", 0, 1000},          {"kilos", 0, 1000},
        {"kibibytes", 0, 1024}, {"kibits", 0, 128}, {"megs", 0, 1000000},     {"mebibit", 0, 131072},
        {"gig", 0, 1000000000}, {"gbits", 0, 125000000}, {"teras", 0, 1000000000000LL},
        {"terabit", 0, 125000000000LL}, {"tib", 0, 0}, {"", 0, 0},            {"weeks", 0, 0},
    };
    for (const WordCase &c : words) {
        EXPECT_EQ(config_parse_msec_name(c.word), c.msec) << c.word;
        EXPECT_EQ(config_parse_size_name(c.word), c.bytes) << c.word;
    }

    struct SplitCase {
        const char *text;
        std::optional<size_t> unit_at;
    };
    const SplitCase splits[] = {
        {"90s", 2}, {"-5ms", 2}, {"abc", 0}, {"1.5h", 1}, {"90", std::nullopt},
        {"-90", std::nullopt}, {"-x", std::nullopt}, {"", std::nullopt},
    };
    for (const SplitCase &c : splits) {
        const char *expected = c.unit_at ? c.text + *c.unit_at : nullptr;
        EXPECT_EQ(config_parse_find_name(c.text), expected) << c.text;
    }
}

struct AddressCase {
    const char *token;
    int result;
    int family;
};

class ConfigAddressTest : public ConfigTest, public ::testing::WithParamInterface<AddressCase> {};

TEST_P(ConfigAddressTest, OnlyTheCanonicalFormIsAccepted)
{
    add(std::string("server ") + GetParam().token);
    qx_ipaddr address{};
    ASSERT_EQ(config_parse_ipaddr(config, "server", &address), GetParam().result);
    EXPECT_EQ(address.family, GetParam().family);
    if (GetParam().result == 0) {
        EXPECT_EQ(take(config_dump_ipaddr("server", &address)), std::string("server ") + GetParam().token + "\n");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ConfigAddressTest,
                         ::testing::Values(AddressCase{"10.0.0.1", 0, AF_INET}, AddressCase{"10.0.0.01", 1, AF_INET},
                                           AddressCase{"2001:db8::1", 0, AF_INET6},
                                           AddressCase{"2001:DB8::1", 1, AF_INET6}, AddressCase{"::0:1", 1, AF_INET6},
                                           AddressCase{"bogus", 1, AF_INET}));

TEST_F(ConfigTest, AddressFailureOutputs)
{
    add("server bogus");
    qx_ipaddr address{};
    address.family = AF_INET;
    address.addr.ip = htonl(0x0a000001);
    ASSERT_EQ(config_parse_ipaddr(config, "server", &address), 1);
    EXPECT_EQ(address.addr.ip, 0xffffffffu) << "a failed parse leaves the default address";
    address.addr.ip = htonl(0x0a000001);
    ASSERT_EQ(config_parse_ipaddr(config, "absent", &address), 1);
    EXPECT_EQ(address.addr.ip, htonl(0x0a000001)) << "no value: untouched";
    EXPECT_EQ(config_dump_ipaddr(nullptr, &address), nullptr);
}

// ---- Host names ----

class ConfigHostnameTest : public ConfigTest {
protected:
    void SetUp() override
    {
        ConfigTest::SetUp();
        if (const char *old = std::getenv("HOSTNAME"))
            saved = old;
        setenv("HOSTNAME", "envhost.example", 1);
    }
    void TearDown() override
    {
        if (saved)
            setenv("HOSTNAME", saved->c_str(), 1);
        else
            unsetenv("HOSTNAME");
        ConfigTest::TearDown();
    }
    std::string hostname(const char *key, int expected_result = 0)
    {
        char *value = nullptr;
        EXPECT_EQ(config_parse_string_hostname(config, key, &value), expected_result) << key;
        return take(value);
    }
    std::optional<std::string> saved;
};

TEST_F(ConfigHostnameTest, SubstitutesEnvironmentAndInterfaceAddresses)
{
    add("deny_page_host $HOSTNAME");
    add("plain web.example.org other");
    add("empty ");
    add("loopback $IPADDR_lo");
    char *value = nullptr;
    ASSERT_EQ(config_parse_denypagehost(config, &value), 0);
    EXPECT_EQ(take(value), "envhost.example");
    EXPECT_EQ(hostname("plain"), "web.example.org");
    EXPECT_EQ(hostname("absent"), "envhost.example");
    EXPECT_EQ(hostname("empty"), "envhost.example");
    EXPECT_EQ(hostname("loopback"), "127.0.0.1");
    EXPECT_EQ(config_parse_string_hostname(nullptr, "plain", &value), 1);

    unsetenv("HOSTNAME");
    EXPECT_EQ(hostname("absent", 1), "(null)");
    EXPECT_EQ(config_get_envhostname(&value), 1);
}

TEST_F(ConfigHostnameTest, UnknownInterfaceFailsWithMessage)
{
    add("host $IPADDR_nosuchif0");
    testing::internal::CaptureStderr();
    EXPECT_EQ(hostname("host", 1), "(null)");
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("config: couldnt convert ipaddr for 'host' = '$IPADDR_nosuchif0': "), std::string::npos)
        << err;
    EXPECT_NE(err.find(".  Expected valid ipv4 device name\n"), std::string::npos) << err;
}

// ---- Failure mode and stack size ----

struct ModuleCase {
    Lines lines;
    const char *module;
    int result;
    long long value;
};

class ConfigFailureTest : public ConfigTest, public ::testing::WithParamInterface<ModuleCase> {};

TEST_P(ConfigFailureTest, ModuleKeyThenSharedKey)
{
    for (const std::string &line : GetParam().lines)
        add(line);
    int mode = -1;
    EXPECT_EQ(config_parse_failure(config, GetParam().module, &mode), 0);
    EXPECT_EQ(mode, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigFailureTest,
    ::testing::Values(ModuleCase{{"web_failure SHUTDOWN"}, "web", 0, CONFIG_FAILURE_SHUTDOWN},
                      ModuleCase{{"failure DenyPage"}, "web", 0, CONFIG_FAILURE_DENYPAGE},
                      ModuleCase{{"web_failure", "failure shutdown"}, "web", 0, CONFIG_FAILURE_SHUTDOWN},
                      ModuleCase{{"web_failure ignore", "failure shutdown"}, "web", 0, CONFIG_FAILURE_OTHER},
                      ModuleCase{{"mail_failure shutdown"}, "web", 0, CONFIG_FAILURE_OTHER},
                      ModuleCase{{}, "web", 0, CONFIG_FAILURE_OTHER},
                      ModuleCase{{"failure shutdown"}, nullptr, 0, CONFIG_FAILURE_DENYPAGE}));

class ConfigStacksizeTest : public ConfigTest, public ::testing::WithParamInterface<ModuleCase> {};

TEST_P(ConfigStacksizeTest, ModuleKeyThenSharedKeyElseDefault)
{
    for (const std::string &line : GetParam().lines)
        add(line);
    size_t size = 1;
    EXPECT_EQ(config_parse_thread_stacksize(config, GetParam().module, &size), GetParam().result);
    EXPECT_EQ(size, static_cast<size_t>(GetParam().value));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConfigStacksizeTest,
    ::testing::Values(ModuleCase{{"web_thread_stacksize 1048576", "thread_stacksize 65536"}, "web", 0, 1048576},
                      ModuleCase{{"thread_stacksize 65536"}, "web", 0, 65536},
                      ModuleCase{{}, "web", 1, CONFIG_DEFAULT_THREAD_STACKSIZE},
                      ModuleCase{{"thread_stacksize 65536"}, nullptr, 1, CONFIG_DEFAULT_THREAD_STACKSIZE},
                      // Unusable sizes count as not configured.
                      ModuleCase{{"thread_stacksize 512k"}, "web", 1, CONFIG_DEFAULT_THREAD_STACKSIZE},
                      ModuleCase{{"thread_stacksize -1"}, "web", 1, CONFIG_DEFAULT_THREAD_STACKSIZE},
                      ModuleCase{{"thread_stacksize 0"}, "web", 1, CONFIG_DEFAULT_THREAD_STACKSIZE}));

TEST(ConfigDump, ThreadStacksizeLine)
{
    EXPECT_EQ(take(config_dump_thread_stacksize("web", 1048576)), "web_thread_stacksize 1048576\n");
    EXPECT_EQ(take(config_dump_thread_stacksize("web", 8589934592ULL)), "web_thread_stacksize 8589934592\n")
        << "sizes above 4 GiB are written whole";
    EXPECT_EQ(config_dump_thread_stacksize(nullptr, 1), nullptr);
}

// ---- CPU placement ----

std::vector<int> cpus_of(const qxcpuinfo &info)
{
    std::vector<int> cpus;
    for (int cpu = 0; cpu < 1024; cpu++) {
        if (CPU_ISSET(cpu, &info.affinity_set))
            cpus.push_back(cpu);
    }
    return cpus;
}

struct CpuCase {
    const char *affinity_line;
    int affinity_all;
    std::vector<int> cpus; // empty: every CPU when affinity_all is 1
};

class ConfigCpuinfoTest : public ConfigTest, public ::testing::WithParamInterface<CpuCase> {};

TEST_P(ConfigCpuinfoTest, AffinityWords)
{
    add(GetParam().affinity_line);
    qxcpuinfo info;
    qxcpuinfo_init(&info);
    EXPECT_EQ(config_parse_cpuinfo(config, "", &info), 0);
    EXPECT_EQ(info.affinity_all, GetParam().affinity_all);
    if (GetParam().affinity_all) {
        EXPECT_EQ(CPU_COUNT(&info.affinity_set), 1024);
    } else {
        EXPECT_EQ(cpus_of(info), GetParam().cpus);
    }
    EXPECT_EQ(info.priority_set, 0);
    EXPECT_EQ(info.scheduler_set, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, ConfigCpuinfoTest,
                         ::testing::Values(CpuCase{"thread_affinity 0 2 5", 0, {0, 2, 5}},
                                           CpuCase{"thread_affinity 1 ALL 3", 1, {}},
                                           CpuCase{"thread_affinity 3 all", 1, {}},
                                           CpuCase{"thread_affinity", 1, {}},
                                           CpuCase{"thread_affinity -1 2000", 1, {}},
                                           CpuCase{"thread_affinity 1023  7", 0, {7, 1023}},
                                           CpuCase{"thread_affinity 1024", 0, {}},
                                           CpuCase{"thread_affinity x", 0, {0}}));

TEST_F(ConfigTest, CpuinfoPrefixPrioritySchedulerAndDumpRoundTrip)
{
    add("web_thread_affinity 0 2 5");
    add("web_thread_priority -5");
    add("web_thread_scheduler sched_rr");
    add("thread_scheduler SCHED_FANCY");
    qxcpuinfo info;
    qxcpuinfo_init(&info);
    ASSERT_EQ(config_parse_cpuinfo(config, "web_", &info), 0);
    EXPECT_EQ(info.priority_set, 1);
    EXPECT_EQ(info.priority, -5);
    EXPECT_EQ(info.scheduler_set, 1);
    EXPECT_EQ(info.scheduler, 2);
    std::string dump = take(config_dump_cpuinfo("web_", &info));
    EXPECT_EQ(dump, "web_thread_affinity 0 2 5\nweb_thread_priority -5\nweb_thread_scheduler SCHED_RR\n");

    void *again = config_configuration_create();
    ASSERT_NE(again, nullptr);
    std::vector<char> text(dump.begin(), dump.end());
    text.push_back('\0');
    ASSERT_EQ(config_configuration_add_lines(again, text.data()), 0);
    qxcpuinfo reread;
    qxcpuinfo_init(&reread);
    config_parse_cpuinfo(again, "web_", &reread);
    config_configuration_free(again);
    EXPECT_EQ(reread.affinity_all, 0);
    EXPECT_EQ(cpus_of(reread), cpus_of(info));
    EXPECT_EQ(reread.priority, -5);
    EXPECT_EQ(reread.scheduler, 2);

    qxcpuinfo plain;
    qxcpuinfo_init(&plain);
    config_parse_cpuinfo(config, "", &plain);
    EXPECT_EQ(plain.scheduler_set, 0) << "unknown scheduler words are ignored";
    plain.scheduler_set = 1;
    plain.scheduler = 9;
    EXPECT_EQ(take(config_dump_cpuinfo("", &plain)), "thread_affinity ALL\nthread_scheduler SCHED_OTHER\n");
}

} // namespace
