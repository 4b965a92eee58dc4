// kit::File on real files in a temporary folder; file times are set with
// utimensat rather than waited for.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <ios>
#include <stdexcept>
#include <string>

#include "file.h"

namespace {

namespace fs = std::filesystem;

class FileTest : public ::testing::Test {
protected:
    fs::path dir;
    std::string path;

    void SetUp() override
    {
        char name[] = "/tmp/vorna_file_XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        path = (dir / "watched.txt").string();
    }
    void TearDown() override { fs::remove_all(dir); }

    void write(const std::string& bytes)
    {
        std::ofstream out(path, std::ios_base::binary | std::ios_base::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    void stamp(time_t seconds, long nanoseconds = 0)
    {
        const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }

    // Reads `before`, then rewrites the file as `after`, both stamped with the
    // current second, and polls. Retried when the clock ticks over meanwhile,
    // so the poll really happens inside the modification second.
    bool changed_within_the_second(const std::string& before, const std::string& after)
    {
        for (int attempt = 0; attempt < 20; ++attempt) {
            const time_t now = time(nullptr);
            write(before);
            stamp(now);
            kit::File file(path);
            EXPECT_EQ(file.read(), before);
            write(after);
            stamp(now);
            const bool changed = file.has_changed();
            if (time(nullptr) != now)
                continue;
            // Inside the second the cache is compared, never dropped.
            EXPECT_EQ(file.content, before);
            EXPECT_EQ(file.mtime, now);
            return changed;
        }
        ADD_FAILURE() << "the clock ticked over during every attempt";
        return false;
    }
};

TEST_F(FileTest, a_new_object_holds_only_its_path_and_reports_an_existing_file_as_changed)
{
    write("x");
    stamp(1000000000);
    const kit::File file(path);
    EXPECT_EQ(file.path, path);
    EXPECT_EQ(file.mtime, 0);
    EXPECT_EQ(file.content, "");
    EXPECT_TRUE(file.has_changed());
}

TEST_F(FileTest, read_returns_the_whole_file_and_records_its_modification_second)
{
    write("void main() {}\n");
    // Only the seconds count: the fraction is dropped.
    stamp(1234567890, 999999999);
    kit::File file(path);
    EXPECT_EQ(file.read(), "void main() {}\n");
    EXPECT_EQ(file.mtime, 1234567890);
    EXPECT_EQ(file.content, "void main() {}\n");
    EXPECT_FALSE(file.has_changed());
}

TEST_F(FileTest, raw_read_returns_the_bytes_and_changes_nothing_in_the_object)
{
    write("first");
    stamp(1000000000);
    kit::File file(path);
    file.read();
    write("second, longer");
    EXPECT_EQ(file.raw_read(), "second, longer");
    EXPECT_EQ(file.mtime, 1000000000);
    EXPECT_EQ(file.content, "first");
}

TEST_F(FileTest, nul_bytes_and_carriage_returns_are_kept)
{
    const std::string bytes("a\0b\r\n\0\0c", 8);
    write(bytes);
    kit::File file(path);
    const std::string text = file.read();
    EXPECT_EQ(text.size(), 8u);
    EXPECT_EQ(text, bytes);
    EXPECT_EQ(file.raw_read(), bytes);
}

TEST_F(FileTest, a_file_longer_than_the_stream_buffer_is_read_whole)
{
    std::string bytes;
    for (int i = 0; i < 100000; ++i)
        bytes += static_cast<char>(i * 7);
    write(bytes);
    EXPECT_EQ(kit::File(path).raw_read(), bytes);
}

TEST_F(FileTest, an_empty_file_reads_empty_and_equals_its_empty_cache_within_its_second)
{
    write("");
    EXPECT_EQ(kit::File(path).read(), "");
    EXPECT_FALSE(changed_within_the_second("", ""));
    EXPECT_TRUE(changed_within_the_second("", "x"));
}

TEST_F(FileTest, within_the_modification_second_the_content_decides)
{
    EXPECT_FALSE(changed_within_the_second("colour = red;", "colour = red;"));
    EXPECT_TRUE(changed_within_the_second("colour = red;", "colour = tan;"));
    EXPECT_TRUE(changed_within_the_second("colour = red;", "colour = green;"));
    EXPECT_TRUE(changed_within_the_second("colour = red;", "colour"));
    // A byte after a NUL still counts.
    EXPECT_TRUE(changed_within_the_second(std::string("a\0b", 3), std::string("a\0c", 3)));
}

TEST_F(FileTest, after_the_second_one_last_comparison_sees_a_late_save_then_the_cache_goes)
{
    const time_t past = time(nullptr) - 100;
    write("colour = red;");
    stamp(past);
    kit::File file(path);
    file.read();
    EXPECT_EQ(file.content, "colour = red;");

    // Saved again within the recorded second, after its last poll: seen, and
    // the change stands, the old text cached, until it is read.
    write("colour = tan;");
    stamp(past);
    EXPECT_TRUE(file.has_changed());
    EXPECT_TRUE(file.has_changed());
    EXPECT_EQ(file.content, "colour = red;");
    EXPECT_EQ(file.read(), "colour = tan;");

    // The same bytes at the first poll after the second: the cache goes.
    EXPECT_FALSE(file.has_changed());
    EXPECT_EQ(file.content, "");
    EXPECT_EQ(file.mtime, past);

    // From then on only the timestamp counts: other bytes under it are not
    // looked for, since only a write inside the recorded second could do that.
    write("colour = green;");
    stamp(past);
    EXPECT_FALSE(file.has_changed());
    EXPECT_EQ(file.read(), "colour = green;");
    EXPECT_EQ(file.content, "colour = green;");
}

TEST_F(FileTest, another_modification_second_is_a_change_whatever_the_content)
{
    const time_t past = time(nullptr) - 100;
    write("same");
    stamp(past);
    kit::File file(path);
    file.read();
    stamp(past - 1);  // earlier counts too: only equality matters
    EXPECT_TRUE(file.has_changed());
    EXPECT_EQ(file.mtime, past);
    EXPECT_EQ(file.content, "same");
    file.read();
    EXPECT_EQ(file.mtime, past - 1);
    EXPECT_FALSE(file.has_changed());
}

TEST_F(FileTest, a_path_that_cannot_be_opened_throws_cant_open_and_the_path)
{
    const std::string missing = (dir / "missing.glsl").string();
    kit::File file(missing);
    try {
        file.read();
        FAIL() << "read of a missing file returned";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "can't open: " + missing);
    }
    try {
        file.raw_read();
        FAIL() << "raw_read of a missing file returned";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "can't open: " + missing);
    }
}

TEST_F(FileTest, a_removed_file_counts_as_changed_until_it_is_back)
{
    const time_t past = time(nullptr) - 100;
    write("before");
    stamp(past);
    kit::File file(path);
    file.read();
    fs::remove(path);

    EXPECT_TRUE(file.has_changed());
    EXPECT_THROW(file.read(), std::runtime_error);
    // The failed read keeps the old text but no timestamp, so polling goes on.
    EXPECT_EQ(file.mtime, 0);
    EXPECT_EQ(file.content, "before");
    EXPECT_TRUE(file.has_changed());
    EXPECT_TRUE(file.has_changed());

    write("after");
    stamp(past);
    EXPECT_TRUE(file.has_changed());
    EXPECT_EQ(file.read(), "after");
    EXPECT_FALSE(file.has_changed());
}

TEST_F(FileTest, a_directory_raises_the_stream_failure_without_allocating_its_length)
{
    kit::File file(dir.string());
    EXPECT_THROW(file.raw_read(), std::ios_base::failure);
}

}  // namespace
