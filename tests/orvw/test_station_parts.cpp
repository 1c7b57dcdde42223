// The collecting station's parts: which staged files are complete, stored
// names that never meet, keeping files aside, station names, the locks
// that keep a second station off a port or a staging folder, and the log
// that keeps a line it could not write.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <chrono>
#include <thread>

#include "file_hook.h"
#include "station_lock.h"
#include "station_log.h"
#include "store.h"

namespace fs = std::filesystem;

namespace {

struct Folder {
    Folder()
    {
        char tmpl[] = "/tmp/orvwstation.XXXXXX";
        path = ::mkdtemp(tmpl);
    }
    ~Folder()
    {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
    std::string at(const std::string &name) const { return path + "/" + name; }
    std::string path;
};

void put(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string text_of(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A fixed local time, so that the stamps are known.
std::time_t at_noon()
{
    std::tm tm{};
    tm.tm_year = 2026 - 1900;
    tm.tm_mon = 11;
    tm.tm_mday = 8;
    tm.tm_hour = 12;
    tm.tm_min = 30;
    tm.tm_sec = 5;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

}   // namespace

TEST(StationStore, StagedFilesCompleteAndPartial)
{
    Folder st;
    put(st.at("DATA.TXT"), "a\r\n");
    put(st.at("DATA.FLD"), "f");
    put(st.at("ALONE.FLD"), "g");
    put(st.at("APP.PD3"), "p");
    put(st.at("~RX0A1B2"), "half");
    put(st.at(STAGING_LOCK_NAME), "1");
    fs::create_directory(st.at("aside-20261208-120000"));
    StagedFiles f = list_staged(st.path);
    // DATA.FLD goes with DATA.TXT; a .FLD alone is a file of its own.
    EXPECT_EQ(f.complete, (std::vector<std::string>{"ALONE.FLD", "APP.PD3", "DATA.TXT"}));
    EXPECT_EQ(f.partial, (std::vector<std::string>{"~RX0A1B2"}));
}

TEST(StationStore, StoredNamesCarryTheTagAndNeverReplace)
{
    Folder st, dir;
    const std::time_t t = at_noon();
    put(st.at("DATA.TXT"), "first");
    put(st.at("DATA.FLD"), "fld1");
    Stored a = store_file(st.path, dir.path, "DATA.TXT", t, "east");
    EXPECT_EQ(a.error, "");
    EXPECT_EQ(a.file, dir.at("20261208-123005-east-DATA.TXT"));
    EXPECT_EQ(a.companion, dir.at("20261208-123005-east-DATA.FLD"));
    EXPECT_FALSE(fs::exists(st.at("DATA.TXT")));

    // Same second: the next number, the first files untouched.  A taken
    // .FLD name alone moves the pair on as well.
    put(dir.at("20261208-123005-2-east-DATA.FLD"), "someone else's");
    put(st.at("DATA.TXT"), "second");
    put(st.at("DATA.FLD"), "fld2");
    Stored b = store_file(st.path, dir.path, "DATA.TXT", t, "east");
    EXPECT_EQ(b.file, dir.at("20261208-123005-3-east-DATA.TXT"));
    EXPECT_EQ(b.companion, dir.at("20261208-123005-3-east-DATA.FLD"));
    EXPECT_EQ(text_of(a.file), "first");
    EXPECT_EQ(text_of(b.file), "second");
    EXPECT_EQ(text_of(dir.at("20261208-123005-2-east-DATA.FLD")), "someone else's");

    put(st.at("APP.PD3"), "p");
    Stored c = store_file(st.path, dir.path, "APP.PD3", t, "");
    EXPECT_EQ(c.file, dir.at("20261208-123005-APP.PD3"));
    EXPECT_EQ(c.companion, "");
}

TEST(StationStore, AsideNeverOverAFile)
{
    Folder st;
    const std::time_t t = at_noon();
    std::string where1, where2, why;
    put(st.at("~RX00001"), "one");
    ASSERT_TRUE(move_aside(st.path, "~RX00001", t, where1, why)) << why;
    put(st.at("~RX00001"), "two");
    ASSERT_TRUE(move_aside(st.path, "~RX00001", t, where2, why)) << why;
    EXPECT_EQ(where1, st.at("aside-20261208-123005/~RX00001"));
    EXPECT_EQ(where2, st.at("aside-20261208-123005/~RX00001-2"));
    EXPECT_EQ(text_of(where1), "one");
    EXPECT_EQ(text_of(where2), "two");
}

TEST(StationNames, ValidSafeAndDefault)
{
    EXPECT_TRUE(station_name_valid("east"));
    EXPECT_TRUE(station_name_valid("dock_2.b-1"));
    EXPECT_TRUE(station_name_valid(std::string(MAX_STATION_NAME, 'a')));
    EXPECT_FALSE(station_name_valid(std::string(MAX_STATION_NAME + 1, 'a')));
    EXPECT_FALSE(station_name_valid(""));
    EXPECT_FALSE(station_name_valid(".hidden"));
    EXPECT_FALSE(station_name_valid("-x"));
    EXPECT_FALSE(station_name_valid("../x"));
    EXPECT_FALSE(station_name_valid("a b"));
    EXPECT_EQ(station_name_safe("my port:1"), "my_port_1");
    EXPECT_EQ(station_name_safe("..x"), "x");
    EXPECT_EQ(station_name_safe(""), "station");
    EXPECT_EQ(station_name_safe(std::string(40, 'z')).size(), MAX_STATION_NAME);

    EXPECT_EQ(port_number("-B9600"), 1);
    EXPECT_EQ(port_number("-P3 -B9600 +P12"), 12);
    EXPECT_EQ(port_number("-P100"), 1);   // no such port: the library refuses it
    ::unsetenv("ORV5_DEVICE");
    ::unsetenv("ORV5_COM3");
    EXPECT_EQ(port_device("-P3"), "/dev/ttyS2");
    EXPECT_EQ(default_station_name("-P3"), "ttyS2");
    ::setenv("ORV5_COM3", "/dev/ttyUSB1", 1);
    EXPECT_EQ(default_station_name("-P3"), "ttyUSB1");
    ::setenv("ORV5_DEVICE", "/dev/serial/by-id/usb-x:1", 1);
    EXPECT_EQ(default_station_name("-P3"), "usb-x_1");
    ::unsetenv("ORV5_DEVICE");
    ::unsetenv("ORV5_COM3");
}

TEST(StationLocks, SecondHolderRefusedUntilTheFirstLetsGo)
{
    Folder locks, st;
    ::setenv("ORV5_LOCK_DIR", locks.path.c_str(), 1);
    ::setenv("ORV5_DEVICE", "/dev/ttyUSB7", 1);
    std::string where, why;
    {
        StationLock first, second;
        EXPECT_EQ(first.take_port("-P1", where, why), LockResult::Taken) << why;
        EXPECT_EQ(where, locks.at("orvw-port-%dev%ttyUSB7.lock"));
        EXPECT_EQ(second.take_port("-P1", where, why), LockResult::Held);
        EXPECT_EQ(first.take_staging(st.path, where, why), LockResult::Taken) << why;
        EXPECT_EQ(second.take_staging(st.path, where, why), LockResult::Held);
        first.release();
        EXPECT_EQ(second.take_port("-P1", where, why), LockResult::Taken) << why;
    }
    // The lock files stay, and hold nobody off once their holder is gone.
    EXPECT_TRUE(fs::exists(st.at(STAGING_LOCK_NAME)));
    StationLock again;
    EXPECT_EQ(again.take_staging(st.path, where, why), LockResult::Taken) << why;
    ::unsetenv("ORV5_DEVICE");
    ::unsetenv("ORV5_LOCK_DIR");
}

// A station on a network port: its address is no path, so the lock's
// name does not depend on the current folder, and the default station
// name is made of host and port.
TEST(StationLocks, ANetworkPortIsLockedByItsAddress)
{
    Folder locks;
    ::setenv("ORV5_LOCK_DIR", locks.path.c_str(), 1);
    ::setenv("ORV5_DEVICE", "rfc2217://cradle-3:4001", 1);
    bool raw = true;
    EXPECT_TRUE(is_network_device("RFC2217://cradle-3:4001", &raw));
    EXPECT_FALSE(raw);
    EXPECT_TRUE(is_network_device("tcp://10.0.0.7:4002", &raw));
    EXPECT_TRUE(raw);
    EXPECT_FALSE(is_network_device("/dev/ttyUSB0"));
    EXPECT_FALSE(is_network_device("rfc2217:/x"));
    EXPECT_EQ(default_station_name("-P1"), "cradle-3_4001");
    std::string where, why;
    StationLock lock;
    EXPECT_EQ(lock.take_port("-P1", where, why), LockResult::Taken) << why;
    EXPECT_EQ(where, locks.at("orvw-port-rfc2217:%%cradle-3:4001.lock"));
    ::unsetenv("ORV5_DEVICE");
    ::unsetenv("ORV5_LOCK_DIR");
}

TEST(StationLogFile, TwoWritersAppendWholeLines)
{
    Folder d;
    StationLog a, b;
    std::string why;
    ASSERT_TRUE(a.open(d.at("collect.log"), why)) << why;
    ASSERT_TRUE(b.open(d.at("collect.log"), why)) << why;
    EXPECT_TRUE(a.write("{\"n\":1}"));
    EXPECT_TRUE(b.write("{\"n\":2}"));
    EXPECT_TRUE(a.write("{\"n\":3}"));
    EXPECT_EQ(text_of(d.at("collect.log")), "{\"n\":1}\n{\"n\":2}\n{\"n\":3}\n");
}

TEST(StationLogFile, ALineThatFailsWaitsAndFollowsOnceTheLogWorks)
{
    Folder d;
    const std::string path = d.at("collect.log");
    fs::create_symlink("/dev/full", path);
    StationLog log;
    std::string why;
    ASSERT_TRUE(log.open(path, why)) << why;
    EXPECT_FALSE(log.write("{\"n\":1}"));
    EXPECT_FALSE(log.healthy());
    EXPECT_FALSE(log.write("{\"n\":2}"));
    EXPECT_FALSE(log.retry());
    fs::remove(path);   // the operator makes room: a plain file again
    EXPECT_TRUE(log.retry());
    EXPECT_TRUE(log.healthy());
    EXPECT_TRUE(log.write("{\"n\":3}"));
    EXPECT_EQ(text_of(path), "{\"n\":1}\n{\"n\":2}\n{\"n\":3}\n");
}

TEST(StationHooks, StopLetsTheRunningOneFinishAndLogsTheQueuedAsSkipped)
{
    Folder d;
    StationLog log;
    std::string why;
    ASSERT_TRUE(log.open(d.at("collect.log"), why)) << why;
    const std::string marker = d.at("started");
    FileHooks hooks("touch \"" + marker + "-$ORV5_RECORDS\"; sleep 0.5; test \"$ORV5_RESULT\" = ''",
                    10, "east", log);
    ASSERT_TRUE(hooks.start());
    HookJob first;
    first.file = d.at("A.TXT");
    first.records = 1;
    first.result = -1;   // recovered: no session's result
    HookJob second = first;
    second.file = d.at("B.TXT");
    second.records = 2;
    hooks.enqueue(first);
    hooks.enqueue(second);
    for (int i = 0; i < 200 && !fs::exists(marker + "-1"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(fs::exists(marker + "-1"));
    hooks.stop();
    EXPECT_FALSE(fs::exists(marker + "-2"));
    std::istringstream lines(text_of(d.at("collect.log")));
    std::string a, b, none;
    std::getline(lines, a);
    std::getline(lines, b);
    EXPECT_FALSE(std::getline(lines, none));
    EXPECT_NE(a.find("\"file\":\"" + first.file + "\",\"status\":0,"), std::string::npos) << a;
    EXPECT_NE(a.find("\"station\":\"east\""), std::string::npos) << a;
    EXPECT_NE(b.find("\"file\":\"" + second.file + "\",\"status\":null,\"skipped\""),
              std::string::npos)
        << b;
}
