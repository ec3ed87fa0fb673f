#include "velmora/extlist.h"

#include "velmora/category.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

void free_category(void *data)
{
    category_free(static_cast<cat_t *>(data));
}

std::vector<uint32_t> numbers(const void *data)
{
    const auto *set = static_cast<const cat_t *>(data);
    return {set->catnums, set->catnums + set->num};
}

TEST(ExtList, BucketIndexUsesAtMostFourLowerCasedBytes)
{
    struct Case {
        int hash_count;
        const char *text;
        int expected;
    };
    const Case cases[] = {
        {50, "a", 'a' % 50},
        {50, "abcd", static_cast<int>(0x64636261u % 50)},
        {50, "ABCDE", static_cast<int>(0x64636261u % 50)},
        {50, "abcdefgh", static_cast<int>(0x64636261u % 50)},
        {2, "ab", static_cast<int>(0x6261u % 2)},
        {3, "abzz", static_cast<int>(0x7a6261u % 3)},
        {1, "anything", 0},
        {1000, "\xff\xff\xff\xff", static_cast<int>(0xffffffffu % 1000)},
        {0, "abc", 0},
        {-5, "abc", 0},
        {50, "", 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(extlist_create_hash(c.hash_count, c.text), c.expected) << c.text << " in " << c.hash_count;
}

class ExtListTest : public ::testing::Test {
protected:
    ~ExtListTest() override { extlist_terminate(table_); }

    int add(const char *ext) { return extlist_add_item(table_, ext, const_cast<char *>(ext)); }

    EXTLIST_TABLE *table_ = extlist_initialize(50, nullptr);
};

TEST_F(ExtListTest, LookupIgnoresCase)
{
    ASSERT_EQ(add("JPG"), 0);
    for (const char *text : {"jpg", "Jpg", "JPG"})
        EXPECT_STREQ(static_cast<const char *>(extlist_lookup(table_, text)), "JPG") << text;
    char *item = nullptr;
    EXPECT_NE(extlist_lookup_diag(table_, "jPg", &item), nullptr);
    EXPECT_STREQ(item, "jpg");
    std::free(item);
    EXPECT_EQ(extlist_lookup(table_, "jp"), nullptr);
    EXPECT_EQ(extlist_lookup(table_, "jpgx"), nullptr);
}

TEST_F(ExtListTest, ExtensionsSharingABucketAreAllFound)
{
    // "t" and "tarxz" differ in their first four bytes; "tarx" and "tarxz" do not.
    for (const char *ext : {"tarx", "t", "tarxz"})
        ASSERT_EQ(add(ext), 0);
    EXPECT_EQ(extlist_create_hash(50, "tarx"), extlist_create_hash(50, "tarxz"));
    for (const char *ext : {"tarx", "t", "tarxz"})
        EXPECT_STREQ(static_cast<const char *>(extlist_lookup(table_, ext)), ext);
}

TEST_F(ExtListTest, FirstOfDuplicateEntriesWins)
{
    static const char first[] = "first", second[] = "second";
    ASSERT_EQ(extlist_add_item(table_, "gif", const_cast<char *>(first)), 0);
    ASSERT_EQ(extlist_add_item(table_, "GIF", const_cast<char *>(second)), 0);
    EXPECT_EQ(extlist_lookup(table_, "gif"), first);
}

TEST_F(ExtListTest, RefusedAdds)
{
    EXPECT_EQ(extlist_add_item(table_, nullptr, table_), -1);
    EXPECT_EQ(extlist_add_item(table_, "", table_), -1);
    EXPECT_EQ(extlist_add_item(table_, "png", nullptr), -1);
    EXPECT_EQ(extlist_add_item(nullptr, "png", table_), -1);
    EXPECT_EQ(extlist_lookup(table_, "png"), nullptr);
    EXPECT_EQ(extlist_lookup(table_, ""), nullptr);
    EXPECT_EQ(extlist_lookup(table_, nullptr), nullptr);
    EXPECT_EQ(extlist_lookup(nullptr, "png"), nullptr);
    extlist_terminate(nullptr);
}

TEST(ExtListCategory, NumbersAreReadIntoAnAscendingSet)
{
    struct Case {
        const char *cats;
        int result;
        std::vector<uint32_t> expected;
    };
    const Case cases[] = {
        {"3,1,3", 0, {1, 3}},
        {"7", 0, {7}},
        {"5,,7", 0, {5, 7}},
        {",4", 0, {4}},
        {"-1,4,99999999999", 0, {4}},
        {"4294967295", 0, {4294967295u}},
        {"2;3", 0, {2}},
        {"x", -1, {}},
        {"", -1, {}},
        {"-2", -1, {}},
    };
    for (const Case &c : cases) {
        EXTLIST_TABLE *table = extlist_initialize(10, free_category);
        ASSERT_NE(table, nullptr);
        EXPECT_EQ(extlist_add_category_item(table, "mp3", c.cats), c.result) << c.cats;
        void *data = extlist_lookup(table, "mp3");
        if (c.result == 0 && data != nullptr)
            EXPECT_EQ(numbers(data), c.expected) << c.cats;
        else
            EXPECT_EQ(data, nullptr) << c.cats;
        extlist_terminate(table);
    }
}

// Each file is loaded both through a stream and through a file buffer; both
// must add the same extensions.
class ExtListFileTest : public ::testing::Test {
protected:
    void write_file(const std::string &content)
    {
        path_ = ::testing::TempDir() + "extlist_test_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
        std::ofstream(path_, std::ios::binary) << content;
    }

    int load_stream(EXTLIST_TABLE *table, bool categories)
    {
        FILE *f = std::fopen(path_.c_str(), "r");
        EXPECT_NE(f, nullptr);
        int added = categories ? extlist_add_category_file(table, f) : extlist_add_file(table, f);
        std::fclose(f);
        return added;
    }

    int load_buffer(EXTLIST_TABLE *table, bool categories)
    {
        file_buffer *buffer = file_buffer_open(path_.c_str());
        EXPECT_NE(buffer, nullptr);
        int added = categories ? extlist_add_category_file_buffer(table, buffer) : extlist_add_file_buffer(table, buffer);
        file_buffer_close(buffer);
        return added;
    }

    // Loads the file both ways into fresh tables and hands each to check.
    template <class Check>
    void load_both_ways(int hash_count, bool categories, int expected_count, Check check)
    {
        for (bool through_buffer : {false, true}) {
            EXTLIST_TABLE *table = extlist_initialize(hash_count, categories ? free_category : nullptr);
            ASSERT_NE(table, nullptr);
            int added = through_buffer ? load_buffer(table, categories) : load_stream(table, categories);
            EXPECT_EQ(added, expected_count) << (through_buffer ? "file buffer" : "stream");
            check(table);
            extlist_terminate(table);
        }
    }

    std::string path_;
};

TEST_F(ExtListFileTest, CountsLinesWithANonEmptyFirstField)
{
    write_file("jpg\n gif\npng extra words\n\nExe\r\nzip");
    load_both_ways(50, false, 4, [](EXTLIST_TABLE *table) {
        for (const char *ext : {"jpg", "png", "exe", "zip"})
            EXPECT_EQ(extlist_lookup(table, ext), EXTLIST_PRESENT) << ext;
        EXPECT_EQ(extlist_lookup(table, "gif"), nullptr);
    });
}

TEST_F(ExtListFileTest, CategoryLinesNeedAnExtensionAndNumbers)
{
    write_file("mp3 3,1,3\nwav x\navi\nogg 5,7 trailing\n 9\n");
    load_both_ways(50, true, 2, [](EXTLIST_TABLE *table) {
        ASSERT_NE(extlist_lookup(table, "mp3"), nullptr);
        EXPECT_EQ(numbers(extlist_lookup(table, "mp3")), (std::vector<uint32_t>{1, 3}));
        EXPECT_EQ(numbers(extlist_lookup(table, "OGG")), (std::vector<uint32_t>{5, 7}));
        EXPECT_EQ(extlist_lookup(table, "wav"), nullptr);
        EXPECT_EQ(extlist_lookup(table, "avi"), nullptr);
    });
}

TEST_F(ExtListFileTest, TableWithoutBucketsHoldsNothing)
{
    write_file("jpg\npng\n");
    for (int hash_count : {0, -3}) {
        load_both_ways(hash_count, false, 0, [](EXTLIST_TABLE *table) {
            EXPECT_EQ(table->hash, nullptr);
            EXPECT_EQ(extlist_add_item(table, "jpg", EXTLIST_PRESENT), -1);
            EXPECT_EQ(extlist_add_category_item(table, "jpg", "1"), -1);
            EXPECT_EQ(extlist_lookup(table, "jpg"), nullptr);
        });
    }
}

} // namespace
