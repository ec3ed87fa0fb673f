// A fresh configuration and a temporary directory for its files, shared by
// the store and the typed value tests.
#ifndef VELMORA_TESTS_CONFIG_FIXTURE_H
#define VELMORA_TESTS_CONFIG_FIXTURE_H

#include "velmora/config.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace velmora_test {

using Lines = std::vector<std::string>;

inline std::string take(char *text)
{
    std::string copy = text != nullptr ? text : "(null)";
    std::free(text);
    return copy;
}

// A fresh configuration and a temporary directory for its files; persistent
// lines never outlive a test.
class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = testing::TempDir() + "velmora_config_XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        dir = name.data();
        config = config_configuration_create();
        ASSERT_NE(config, nullptr);
    }
    void TearDown() override
    {
        config_configuration_free(config);
        config_persistant_terminate();
        std::error_code ignored;
        std::filesystem::remove_all(dir, ignored);
    }

    std::string write(const std::string &name, const std::string &content) const
    {
        std::string p = dir + "/" + name;
        std::filesystem::create_directories(std::filesystem::path(p).parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }

    void add(const std::string &line) { ASSERT_EQ(config_configuration_add_line(config, "%s", line.c_str()), 0); }

    // The value texts of every line of key, in stored order ("-" for none).
    Lines values(const char *key) const
    {
        Lines found;
        int count = 0;
        for (int i = 0; char **tokens = config_parse_tokens_index(config, key, &count, i); i++) {
            std::string value;
            for (int t = 1; t < count; t++)
                value += (t > 1 ? " " : "") + std::string(tokens[t]);
            found.push_back(count > 1 ? value : "-");
        }
        return found;
    }

    std::string dir;
    void *config = nullptr;
};

} // namespace velmora_test

#endif
