// The POSIX file layer of the receiving side on a real file system.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

#include "platform/fs.h"
#include "platform/os_reason.h"

namespace fs = std::filesystem;

namespace {

class PosixFiles : public ::testing::Test {
protected:
    std::string dir;   // with its trailing '/'
    void SetUp() override
    {
        char tmpl[] = "/tmp/orv5files.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = std::string(tmpl) + "/";
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    std::string read(const std::string &path)
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};

TEST_F(PosixFiles, UniqueFilesAreNewAndDistinct)
{
    char a[256], b[256];
    plat_file fa, fb;
    ASSERT_EQ(plat_file_create_unique(dir.c_str(), a, sizeof a, &fa), PLAT_FILE_OK);
    ASSERT_EQ(plat_file_create_unique(dir.c_str(), b, sizeof b, &fb), PLAT_FILE_OK);
    EXPECT_STRNE(a, b);
    EXPECT_EQ(std::string(a).rfind(dir, 0), 0u);
    EXPECT_EQ(std::string(a).find('.', dir.size()), std::string::npos);   // no extension
    EXPECT_EQ(plat_file_write(fa, "abc", 3, a), PLAT_FILE_OK);
    EXPECT_EQ(plat_file_sync(fa, a), PLAT_FILE_OK);
    uint64_t size = 0;
    EXPECT_EQ(plat_file_size(fa, &size, a), PLAT_FILE_OK);
    EXPECT_EQ(size, 3u);
    EXPECT_EQ(plat_file_close(fa, a), PLAT_FILE_OK);
    EXPECT_EQ(plat_file_close(fb, b), PLAT_FILE_OK);
    EXPECT_EQ(read(a), "abc");

    char c[256];
    plat_file fc;
    plat_reason_clear();
    EXPECT_EQ(plat_file_create_unique((dir + "missing/").c_str(), c, sizeof c, &fc),
              PLAT_FILE_FAILED);
    EXPECT_NE(std::string(plat_reason_text()).find("missing"), std::string::npos);
}

TEST_F(PosixFiles, AppendReadTruncateReplaceRemove)
{
    std::string target = dir + "data.txt";
    plat_file f;
    EXPECT_EQ(plat_file_open_append(target.c_str(), &f), PLAT_FILE_FAILED);   // never creates
    EXPECT_FALSE(plat_file_exists(target.c_str()));
    std::ofstream(target, std::ios::binary) << "old";
    ::chmod(target.c_str(), 0640);
    ASSERT_EQ(plat_file_open_append(target.c_str(), &f), PLAT_FILE_OK);
    EXPECT_EQ(plat_file_write(f, "new", 3, "t"), PLAT_FILE_OK);
    EXPECT_EQ(plat_file_close(f, "t"), PLAT_FILE_OK);
    EXPECT_EQ(read(target), "oldnew");

    char buf[16];
    uint32_t got = 0;
    ASSERT_EQ(plat_file_open_read(target.c_str(), &f), PLAT_FILE_OK);
    EXPECT_EQ(plat_file_read(f, buf, sizeof buf, &got, "t"), PLAT_FILE_OK);
    EXPECT_EQ(got, 6u);
    EXPECT_EQ(plat_file_read(f, buf, sizeof buf, &got, "t"), PLAT_FILE_OK);
    EXPECT_EQ(got, 0u);
    plat_file_close(f, "t");

    EXPECT_EQ(plat_file_truncate(target.c_str(), 3), PLAT_FILE_OK);
    EXPECT_EQ(read(target), "old");

    std::string repl = dir + "repl";
    std::ofstream(repl, std::ios::binary) << "replacement";
    EXPECT_EQ(plat_file_replace(repl.c_str(), target.c_str()), PLAT_FILE_OK);
    EXPECT_EQ(read(target), "replacement");
    EXPECT_FALSE(plat_file_exists(repl.c_str()));
    struct stat st;
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);   // the replaced file's permissions

    EXPECT_EQ(plat_file_remove(target.c_str()), PLAT_FILE_OK);
    EXPECT_EQ(plat_file_remove(target.c_str()), PLAT_FILE_FAILED);
}

TEST_F(PosixFiles, ReplaceKeepingHoldsTheOldFileUntilItIsPutBackOrRemoved)
{
    std::string target = dir + "data.txt", repl = dir + "repl";
    std::ofstream(target, std::ios::binary) << "old";
    ::chmod(target.c_str(), 0640);
    std::ofstream(repl, std::ios::binary) << "new";
    char backup[256] = "x";
    ASSERT_EQ(plat_file_replace_keeping(repl.c_str(), target.c_str(), backup, sizeof backup),
              PLAT_FILE_OK);
    EXPECT_EQ(read(target), "new");
    EXPECT_FALSE(plat_file_exists(repl.c_str()));
    EXPECT_EQ(std::string(backup).rfind(dir + "~RX", 0), 0u) << backup;
    EXPECT_EQ(read(backup), "old");
    struct stat st;
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // A later step failed: the old file comes back, with its permissions.
    EXPECT_EQ(plat_file_replace(backup, target.c_str()), PLAT_FILE_OK);
    EXPECT_EQ(read(target), "old");
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_FALSE(plat_file_exists(backup));

    // Nothing there before: no backup.
    std::string fresh = dir + "fresh.txt";
    std::ofstream(repl, std::ios::binary) << "first";
    ASSERT_EQ(plat_file_replace_keeping(repl.c_str(), fresh.c_str(), backup, sizeof backup),
              PLAT_FILE_OK);
    EXPECT_STREQ(backup, "");
    EXPECT_EQ(read(fresh), "first");

    // The replacement is missing: the target stays and no backup is left.
    plat_reason_clear();
    EXPECT_EQ(plat_file_replace_keeping(repl.c_str(), target.c_str(), backup, sizeof backup),
              PLAT_FILE_FAILED);
    EXPECT_STREQ(backup, "");
    EXPECT_STRNE(plat_reason_text(), "");
    EXPECT_EQ(read(target), "old");
    int files = 0;
    for (const auto &e : fs::directory_iterator(dir)) {
        (void)e;
        ++files;
    }
    EXPECT_EQ(files, 2);   // data.txt and fresh.txt
}

TEST_F(PosixFiles, FreeSpaceAndLocalTime)
{
    uint64_t free_bytes = 0;
    EXPECT_TRUE(plat_dir_free_space(dir.c_str(), &free_bytes));
    EXPECT_GT(free_bytes, 0u);
    EXPECT_TRUE(plat_dir_free_space("", &free_bytes));
    EXPECT_FALSE(plat_dir_free_space("/nonexistent/dir/", &free_bytes));

    std::string path = dir + "t.txt";
    std::ofstream(path) << "x";
    PlatLocalTime t;
    ASSERT_TRUE(plat_file_local_time(path.c_str(), &t));
    EXPECT_GE(t.year, 2020);
    EXPECT_EQ(t.second % 2, 0);
    // 1970 lies before the DOS range.
    struct timespec times[2] = {{0, 0}, {0, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    EXPECT_FALSE(plat_file_local_time(path.c_str(), &t));
    EXPECT_FALSE(plat_file_local_time((dir + "none").c_str(), &t));
}

}   // namespace
