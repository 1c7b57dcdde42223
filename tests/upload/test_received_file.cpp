// Writing a received file: output lines, program files, append mode, the
// field-definition file, and what is left on disk after injected failures.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "format/fld_reader.h"
#include "orv5w32.h"
#include "platform/os_reason.h"
#include "platform/sim/sim.h"
#include "session/complete.h"
#include "session/options.h"
#include "sim_session.h"
#include "upload/received_file.h"
#include "upload/rx_helpers.h"

using namespace rxtest;
namespace fs = std::filesystem;

namespace {

class ReceivedFileTest : public ::testing::Test {
protected:
    simtest::TempDir tmp;
    SessionSettings s;
    ReceivedHeader h;
    ReceivedFile f;

    void SetUp() override { sim::reset(); }
    void TearDown() override
    {
        received_file_discard(f);
        EXPECT_EQ(sim::fs_counts().open_files, 0);
    }

    // Settings for dir/spelled and the accepted header hdr.
    void accept(const std::string &spelled, const Bytes &hdr)
    {
        s = settings_for(tmp.dir() + "/", spelled);
        accept_again(hdr);
    }
    void accept_again(const Bytes &hdr)
    {
        ASSERT_EQ(check_header(hdr.data(), static_cast<int>(hdr.size()), STATION, s, h),
                  HeaderVerdict::Accepted);
    }
    // A whole reception of these records; the first failing result.
    int receive(const std::vector<std::string> &records)
    {
        int rc = received_file_open(f, s, h);
        for (size_t i = 0; rc == 0 && i < records.size(); ++i)
            rc = received_file_put(f, reinterpret_cast<const uint8_t *>(records[i].data()));
        if (rc == 0)
            rc = received_file_commit(f);
        received_file_discard(f);
        return rc;
    }
    std::string read(const std::string &name) const
    {
        std::ifstream in(tmp.path(name), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    // Every file in the folder with its content.
    std::map<std::string, std::string> snapshot() const
    {
        std::map<std::string, std::string> files;
        for (const auto &e : fs::directory_iterator(tmp.dir()))
            files[e.path().filename().string()] = read(e.path().filename().string());
        return files;
    }
    std::string date_line(const std::string &name) const
    {
        PlatLocalTime t;
        if (!plat_file_local_time(tmp.path(name).c_str(), &t))
            return "";
        char line[40];
        std::snprintf(line, sizeof line, "date\t%4d-%02d-%02d %2d:%02d:%02d\r\n", t.year, t.month,
                      t.day, t.hour, t.minute, t.second);
        return line;
    }
};

const char CREATED[] =
    "* created by Orvane Transfer Utility 5R for Windows95/NT DLL Version 1.01S\r\n";
const char NOTICE[] = "*   field layout of a file received from a terminal\r\n";

TEST_F(ReceivedFileTest, DataFileAndItsFieldFile)
{
    accept("DATA.TXT", header("DATA.TXT", "00003", {"005", "003"}));
    ASSERT_EQ(receive({"ABCDEXYZ", "12345678", "abcdefgh"}), 0);
    EXPECT_EQ(read("DATA.TXT"), "ABCDEXYZ\r\n12345678\r\nabcdefgh\r\n");
    std::string date = date_line("DATA.TXT");
    ASSERT_NE(date, "");
    EXPECT_EQ(read("DATA.FLD"), std::string(CREATED) + NOTICE + "file\tDATA.TXT\r\n" + date +
                                    "size\t30\r\nrecords\t3\r\nfields\t5 3\r\n");
    EXPECT_EQ(snapshot().size(), 2u);   // no temporary file left
}

TEST_F(ReceivedFileTest, OneRecordOneFieldAndEmptyFile)
{
    accept("ONE.TXT", header("ONE.TXT", "00001", {"008"}));
    ASSERT_EQ(receive({"ABCDEXYZ"}), 0);
    std::string fld = read("ONE.FLD");
    EXPECT_NE(fld.find("record\t1\r\nfield\t8\r\n"), std::string::npos) << fld;

    accept("NONE.TXT", header("NONE.TXT", "00000", {"010"}));
    ASSERT_EQ(receive({}), 0);
    EXPECT_EQ(read("NONE.TXT"), "");
    fld = read("NONE.FLD");
    EXPECT_NE(fld.find("size\t0\r\nrecord\t0\r\nfield\t10\r\n"), std::string::npos) << fld;
}

TEST_F(ReceivedFileTest, SeparatorsBetweenFields)
{
    accept("DATA.TXT", header("DATA.TXT", "00001", {"005", "003"}));
    s.receive.tsep_flag = 1;
    s.receive.tsep_len = 1;
    s.receive.tsep_str[0] = ',';
    ASSERT_EQ(receive({"ABCDEXYZ"}), 0);
    EXPECT_EQ(read("DATA.TXT"), "ABCDE,XYZ\r\n");

    // The longest line: 16 fields, 15 separators of 32 bytes.
    std::vector<std::string> widths(16, "014");
    widths[0] = "029";   // 29 + 15 * 14 = 239 bytes, 255 with the field count
    accept("WIDE.TXT", header("WIDE.TXT", "00001", widths));
    s.receive.tsep_flag = 1;
    s.receive.tsep_len = TSEP_MAX;
    std::memset(s.receive.tsep_str, ';', TSEP_MAX);
    EXPECT_EQ(received_line_length(s, h), RX_LINE_SIZE);
    ASSERT_EQ(receive({std::string(239, 'x')}), 0);
    std::string line = read("WIDE.TXT");
    ASSERT_EQ(line.size(), 721u);
    EXPECT_EQ(line.substr(29, 33), std::string(32, ';') + "x");
    EXPECT_EQ(line.substr(719), "\r\n");
}

TEST_F(ReceivedFileTest, ProgramFilesAndReceivedFieldFilesGetNoCompanion)
{
    accept("X.PD3", header("X.PD3", "00002", {}, false));
    s.receive.tsep_flag = 1;   // never for program files
    s.receive.tsep_len = 1;
    s.receive.tsep_str[0] = ',';
    ASSERT_EQ(receive({std::string(128, 'p'), std::string(128, 'q')}), 0);
    EXPECT_EQ(read("X.PD3").size(), 2u * 130);
    accept("Y.EX3", header("Y.EX3", "00002", {}, false));
    ASSERT_EQ(receive({std::string(130, 'p'), std::string(130, 'q')}), 0);
    EXPECT_EQ(read("Y.EX3").size(), 2u * 132);

    accept("(file)", header("Z.FLD", "00001", {"005"}));
    ASSERT_EQ(receive({"FIELD"}), 0);
    EXPECT_EQ(read("Z.FLD"), "FIELD\r\n");
    EXPECT_EQ(snapshot().size(), 3u);
}

TEST_F(ReceivedFileTest, NamesAsSpelledAndTheTerminalsNameInUpperCase)
{
    accept("data.txt", header("DATA.TXT", "00001", {"004"}));
    ASSERT_EQ(receive({"abcd"}), 0);
    EXPECT_EQ(read("data.txt"), "abcd\r\n");
    EXPECT_TRUE(fs::exists(tmp.path("data.FLD")));
    EXPECT_NE(read("data.FLD").find("file\tDATA.TXT\r\n"), std::string::npos);

    accept("(file)", header("other.dat", "00001", {"004"}));
    ASSERT_EQ(receive({"wxyz"}), 0);
    EXPECT_EQ(read("OTHER.DAT"), "wxyz\r\n");
    EXPECT_TRUE(fs::exists(tmp.path("OTHER.FLD")));
}

TEST_F(ReceivedFileTest, AnExistingLowerCaseFieldFileIsTheOneUpdated)
{
    tmp.write("data.fld", "FILE DATA.DAT\r\nFIELD 6 7\r\n");
    accept("data.txt", header("DATA.TXT", "00001", {"004"}));
    ASSERT_EQ(receive({"abcd"}), 0);
    EXPECT_FALSE(fs::exists(tmp.path("data.FLD")));
    EXPECT_NE(read("data.fld").find("FILE DATA.DAT\r\nFIELD 6 7\r\n"), std::string::npos);
}

TEST_F(ReceivedFileTest, ReplacesAnExistingFileOnlyOnSuccess)
{
    tmp.write("DATA.TXT", "old content\r\n");
    accept("DATA.TXT", header("DATA.TXT", "00002", {"004"}));
    ASSERT_EQ(received_file_open(f, s, h), 0);
    ASSERT_EQ(received_file_put(f, reinterpret_cast<const uint8_t *>("abcd")), 0);
    received_file_discard(f);   // the reception failed
    EXPECT_EQ(read("DATA.TXT"), "old content\r\n");
    EXPECT_EQ(snapshot().size(), 1u);

    ASSERT_EQ(receive({"abcd", "efgh"}), 0);
    EXPECT_EQ(read("DATA.TXT"), "abcd\r\nefgh\r\n");
}

TEST_F(ReceivedFileTest, AppendsToAnExistingFile)
{
    tmp.write("DATA.TXT", "0000\r\n");
    accept("DATA.TXT", header("DATA.TXT", "00002", {"004"}));
    s.receive.append_flag = 1;
    accept_again(header("DATA.TXT", "00002", {"004"}));
    ASSERT_EQ(receive({"abcd", "efgh"}), 0);
    EXPECT_EQ(read("DATA.TXT"), "0000\r\nabcd\r\nefgh\r\n");
    EXPECT_NE(read("DATA.FLD").find("size\t18\r\nrecords\t2\r\n"), std::string::npos);
    EXPECT_EQ(snapshot().size(), 2u);
}

TEST_F(ReceivedFileTest, AppendWithoutAFileCreatesItAndAFailureLeavesNone)
{
    accept("NEW.TXT", header("NEW.TXT", "00001", {"004"}));
    s.receive.append_flag = 1;
    accept_again(header("NEW.TXT", "00001", {"004"}));
    sim::fs_faults().write_fails_at = 1;
    EXPECT_EQ(receive({"abcd"}), ORV5_E_FILE_IO);
    EXPECT_TRUE(snapshot().empty());
    sim::fs_faults().write_fails_at = 0;
    ASSERT_EQ(receive({"abcd"}), 0);
    EXPECT_EQ(read("NEW.TXT"), "abcd\r\n");
}

TEST_F(ReceivedFileTest, AppendCutBackWhenTheDiskFillsDuringTheCopy)
{
    std::string old(3000, 'o');
    tmp.write("DATA.TXT", old);
    accept("DATA.TXT", header("DATA.TXT", "00300", {"008"}));
    s.receive.append_flag = 1;
    accept_again(header("DATA.TXT", "00300", {"008"}));
    ASSERT_EQ(received_file_open(f, s, h), 0);
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(received_file_put(f, reinterpret_cast<const uint8_t *>("12345678")), 0);
    // 3000 bytes in the temporary file; the copy runs out after 1500 more.
    sim::fs_faults().full_after_bytes = 3000 + 1500;
    EXPECT_EQ(received_file_commit(f), ORV5_E_DISK_FULL);
    EXPECT_EQ(read("DATA.TXT"), old);
    EXPECT_EQ(snapshot().size(), 1u);
}

TEST_F(ReceivedFileTest, AFullDiskWhileWritingARecordIs72)
{
    accept("DATA.TXT", header("DATA.TXT", "00003", {"004"}));
    sim::fs_faults().full_after_bytes = 9;
    ASSERT_EQ(received_file_open(f, s, h), 0);
    EXPECT_EQ(received_file_put(f, reinterpret_cast<const uint8_t *>("abcd")), 0);
    EXPECT_EQ(received_file_put(f, reinterpret_cast<const uint8_t *>("efgh")), ORV5_E_DISK_FULL);
    received_file_discard(f);
    EXPECT_TRUE(snapshot().empty());
}

TEST_F(ReceivedFileTest, FreeSpaceCheck)
{
    // 100 records of 48 bytes: 50 bytes a line, twice over in append mode.
    accept("DATA.TXT", header("DATA.TXT", "00100", {"048"}));
    sim::disk_free() = 5000;
    EXPECT_EQ(received_file_open(f, s, h), 0);
    received_file_discard(f);
    sim::disk_free() = 4999;
    EXPECT_EQ(received_file_open(f, s, h), ORV5_E_DISK_FULL);
    EXPECT_TRUE(snapshot().empty());   // checked before anything is created

    s.receive.append_flag = 1;
    accept_again(header("DATA.TXT", "00100", {"048"}));
    sim::disk_free() = 9999;
    EXPECT_EQ(received_file_open(f, s, h), ORV5_E_DISK_FULL);
    sim::disk_free() = 10000;
    EXPECT_EQ(received_file_open(f, s, h), 0);
    received_file_discard(f);

    // Separators count: 50 + 2 fields' separator of 3 bytes.
    s.receive.append_flag = 0;
    accept_again(header("DATA.TXT", "00100", {"024", "024"}));
    s.receive.tsep_flag = 1;
    s.receive.tsep_len = 3;
    sim::disk_free() = 5299;
    EXPECT_EQ(received_file_open(f, s, h), ORV5_E_DISK_FULL);

    // A platform that cannot tell does not refuse.
    sim::fs_faults().free_space_unknown = true;
    EXPECT_EQ(received_file_open(f, s, h), 0);
}

TEST_F(ReceivedFileTest, DiscardIsSafeAndIdempotent)
{
    received_file_discard(f);   // nothing was ever open
    accept("DATA.TXT", header("DATA.TXT", "00001", {"004"}));
    ASSERT_EQ(received_file_open(f, s, h), 0);
    ASSERT_EQ(received_file_open(f, s, h), 0);   // the header again: one output
    EXPECT_EQ(snapshot().size(), 1u);
    received_file_discard(f);
    received_file_discard(f);
    EXPECT_TRUE(snapshot().empty());
    EXPECT_EQ(received_file_put(f, reinterpret_cast<const uint8_t *>("abcd")), ORV5_E_FILE_IO);
    EXPECT_EQ(received_file_commit(f), ORV5_E_FILE_IO);
}

// --- the shared field-definition file ---------------------------------------------

// Widths the sending side reads for dir/data_file.
std::vector<int> widths_read(const std::string &dir, const char *data_file)
{
    SessionSettings s{};
    reset_settings(s);
    std::string arg = dir + "/" + data_file;
    const char *p = arg.c_str();
    if (set_file_arg(s, &p) != 0 || read_field_file(s) != 0)
        return {};
    return std::vector<int>(s.send.ddigits, s.send.ddigits + s.send.ditems);
}

TEST_F(ReceivedFileTest, SharedFieldFileKeepsTheOtherSections)
{
    const std::string other = "file\tDATA.DAT\r\n* kept as it was\r\nfields\t6 7\n";
    tmp.write("DATA.FLD", "* an old comment\r\nfile data.txt * ours\r\nfield 9\r\n" + other +
                              "FILE DATA.TXTX\r\nFIELD 1\r\n");
    tmp.write("DATA.DAT", "x\r\n");
    accept("DATA.TXT", header("DATA.TXT", "00001", {"004", "010", "002"}));
    ASSERT_EQ(receive({"abcd0123456789zz"}), 0);
    std::string fld = read("DATA.FLD");
    EXPECT_EQ(fld.find(CREATED), 0u);
    EXPECT_EQ(fld.find("an old comment"), std::string::npos);
    EXPECT_EQ(fld.find("field 9"), std::string::npos);
    EXPECT_NE(fld.find("fields\t4 10 2\r\n" + other + "FILE DATA.TXTX\r\nFIELD 1\r\n"),
              std::string::npos)
        << fld;
    EXPECT_EQ(widths_read(tmp.dir(), "DATA.TXT"), (std::vector<int>{4, 10, 2}));
    EXPECT_EQ(widths_read(tmp.dir(), "DATA.DAT"), (std::vector<int>{6, 7}));

    // The other file received next: both sections read back.
    accept("DATA.DAT", header("DATA.DAT", "00001", {"003"}));
    ASSERT_EQ(receive({"abc"}), 0);
    EXPECT_EQ(widths_read(tmp.dir(), "DATA.TXT"), (std::vector<int>{4, 10, 2}));
    EXPECT_EQ(widths_read(tmp.dir(), "DATA.DAT"), (std::vector<int>{3}));
}

TEST_F(ReceivedFileTest, LongLinesOfOtherSectionsAreKeptWhole)
{
    std::string comment = "* " + std::string(600, 'c') + "\r\n";
    tmp.write("DATA.FLD", "FILE DATA.DAT\r\n" + comment + "FIELD 6\r\n");
    accept("DATA.TXT", header("DATA.TXT", "00001", {"004"}));
    ASSERT_EQ(receive({"abcd"}), 0);
    EXPECT_NE(read("DATA.FLD").find("FILE DATA.DAT\r\n" + comment + "FIELD 6\r\n"),
              std::string::npos);
}

// --- injected failures ------------------------------------------------------------

enum class Fault { Create, Open, Write, Read, Sync, Close, Replace, Remove, Full };

void plan(Fault kind, int n)
{
    sim::FsFaults &p = sim::fs_faults();
    p = sim::FsFaults();
    switch (kind) {
    case Fault::Create: p.create_fails_at = n; break;
    case Fault::Open: p.open_fails_at = n; break;
    case Fault::Write: p.write_fails_at = n; break;
    case Fault::Read: p.read_fails_at = n; break;
    case Fault::Sync: p.sync_fails_at = n; break;
    case Fault::Close: p.close_fails_at = n; break;
    case Fault::Replace: p.replace_fails_at = n; break;
    case Fault::Remove: p.remove_fails_at = n; break;
    case Fault::Full: p.full_after_bytes = 40 * (n - 1); break;
    }
}

class FaultSweep : public ReceivedFileTest,
                   public ::testing::WithParamInterface<std::tuple<Fault, bool>> {};

// Whatever step fails, the reception either succeeds completely or leaves
// the user's files as they were and no temporary file.
TEST_P(FaultSweep, UsersFilesSurviveEveryFailure)
{
    const Fault kind = std::get<0>(GetParam());
    const bool append = std::get<1>(GetParam());
    const std::string old_data = "0000\r\n1111\r\n", old_fld = "FILE DATA.DAT\r\nFIELD 6\r\n";
    const std::string new_records = "abcd\r\nefgh\r\nijkl\r\n";
    int failures = 0;
    for (int n = 1; n <= 12; ++n) {
        sim::reset();
        tmp.write("DATA.TXT", old_data);
        tmp.write("DATA.FLD", old_fld);
        const auto before = snapshot();
        accept("DATA.TXT", header("DATA.TXT", "00003", {"004"}));
        s.receive.append_flag = append;
        accept_again(header("DATA.TXT", "00003", {"004"}));
        plan(kind, n);
        plat_reason_clear();
        int rc = receive({"abcd", "efgh", "ijkl"});
        EXPECT_EQ(sim::fs_counts().open_files, 0);
        auto after = snapshot();
        if (rc == 0) {
            EXPECT_EQ(after["DATA.TXT"], append ? old_data + new_records : new_records);
            EXPECT_NE(after["DATA.FLD"].find(old_fld), std::string::npos);
            // Once both files are in place the old data file's copy is
            // removed; when even that fails the reception stands and the
            // copy stays behind.
            if (!append && kind == Fault::Remove && n == 1) {
                ASSERT_EQ(after.size(), 3u);
                after.erase("DATA.TXT");
                after.erase("DATA.FLD");
                EXPECT_EQ(after.begin()->second, old_data);
                fs::remove(tmp.path(after.begin()->first));
                continue;
            }
            EXPECT_EQ(after.size(), 2u);
            continue;
        }
        ++failures;
        EXPECT_EQ(rc, kind == Fault::Full ? ORV5_E_DISK_FULL : ORV5_E_FILE_IO);
        EXPECT_STRNE(plat_reason_text(), "");
        EXPECT_EQ(after, before) << "fault at call " << n << ", result " << rc;
    }
    if (append || kind != Fault::Remove) {   // replacing removes nothing
        EXPECT_GT(failures, 0);              // the plan did hit the reception
    }
}

// --- the data file and its field-definition file as a pair -------------------------

// The .FLD file cannot be put in place once the new data file is: the data
// file goes back to what it was, so that the pair still belongs together.
struct PairCase {
    const char *what;
    bool old_data, old_fld, append;
    int fld_replace;   // which replace puts the .FLD file in place
};

class PairTest : public ReceivedFileTest, public ::testing::WithParamInterface<PairCase> {};

TEST_P(PairTest, AFailedFieldFileLeavesTheOldPairByteForByte)
{
    const PairCase c = GetParam();
    if (c.old_data)
        tmp.write("DATA.TXT", "0000\r\n1111\r\n");
    if (c.old_fld)
        tmp.write("DATA.FLD", "FILE DATA.TXT\r\nFIELD 4\r\nFILE DATA.DAT\r\nFIELD 6\r\n");
    const auto before = snapshot();
    accept("DATA.TXT", header("DATA.TXT", "00002", {"004"}));
    s.receive.append_flag = c.append;
    accept_again(header("DATA.TXT", "00002", {"004"}));
    sim::fs_faults().replace_fails_at = c.fld_replace;
    EXPECT_EQ(receive({"abcd", "efgh"}), ORV5_E_FILE_IO);
    EXPECT_EQ(snapshot(), before);   // no copy of the old file, no temporary file

    // The same reception without the fault: the new pair, nothing else.
    sim::fs_faults() = sim::FsFaults();
    ASSERT_EQ(receive({"abcd", "efgh"}), 0);
    EXPECT_EQ(read("DATA.TXT"),
              c.append && c.old_data ? "0000\r\n1111\r\nabcd\r\nefgh\r\n" : "abcd\r\nefgh\r\n");
    EXPECT_NE(read("DATA.FLD").find("records\t2\r\nfield\t4\r\n"), std::string::npos);
    EXPECT_EQ(snapshot().size(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, PairTest,
    ::testing::Values(PairCase{"ReplacingAPair", true, true, false, 2},
                      PairCase{"ReplacingADataFileAlone", true, false, false, 2},
                      PairCase{"NoOldDataFile", false, true, false, 2},
                      PairCase{"NothingThereBefore", false, false, false, 2},
                      PairCase{"AppendingToAPair", true, true, true, 1},
                      PairCase{"AppendingWithoutAFile", false, true, true, 2}),
    [](const ::testing::TestParamInfo<PairCase> &i) { return std::string(i.param.what); });

TEST_F(ReceivedFileTest, ThePutBackOldDataFileKeepsItsPermissions)
{
    tmp.write("DATA.TXT", "0000\r\n");
    fs::permissions(tmp.path("DATA.TXT"),
                    fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    accept("DATA.TXT", header("DATA.TXT", "00001", {"004"}));
    sim::fs_faults().replace_fails_at = 2;
    EXPECT_EQ(receive({"abcd"}), ORV5_E_FILE_IO);
    EXPECT_EQ(read("DATA.TXT"), "0000\r\n");
    EXPECT_EQ(fs::status(tmp.path("DATA.TXT")).permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

// --- a failed sync or close of each kind of file --------------------------------

// The files a reception opens, in the order the simulated layer numbers them:
//   replacing a data file: 1 its temporary file, 2 the new .FLD content,
//                          3 the old .FLD file (read for its other sections)
//   appending:             1 the data file itself, 2 the temporary file,
//                          3 the temporary file again (read for the copy),
//                          4 the new .FLD content, 5 the old .FLD file
//   a program file:        1 its temporary file (it has no .FLD file)
struct SyncCase {
    const char *what;
    const char *dest;   // the file received, there before with old content
    bool append;
    int file;              // the file whose sync or close fails
    const char *file_is;   // "~RX" for a temporary file, else the name it is opened as
    bool close;            // the close fails, not the sync
};

class SyncFailure : public ReceivedFileTest, public ::testing::WithParamInterface<SyncCase> {};

TEST_P(SyncFailure, FailsTheReceptionAndKeepsTheOldFiles)
{
    const SyncCase c = GetParam();
    const std::string dest = c.dest;
    const bool program = dest.find(".TXT") == std::string::npos;
    const std::string record = !program
                                   ? "abcd"
                                   : std::string(dest.find(".PD3") != std::string::npos ? 128 : 130,
                                                 'p');
    tmp.write(c.dest, program ? std::string(260, 'o') : "0000\r\n1111\r\n");
    tmp.write("DATA.FLD", "FILE DATA.TXT\r\nFIELD 4\r\nFILE DATA.DAT\r\nFIELD 6\r\n");
    const auto before = snapshot();
    const Bytes hdr = program ? header(c.dest, "00002", {}, false)
                              : header(c.dest, "00002", {"004"});
    accept(c.dest, hdr);
    s.receive.append_flag = c.append;
    accept_again(hdr);
    if (c.close)
        sim::fs_faults().close_fails_on_file = c.file;
    else
        sim::fs_faults().sync_fails_on_file = c.file;
    plat_reason_clear();

    EXPECT_EQ(receive({record, record}), ORV5_E_FILE_IO);
    const std::string path = sim::fs_file_path(c.file);
    EXPECT_NE(path.find(c.file_is), std::string::npos) << path;
    EXPECT_STRNE(plat_reason_text(), "");
    EXPECT_EQ(sim::fs_counts().open_files, 0);
    EXPECT_EQ(snapshot(), before);
}

INSTANTIATE_TEST_SUITE_P(
    EachFile, SyncFailure,
    ::testing::Values(SyncCase{"DataFileSync", "DATA.TXT", false, 1, "~RX", false},
                      SyncCase{"DataFileClose", "DATA.TXT", false, 1, "~RX", true},
                      SyncCase{"FieldFileSync", "DATA.TXT", false, 2, "~RX", false},
                      SyncCase{"FieldFileClose", "DATA.TXT", false, 2, "~RX", true},
                      SyncCase{"AppendedDataFileSync", "DATA.TXT", true, 1, "DATA.TXT", false},
                      SyncCase{"AppendedDataFileClose", "DATA.TXT", true, 1, "DATA.TXT", true},
                      SyncCase{"AppendTemporaryFileSync", "DATA.TXT", true, 2, "~RX", false},
                      SyncCase{"AppendTemporaryFileClose", "DATA.TXT", true, 2, "~RX", true},
                      SyncCase{"AppendFieldFileSync", "DATA.TXT", true, 4, "~RX", false},
                      SyncCase{"AppendFieldFileClose", "DATA.TXT", true, 4, "~RX", true},
                      SyncCase{"ProgramFileSync", "X.PD3", false, 1, "~RX", false},
                      SyncCase{"ProgramFileClose", "X.PD3", false, 1, "~RX", true},
                      SyncCase{"OtherProgramFileSync", "Y.FN3", false, 1, "~RX", false},
                      SyncCase{"OtherProgramFileClose", "Y.EX3", true, 1, "~RX", true},
                      // Program files are always replaced, append mode or not.
                      SyncCase{"ProgramFileSyncInAppendMode", "X.PD3", true, 1, "~RX", false},
                      SyncCase{"ProgramFileCloseInAppendMode", "X.PD3", true, 1, "~RX", true}),
    [](const ::testing::TestParamInfo<SyncCase> &i) { return std::string(i.param.what); });

INSTANTIATE_TEST_SUITE_P(
    AllKinds, FaultSweep,
    ::testing::Combine(::testing::Values(Fault::Create, Fault::Open, Fault::Write, Fault::Read,
                                         Fault::Sync, Fault::Close, Fault::Replace, Fault::Remove,
                                         Fault::Full),
                       ::testing::Bool()));

}   // namespace
