#include "velmora/file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

// Every test gets a fresh directory of its own under the test temp directory.
class FileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = testing::TempDir() + "velmora_file_XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        ASSERT_NE(mkdtemp(name.data()), nullptr);
        dir = name.data();
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    std::string path(const std::string &name) const { return dir + "/" + name; }

    std::string write(const std::string &name, const std::string &content) const
    {
        std::string p = path(name);
        std::ofstream(p, std::ios::binary) << content;
        return p;
    }

    std::string dir;
};

Lines read_with_file_buffer(const std::string &p)
{
    Lines lines;
    file_buffer *fb = file_buffer_open(p.c_str());
    EXPECT_NE(fb, nullptr);
    if (fb == nullptr)
        return lines;
    while (file_buffer_read_string(fb) == 0)
        lines.emplace_back(fb->line);
    EXPECT_EQ(file_buffer_read_string(fb), 1) << "end of file must stay the end";
    file_buffer_close(fb);
    return lines;
}

Lines read_with_stream(const std::string &p)
{
    Lines lines;
    FILE *f = std::fopen(p.c_str(), "r");
    EXPECT_NE(f, nullptr);
    if (f == nullptr)
        return lines;
    while (char *line = file_read_string(f)) {
        lines.emplace_back(line);
        std::free(line);
    }
    std::fclose(f);
    return lines;
}

Lines read_in_memory(const std::string &p)
{
    Lines lines;
    char *all = file_read_all(p.c_str());
    EXPECT_NE(all, nullptr);
    char *cursor = all;
    while (char *line = file_read_all_string(&cursor))
        lines.emplace_back(line);
    std::free(all);
    return lines;
}

struct LineCase {
    const char *name;
    std::string content;
    Lines whole_file; // file_buffer_read_string and file_read_string
    Lines in_memory;  // file_read_all_string: text after the last line feed is not a line
};

class LineReaders : public FileTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(LineReaders, DeliverTheSameLines)
{
    const LineCase &c = GetParam();
    std::string p = write("lines.txt", c.content);
    EXPECT_EQ(read_with_file_buffer(p), c.whole_file);
    EXPECT_EQ(read_with_stream(p), c.whole_file);
    EXPECT_EQ(read_in_memory(p), c.in_memory);
}

INSTANTIATE_TEST_SUITE_P(
    Contents, LineReaders,
    ::testing::Values(
        LineCase{"plain", "a\nbb\nccc\n", {"a", "bb", "ccc"}, {"a", "bb", "ccc"}},
        LineCase{"crlf", "a\r\nbb\r\nccc\r\n", {"a", "bb", "ccc"}, {"a", "bb", "ccc"}},
        LineCase{"empty_lines", "\na\n\r\n\nb\n", {"", "a", "", "", "b"}, {"", "a", "", "", "b"}},
        LineCase{"last_line_unterminated", "a\nlast", {"a", "last"}, {"a"}},
        LineCase{"only_unterminated", "solo", {"solo"}, {}},
        LineCase{"empty_file", "", {}, {}},
        LineCase{"carriage_return_inside", "a\rb\r\n", {"a\rb"}, {"a\rb"}}),
    [](const ::testing::TestParamInfo<LineCase> &info) { return std::string(info.param.name); });

TEST_F(FileTest, FileBufferCrossesChunkBoundaries)
{
    Lines expected;
    std::string content;
    for (int i = 0; i < 6000; i++) {
        expected.push_back(std::string(static_cast<size_t>(i % 97), static_cast<char>('a' + i % 26)) +
                           std::to_string(i));
        content += expected.back() + (i % 3 == 0 ? "\r\n" : "\n");
    }
    EXPECT_EQ(read_with_file_buffer(write("many.txt", content)), expected);
}

TEST_F(FileTest, LongLineGrowsBufferInChunkSteps)
{
    std::string long_line(100000, 'x');
    std::string p = write("long.txt", "short\n" + long_line + "\nafter\n");
    file_buffer *fb = file_buffer_open(p.c_str());
    ASSERT_NE(fb, nullptr);
    EXPECT_EQ(fb->buffer_size, 32768);
    EXPECT_EQ(fb->buffer_chunk_size, 16384);
    ASSERT_EQ(file_buffer_read_string(fb), 0);
    EXPECT_STREQ(fb->line, "short");
    ASSERT_EQ(file_buffer_read_string(fb), 0);
    EXPECT_EQ(std::string(fb->line), long_line);
    EXPECT_GT(fb->buffer_size, 100001);
    EXPECT_EQ((fb->buffer_size - 32768) % 16384, 0);
    ASSERT_EQ(file_buffer_read_string(fb), 0);
    EXPECT_STREQ(fb->line, "after");
    EXPECT_EQ(file_buffer_read_string(fb), 1);
    file_buffer_close(fb);

    EXPECT_EQ(read_with_stream(p), (Lines{"short", long_line, "after"}));
}

