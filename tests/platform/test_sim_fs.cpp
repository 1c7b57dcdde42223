// The simulated file layer: the POSIX file operations on real files, with
// the fault plan deciding before and after each call.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>

#include "platform/fs.h"
#include "platform/os_reason.h"
#include "sim_session.h"

namespace {

class SimFiles : public simtest::SimSession {
protected:
    std::string dir() const { return tmp.dir() + "/"; }
    std::string read(const std::string &path) const
    {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    // A new file with bytes in it, through the layer; its path.
    std::string created(const std::string &bytes)
    {
        char path[512];
        plat_file f = PLAT_FILE_NONE;
        EXPECT_EQ(plat_file_create_unique(dir().c_str(), path, sizeof path, &f), PLAT_FILE_OK);
        EXPECT_EQ(plat_file_write(f, bytes.data(), static_cast<uint32_t>(bytes.size()), path),
                  PLAT_FILE_OK);
        EXPECT_EQ(plat_file_close(f, path), PLAT_FILE_OK);
        return path;
    }
};

// The names of a run are the same each time, and a name someone else holds
// is passed over: the creation stays exclusive.
TEST_F(SimFiles, FreshNamesAreRepeatableAndPassOverTakenOnes)
{
    std::string first = created("a");
    EXPECT_EQ(first, dir() + "~RX00000");
    sim::reset();
    char path[512];
    plat_file f = PLAT_FILE_NONE;
    ASSERT_EQ(plat_file_create_unique(dir().c_str(), path, sizeof path, &f), PLAT_FILE_OK);
    EXPECT_NE(std::string(path), first);
    EXPECT_EQ(std::string(path).rfind(dir() + "~RX", 0), 0u) << path;
    EXPECT_EQ(read(first), "a");   // the taken name's file is untouched
    EXPECT_EQ(plat_file_close(f, path), PLAT_FILE_OK);
    EXPECT_EQ(sim::fs_counts().open_files, 0);
}

// A write the plan fails writes nothing and says why; the next one works.
TEST_F(SimFiles, APlannedWriteFailureWritesNothing)
{
    sim::fs_faults().write_fails_at = 2;
    char path[512];
    plat_file f = PLAT_FILE_NONE;
    ASSERT_EQ(plat_file_create_unique(dir().c_str(), path, sizeof path, &f), PLAT_FILE_OK);
    EXPECT_EQ(plat_file_write(f, "one", 3, "DATA"), PLAT_FILE_OK);
    plat_reason_clear();
    EXPECT_EQ(plat_file_write(f, "two", 3, "DATA"), PLAT_FILE_FAILED);
    EXPECT_EQ(std::strncmp(plat_reason_text(), "DATA: ", 6), 0) << plat_reason_text();
    EXPECT_EQ(plat_file_write(f, "six", 3, "DATA"), PLAT_FILE_OK);
    EXPECT_EQ(plat_file_close(f, path), PLAT_FILE_OK);
    EXPECT_EQ(read(path), "onesix");
    EXPECT_EQ(sim::fs_counts().writes, 3);
    EXPECT_EQ(sim::fs_counts().bytes_written, 6u);
}

// A disk that fills up takes the bytes that fit, then reports a full disk
// (not a plain failure) for every later write.
TEST_F(SimFiles, AFullDiskTakesWhatFitsThenRefuses)
{
    sim::fs_faults().full_after_bytes = 5;
    char path[512];
    plat_file f = PLAT_FILE_NONE;
    ASSERT_EQ(plat_file_create_unique(dir().c_str(), path, sizeof path, &f), PLAT_FILE_OK);
    EXPECT_EQ(plat_file_write(f, "abc", 3, path), PLAT_FILE_OK);
    EXPECT_EQ(plat_file_write(f, "defg", 4, path), PLAT_FILE_DISK_FULL);
    EXPECT_EQ(plat_file_write(f, "h", 1, path), PLAT_FILE_DISK_FULL);
    EXPECT_EQ(plat_file_close(f, path), PLAT_FILE_OK);
    EXPECT_EQ(read(path), "abcde");
}

// A close the plan fails still closes the file, and only the planned file
// fails its syncs.
TEST_F(SimFiles, FailingCloseStillClosesAndFileFaultsHitOneFile)
{
    sim::fs_faults().close_fails_at = 1;
    sim::fs_faults().sync_fails_on_file = 2;
    char a[512], b[512];
    plat_file fa = PLAT_FILE_NONE, fb = PLAT_FILE_NONE;
    ASSERT_EQ(plat_file_create_unique(dir().c_str(), a, sizeof a, &fa), PLAT_FILE_OK);
    ASSERT_EQ(plat_file_create_unique(dir().c_str(), b, sizeof b, &fb), PLAT_FILE_OK);
    EXPECT_EQ(plat_file_sync(fa, a), PLAT_FILE_OK);
    EXPECT_EQ(plat_file_sync(fb, b), PLAT_FILE_FAILED);
    EXPECT_EQ(plat_file_close(fa, a), PLAT_FILE_FAILED);
    EXPECT_EQ(plat_file_close(fb, b), PLAT_FILE_OK);
    EXPECT_EQ(sim::fs_counts().open_files, 0);
    EXPECT_EQ(sim::fs_file_path(2), b);
}

// Replacing keeps the old file under a fresh name, with its permissions
// passed on to the new one, as the real layer does.
TEST_F(SimFiles, ReplacingKeepsTheOldFileAndItsPermissions)
{
    std::string target = dir() + "DATA.TXT";
    tmp.write("DATA.TXT", "old");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    std::string fresh = created("new");
    char backup[512];
    ASSERT_EQ(plat_file_replace_keeping(fresh.c_str(), target.c_str(), backup, sizeof backup),
              PLAT_FILE_OK);
    EXPECT_EQ(read(target), "new");
    EXPECT_EQ(read(backup), "old");
    struct stat st;
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    // Put back, as a later step that fails does.
    EXPECT_EQ(plat_file_replace(backup, target.c_str()), PLAT_FILE_OK);
    EXPECT_EQ(read(target), "old");
    EXPECT_FALSE(plat_file_exists(backup));
}

// A replace the plan fails changes nothing and leaves no backup.
TEST_F(SimFiles, APlannedReplaceFailureChangesNothing)
{
    std::string target = dir() + "DATA.TXT";
    tmp.write("DATA.TXT", "old");
    std::string fresh = created("new");
    sim::fs_faults().replace_fails_at = 1;
    char backup[512] = "junk";
    EXPECT_EQ(plat_file_replace_keeping(fresh.c_str(), target.c_str(), backup, sizeof backup),
              PLAT_FILE_FAILED);
    EXPECT_STREQ(backup, "");
    EXPECT_EQ(read(target), "old");
    EXPECT_EQ(read(fresh), "new");
}

}   // namespace
