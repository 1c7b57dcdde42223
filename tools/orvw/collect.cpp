// collect.cpp - the collecting station's loop and its storing of files.
//
// Each session receives into DIR/.incoming under the terminal's name;
// once it has succeeded the file and its companion are moved into DIR
// under "YYYYMMDD-HHMMSS-NAME" (a "-2", "-3" ... after the time when that
// is taken).  The move never replaces a file, and staging and DIR share a
// file system, so a file is either staged or stored, never half of each.
#include "collect.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "command_text.h"
#include "interrupt.h"
#include "json_out.h"
#include "orv5w32.h"
#include "session_report.h"

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

constexpr char STAGING_NAME[] = ".incoming";
constexpr char LOG_NAME[] = "collect.log";
#if defined(_WIN32)
constexpr char SEP = '\\';
#else
constexpr char SEP = '/';
#endif

// After a failure to open the port or set up the adapter (unplugged, in
// use), the next try waits this long, milliseconds: no busy loop.
constexpr int PAUSE_AFTER_PORT_FAULT_MS = 2000;
// Collisions tried for one time stamp before giving up.
constexpr int MAX_SAME_SECOND = 999;
// "YYYYMMDD-HHMMSS" and "YYYY-MM-DDTHH:MM:SS", with their NUL.
constexpr size_t STAMP_SIZE = 16;
constexpr size_t ISO_TIME_SIZE = 20;

// Results that every further session would give again: the command text
// or this build is at fault, so the station stops with them.
bool recurs(int code)
{
    return code == ORV5_E_COMMAND || code == ORV5_E_FILE_NAME ||
           code == ORV5_E_INTERNAL;
}

// A 51 with a reason is a port that went away during the wait, not a
// silent terminal: the next session would find it gone as well.
bool port_fault(const SessionReport &r)
{
    const int code = r.code;
    return code == ORV5_E_PORT_OPEN || code == ORV5_E_ADAPTER_FAILED ||
           code == ORV5_E_ADAPTER_LOAD || code == ORV5_E_ADAPTER_SPEED || code == ORV5_E_TIMER ||
           (code == ORV5_E_RX_TIMEOUT && !r.reason.empty());
}

std::tm local_time(std::time_t t)
{
    std::tm tm{};
#if defined(_WIN32)
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    return tm;
}

enum class Move { Done, Taken, Failed };

// Renames from to to unless to exists.
Move move_no_replace(const std::string &from, const std::string &to, std::string &why)
{
#if defined(_WIN32)
    if (MoveFileExA(from.c_str(), to.c_str(), 0))
        return Move::Done;
    DWORD err = GetLastError();
    if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS)
        return Move::Taken;
    why = "cannot move " + from + " (Windows error " + std::to_string(err) + ")";
    return Move::Failed;
#else
    // A hard link is the one rename that fails on an existing name; file
    // systems without links fall back to a look first.
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return Move::Done;
    }
    if (errno == EEXIST)
        return Move::Taken;
    if (access(to.c_str(), F_OK) == 0)
        return Move::Taken;
    if (std::rename(from.c_str(), to.c_str()) == 0)
        return Move::Done;
    why = "cannot move " + from + ": " + std::strerror(errno);
    return Move::Failed;
#endif
}

bool exists(const std::string &path)
{
    std::error_code ec;
    return fs::exists(fs::u8path(path), ec);
}

// The companion field-definition file of a received data file, "" for
// none (program files and a received .FLD file have none).
std::string companion_name(const std::string &name)
{
    size_t dot = name.rfind('.');
    std::string ext = dot == std::string::npos ? "" : name.substr(dot);
    if (ext == ".PD3" || ext == ".EX3" || ext == ".FN3" || ext == ".FLD")
        return std::string();
    return name.substr(0, dot) + ".FLD";
}

struct Stored {
    std::string file;        // stored data file, "" when not stored
    std::string companion;   // stored .FLD file, "" for none
    std::string error;       // why storing failed
};

// Moves the staged file name and its companion into dir.
Stored store(const std::string &staging, const std::string &dir, const std::string &name,
             std::time_t arrival)
{
    Stored out;
    std::tm tm = local_time(arrival);
    char stamp[STAMP_SIZE];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    std::string fld = companion_name(name);
    if (!fld.empty() && !exists(staging + SEP + fld))
        fld.clear();

    for (int n = 1; n <= MAX_SAME_SECOND; ++n) {
        std::string prefix = std::string(stamp) + (n > 1 ? "-" + std::to_string(n) : "") + "-";
        std::string to = dir + SEP + prefix + name;
        if (exists(to) || (!fld.empty() && exists(dir + SEP + prefix + fld)))
            continue;
        Move m = move_no_replace(staging + SEP + name, to, out.error);
        if (m == Move::Taken)
            continue;
        if (m == Move::Failed)
            return out;
        out.file = to;
        if (!fld.empty()) {
            std::string fld_to = dir + SEP + prefix + fld;
            if (move_no_replace(staging + SEP + fld, fld_to, out.error) == Move::Done)
                out.companion = fld_to;
            else if (out.error.empty())
                out.error = "a file appeared as " + fld_to;
        }
        return out;
    }
    out.error = "no free name for " + name + " at " + stamp;
    return out;
}

