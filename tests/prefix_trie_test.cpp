#include "internal/prefix_trie.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using Trie = velmora::PrefixTrie<int>;

std::vector<int> prefixes_of(const Trie &trie, const std::string &text)
{
    std::vector<int> out;
    trie.collect_prefixes(text, out);
    return out;
}

TEST(PrefixTrie, YieldsEveryStoredPrefixShortestFirstAcrossSplitEdges)
{
    Trie trie;
    // Insertion order forces edge splits both above and below existing words.
    const char *words[] = {"abcd", "ab", "abce", "a", "b", "abc"};
    for (int i = 0; i < 6; i++)
        EXPECT_TRUE(trie.insert(words[i], i).second) << words[i];

    struct Case {
        const char *text;
        std::vector<int> expected;
    };
    const Case cases[] = {
        {"abcdef", {3, 1, 5, 0}}, {"abce", {3, 1, 5, 2}}, {"abx", {3, 1}},
        {"a", {3}},               {"ba", {4}},             {"c", {}},
        {"", {}},                 {"abd", {3, 1}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(prefixes_of(trie, c.text), c.expected) << c.text;
}

TEST(PrefixTrie, InsertOfPresentKeyKeepsValueAndFindIsExact)
{
    Trie trie;
    trie.insert("keyword", 1);
    trie.insert("key", 2);
    auto [slot, inserted] = trie.insert("keyword", 9);
    EXPECT_FALSE(inserted);
    EXPECT_EQ(*slot, 1);
    ASSERT_NE(trie.find("key"), nullptr);
    EXPECT_EQ(*trie.find("key"), 2);
    EXPECT_EQ(trie.find("keyw"), nullptr);
    EXPECT_EQ(trie.find("keywords"), nullptr);
    EXPECT_EQ(trie.find(""), nullptr);
    int visited = 0;
    trie.for_each([&](int) { visited++; });
    EXPECT_EQ(visited, 2);
}

TEST(PrefixTrie, AgreesWithPlainMapOnRandomWords)
{
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> letter(0, 2);
    std::uniform_int_distribution<int> length(1, 7);
    auto random_word = [&] {
        std::string w(static_cast<std::size_t>(length(rng)), 'a');
        for (char &c : w)
            c = static_cast<char>('a' + letter(rng));
        return w;
    };
    Trie trie;
    std::map<std::string, int> reference;
    for (int i = 0; i < 300; i++) {
        std::string w = random_word();
        bool fresh = reference.emplace(w, i).second;
        EXPECT_EQ(trie.insert(w, i).second, fresh) << w;
    }
    for (int i = 0; i < 300; i++) {
        std::string text = random_word() + random_word();
        std::vector<int> expected;
        for (std::size_t len = 1; len <= text.size(); len++) {
            auto it = reference.find(text.substr(0, len));
            if (it != reference.end())
                expected.push_back(it->second);
        }
        ASSERT_EQ(prefixes_of(trie, text), expected) << text;
    }
}

} // namespace