TEST_F(FileTest, NulByteEndsLineDelivery)
{
    std::string p = write("nul.txt", std::string("a\nb\0c\nd\n", 8));
    EXPECT_EQ(read_with_file_buffer(p), Lines{"a"});
}

TEST_F(FileTest, ReadAllCountsLinesThenDeliversThem)
{
    struct {
        const char *content;
        int count;
    } cases[] = {{"a\nb\nc", 3}, {"a\nb\n", 2}, {"", 0}, {"\n\n", 2}};
    for (const auto &c : cases) {
        file_buffer *fb = file_buffer_open(write("all.txt", c.content).c_str());
        ASSERT_NE(fb, nullptr);
        EXPECT_EQ(file_buffer_read_all(fb), 0);
        EXPECT_EQ(file_buffer_line_count(fb), c.count) << c.content;
        int delivered = 0;
        while (file_buffer_read_string(fb) == 0)
            delivered++;
        EXPECT_EQ(delivered, c.count) << c.content;
        file_buffer_close(fb);
    }
}

TEST_F(FileTest, ReadAllAfterFirstLineKeepsTheRest)
{
    std::string content = "first\n" + std::string(70000, 'y') + "\nlast\n";
    file_buffer *fb = file_buffer_open(write("rest.txt", content).c_str());
    ASSERT_NE(fb, nullptr);
    ASSERT_EQ(file_buffer_read_string(fb), 0);
    EXPECT_STREQ(fb->line, "first");
    EXPECT_EQ(file_buffer_read_all(fb), 0);
    EXPECT_EQ(file_buffer_line_count(fb), 2);
    ASSERT_EQ(file_buffer_read_string(fb), 0);
    EXPECT_EQ(std::strlen(fb->line), 70000u);
    ASSERT_EQ(file_buffer_read_string(fb), 0);
    EXPECT_STREQ(fb->line, "last");
    EXPECT_EQ(file_buffer_read_string(fb), 1);
    file_buffer_close(fb);
}

TEST_F(FileTest, MissingFilesAndNullArguments)
{
    std::string missing = path("missing");
    EXPECT_EQ(file_buffer_open(missing.c_str()), nullptr);
    EXPECT_EQ(file_buffer_open(nullptr), nullptr);
    EXPECT_EQ(file_buffer_read_string(nullptr), 1);
    EXPECT_EQ(file_buffer_read_all(nullptr), 0);
    EXPECT_EQ(file_buffer_line_count(nullptr), 0);
    file_buffer_close(nullptr);
    int32_t size = 77;
    EXPECT_EQ(file_read_all_size(missing.c_str(), &size), nullptr);
    EXPECT_EQ(size, 77);
    EXPECT_EQ(file_read_all(nullptr), nullptr);
    EXPECT_EQ(file_read_all_string(nullptr), nullptr);
    char *null_text = nullptr;
    EXPECT_EQ(file_read_all_string(&null_text), nullptr);
    EXPECT_EQ(file_read_string(nullptr), nullptr);
    EXPECT_EQ(file_open(missing.c_str(), "r"), nullptr);
    EXPECT_EQ(file_open(nullptr, "r"), nullptr);
}

TEST_F(FileTest, ReadAllSizeKeepsEmbeddedNul)
{
    std::string content("ab\0cd\n", 6);
    int32_t size = -1;
    char *all = file_read_all_size(write("bin", content).c_str(), &size);
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(size, 6);
    EXPECT_EQ(std::string(all, 6), content);
    EXPECT_EQ(all[6], '\0');
    std::free(all);
}

TEST(FileReadAllString, CutsInPlaceAndStopsWithoutLineFeed)
{
    char text[] = "one\r\ntwo\nrest";
    char *cursor = text;
    EXPECT_STREQ(file_read_all_string(&cursor), "one");
    EXPECT_STREQ(file_read_all_string(&cursor), "two");
    char *before = cursor;
    EXPECT_EQ(file_read_all_string(&cursor), nullptr);
    EXPECT_EQ(cursor, before);
    EXPECT_EQ(std::memcmp(text, "one\0\ntwo\0rest", 14), 0);
}

TEST(FileReadAllString, NeverLooksBeforeItsStart)
{
    char text[] = "\r\nz\n";
    char *cursor = text + 1;
    EXPECT_STREQ(file_read_all_string(&cursor), "");
    EXPECT_EQ(text[0], '\r');
    EXPECT_STREQ(file_read_all_string(&cursor), "z");
}