// A fresh, empty staging folder; a non-empty one left by a run that was
// killed is kept aside under a time-stamped name for the operator.
bool prepare_staging(const std::string &dir, const std::string &staging)
{
    std::error_code ec;
    fs::create_directories(fs::u8path(dir), ec);
    fs::path st = fs::u8path(staging);
    if (fs::exists(st, ec) && !fs::is_empty(st, ec)) {
        char stamp[STAMP_SIZE];
        std::tm tm = local_time(std::time(nullptr));
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
        std::string aside = staging + "-" + stamp;
        fs::rename(st, fs::u8path(aside), ec);
        if (ec)
            return false;
        std::fprintf(stderr, "orvw: files left from an earlier run kept in %s\n", aside.c_str());
    }
    fs::create_directories(st, ec);
    return fs::is_directory(st, ec);
}

std::string log_line(const SessionReport &r, const Stored &s, std::time_t ended)
{
    char iso[ISO_TIME_SIZE];
    std::tm tm = local_time(ended);
    std::strftime(iso, sizeof iso, "%Y-%m-%dT%H:%M:%S", &tm);
    JsonLine j;
    json_string(j, "time", iso);
    report_fields(j, r);
    if (s.file.empty()) json_null(j, "stored"); else json_string(j, "stored", s.file);
    if (s.companion.empty()) json_null(j, "companion"); else json_string(j, "companion", s.companion);
    if (!s.error.empty())
        json_string(j, "store_error", s.error);
    return json_finish(j);
}

void tell(const CollectSettings &c, const SessionReport &r, const Stored &s, const std::string &line)
{
    if (c.json) {
        std::printf("%s\n", line.c_str());
    } else if (r.code == ORV5_OK && !s.file.empty()) {
        std::printf("orvw: stored %s (%lld records, %lld bytes)\n", s.file.c_str(), r.records, r.bytes);
    } else if (r.code != ORV5_OK) {
        std::fprintf(stderr, "orvw: error %d: %s\n", r.code, orv5_result_message(r.code));
    }
    if (!s.error.empty())
        std::fprintf(stderr, "orvw: %s\n", s.error.c_str());
    if (c.verbose && !r.reason.empty())
        std::fprintf(stderr, "orvw: reason: %s\n", r.reason.c_str());
    std::fflush(stdout);
}

}  // namespace

int run_collect(const CollectSettings &c)
{
    const std::string staging = c.dir + SEP + STAGING_NAME;
    if (!prepare_staging(c.dir, staging)) {
        std::fprintf(stderr, "orvw: cannot create %s\n", staging.c_str());
        return ORV5_E_FILE_IO;
    }
    const std::string log_path = c.dir + SEP + LOG_NAME;
    std::FILE *log = std::fopen(log_path.c_str(), "ab");
    if (log == nullptr) {
        std::fprintf(stderr, "orvw: cannot open %s: %s\n", log_path.c_str(), std::strerror(errno));
        return ORV5_E_FILE_IO;
    }

    std::string text = c.options;
    append_command_arg(text, "+R");
    append_command_arg(text, "-L0");
    append_command_arg(text, staging + SEP + "(file)");

    int status = 0;
    while (!stop_requested()) {
        SessionReport r = run_session(text);
        std::time_t ended = std::time(nullptr);
        Stored s;
        if (r.code == ORV5_OK && !r.name_buf.empty())
            s = store(staging, c.dir, r.name_buf, ended);
        std::string line = log_line(r, s, ended);
        std::fprintf(log, "%s\n", line.c_str());
        std::fflush(log);
        tell(c, r, s, line);

        if (recurs(r.code)) {
            status = r.code;
            break;
        }
        if (!s.error.empty() && s.file.empty()) {
            // The file stays staged; a further reception of the same name
            // would replace it there.
            status = ORV5_E_FILE_IO;
            break;
        }
        if (port_fault(r))
            sleep_unless_stopped(PAUSE_AFTER_PORT_FAULT_MS);
    }
    std::fclose(log);
    std::error_code ec;
    fs::remove(fs::u8path(staging), ec);   // only when empty
    return status;
}