TEST_F(FileTest, ReadStringFdReadsNulEndedRecords)
{
    struct {
        std::string content;
        Lines records;
    } cases[] = {
        {std::string("ab\0", 3), {"ab"}},
        {"ab", {}},
        {std::string("\0x\0yz", 5), {"", "x"}},
        {std::string(1200, 'q') + std::string(1, '\0'), {std::string(1200, 'q')}},
    };
    for (const auto &c : cases) {
        std::string p = write("records", c.content);
        FILE *f = std::fopen(p.c_str(), "r");
        ASSERT_NE(f, nullptr);
        Lines records;
        while (char *record = file_read_string_fd(fileno(f))) {
            records.emplace_back(record);
            std::free(record);
        }
        std::fclose(f);
        EXPECT_EQ(records, c.records);
    }
}

TEST_F(FileTest, LineCountRewindsStream)
{
    FILE *f = std::fopen(write("count", "a\nb\r\nc").c_str(), "r");
    ASSERT_NE(f, nullptr);
    char *first = file_read_string(f);
    std::free(first);
    EXPECT_EQ(file_line_count(f), 3);
    char *again = file_read_string(f);
    EXPECT_STREQ(again, "a");
    std::free(again);
    std::fclose(f);
}

TEST_F(FileTest, StatRoutines)
{
    std::string p = write("five", "12345");
    std::string missing = path("missing");
    struct stat st;

    EXPECT_EQ(file_exists(p.c_str()), 0);
    EXPECT_EQ(file_exists(missing.c_str()), -1);
    EXPECT_EQ(file_exists(nullptr), -1);
    EXPECT_EQ(file_stat(p.c_str(), &st), 0);
    EXPECT_EQ(file_stat(missing.c_str(), &st), -1);
    EXPECT_EQ(file_stat(nullptr, &st), -1);
    EXPECT_EQ(file_size(p.c_str()), 5);
    EXPECT_EQ(file_size(missing.c_str()), -1);
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(file_last_accessed(p.c_str()), st.st_mtime);
    EXPECT_EQ(file_last_accessed(missing.c_str()), -1);

    EXPECT_EQ(dir_exists(dir.c_str()), -1);
    EXPECT_EQ(dir_exists(p.c_str()), 0);
    EXPECT_EQ(dir_exists(missing.c_str()), 0);
    EXPECT_EQ(dir_create(path("made").c_str()), -1);
    EXPECT_EQ(dir_exists(path("made").c_str()), -1);
    EXPECT_EQ(dir_create(path("made").c_str()), 0);

    FILE *f = file_open(p.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
}

TEST_F(FileTest, ClearAllDeletesTree)
{
    std::string root = path("tree");
    fs::create_directories(root + "/sub/deeper");
    write("tree/a", "a");
    write("tree/sub/b", "b");
    write("tree/sub/deeper/c", "c");
    file_clear_all((root + "/").c_str());
    EXPECT_FALSE(fs::exists(root));
}

TEST_F(FileTest, ClearAllWithoutFinalSlashStaysInsideTheDirectory)
{
    std::string root = path("tree");
    fs::create_directories(root);
    write("tree/a", "a");
    write("treea", "a sibling whose name is the tree's name plus an entry");
    file_clear_all(root.c_str());
    EXPECT_FALSE(fs::exists(root));
    EXPECT_TRUE(fs::exists(path("treea")));
}

TEST_F(FileTest, ClearAllRemovesLinksWithoutFollowing)
{
    fs::create_directories(path("outside"));
    write("outside/keep", "k");
    fs::create_directories(path("tree"));
    fs::create_directory_symlink(path("outside"), path("tree/link"));
    file_clear_all(path("tree/").c_str());
    EXPECT_FALSE(fs::exists(path("tree")));
    EXPECT_TRUE(fs::exists(path("outside/keep")));
}

TEST_F(FileTest, ClearAllRefusesShortPath)
{
    fs::create_directories(path("abc"));
    write("abc/x", "x");
    fs::path previous = fs::current_path();
    fs::current_path(dir);
    file_clear_all("abc/");
    fs::current_path(previous);
    EXPECT_TRUE(fs::exists(path("abc/x")));
}

// Entries whose path would not fit the 2000-byte path buffer are left in place;
// everything around them still goes.
TEST_F(FileTest, ClearAllLeavesEntriesBeyondPathBuffer)
{
    std::string root = path("deep") + "/";
    std::string name(200, 'd');
    std::string nested = root;
    while (nested.size() < 2100)
        nested += name + "/";
    fs::create_directories(nested);
    write("deep/top", "t");
    std::ofstream(nested + "bottom") << "b";
    file_clear_all(root.c_str());
    EXPECT_TRUE(fs::exists(nested + "bottom"));
    EXPECT_FALSE(fs::exists(path("deep/top")));
}

} // namespace
