// collect.cpp - the collecting station's loop.
//
// Start-up takes the port's and the staging folder's locks, then deals
// with what an earlier run left in the staging folder: complete files are
// stored, temporary ones moved aside.  Then session follows session; after
// each, whatever complete file the staging folder holds is stored, the
// session's file first - whatever the session's result, since the library
// gives a file its final name only once the terminal's last record is
// acknowledged.
#include "collect.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <system_error>
#include <sys/stat.h>

#include "command_text.h"
#include "file_hook.h"
#include "interrupt.h"
#include "json_out.h"
#include "orv5w32.h"
#include "session_report.h"
#include "station_lock.h"
#include "station_log.h"
#include "store.h"
#include "transfer_counts.h"

namespace fs = std::filesystem;

namespace {

constexpr char STAGING_PREFIX[] = ".incoming-";
// The staging folder of earlier versions, shared by every station.
constexpr char OLD_STAGING_NAME[] = ".incoming";
constexpr char LOG_NAME[] = "collect.log";

// After a failure to open the port or set up the adapter (unplugged, in
// use), or to write the log, the next try waits this long, milliseconds:
// no busy loop.
constexpr int PAUSE_AFTER_PORT_FAULT_MS = 2000;
// Result for a file found in the staging folder at start-up: no session
// of this run received it.
constexpr int RESULT_UNKNOWN = -1;

// Results that every further session would give again: the command text
// or this build is at fault, so the station stops with them.
bool recurs(int code)
{
    return code == ORV5_E_COMMAND || code == ORV5_E_FILE_NAME || code == ORV5_E_INTERNAL;
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

std::time_t modified(const std::string &path, std::time_t otherwise)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? st.st_mtime : otherwise;
}

class Station {
public:
    explicit Station(const CollectSettings &c) : c_(c) {}
    int run();

private:
    bool start(int &status);
    void recover_leftovers();
    // Stores what the staging folder holds; the Stored of `first` (the
    // session's file) is returned, the others are logged on their own.
    Stored store_staged(const std::string &first, std::time_t arrival, int result);
    void after_store(const Stored &s, long long records, long long bytes, int result);
    void log_session(SessionReport &r, const Stored &s, std::time_t ended);
    void log_stopped();
    void wait_for_log();

    const CollectSettings &c_;
    std::string name_, tag_, staging_;
    StationLock port_lock_, staging_lock_;
    StationLog log_;
    std::unique_ptr<FileHooks> hooks_;
    // A complete file could not be moved out of the staging folder: a
    // further reception of its name would replace it there.
    bool stuck_ = false;
    std::string last_fault_;   // the port fault logged last; "" none
    long repeats_ = 0;         // sessions since that gave it again
};

bool Station::start(int &status)
{
    name_ = c_.station.empty() ? default_station_name(c_.options) : c_.station;
    // Given names go into the stored names: stations that share DIR give
    // their names, and their files never meet under one name.
    tag_ = c_.station;
    staging_ = c_.dir + PATH_SEP + STAGING_PREFIX + name_;

    std::string where, why;
    switch (port_lock_.take_port(c_.options, where, why)) {
    case LockResult::Taken: break;
    case LockResult::Held:
        std::fprintf(stderr, "orvw: another station serves port %s (lock %s)\n",
                     port_device(c_.options).c_str(), where.c_str());
        status = COLLECT_REFUSED;
        return false;
    case LockResult::Failed:
        // The sessions' exclusive opens of the port still keep stations
        // apart while they receive.
        std::fprintf(stderr, "orvw: warning: no lock on the port: %s\n", why.c_str());
        break;
    }

    std::error_code ec;
    fs::create_directories(fs::u8path(staging_), ec);
    if (!fs::is_directory(fs::u8path(staging_), ec)) {
        std::fprintf(stderr, "orvw: cannot create %s\n", staging_.c_str());
        status = ORV5_E_FILE_IO;
        return false;
    }
    switch (staging_lock_.take_staging(staging_, where, why)) {
    case LockResult::Taken: break;
    case LockResult::Held:
        std::fprintf(stderr, "orvw: another station named %s collects into %s (lock %s)\n",
                     name_.c_str(), c_.dir.c_str(), where.c_str());
        status = COLLECT_REFUSED;
        return false;
    case LockResult::Failed:
        std::fprintf(stderr, "orvw: %s\n", why.c_str());
        status = ORV5_E_FILE_IO;
        return false;
    }

    if (!log_.open(c_.dir + PATH_SEP + LOG_NAME, why, c_.json)) {
        std::fprintf(stderr, "orvw: %s\n", why.c_str());
        status = ORV5_E_FILE_IO;
        return false;
    }
    if (!c_.on_file.empty()) {
        hooks_.reset(new FileHooks(c_.on_file, c_.on_file_timeout_s, name_, log_));
        if (!hooks_->start()) {
            std::fprintf(stderr, "orvw: cannot start the worker for --on-file\n");
            status = ORV5_E_INTERNAL;
            return false;
        }
    }
    const std::string old = c_.dir + PATH_SEP + OLD_STAGING_NAME;
    if (fs::is_directory(fs::u8path(old), ec) && !fs::is_empty(fs::u8path(old), ec))
        std::fprintf(stderr, "orvw: note: %s holds files of an earlier station; left as they are\n",
                     old.c_str());
    return true;
}

void Station::after_store(const Stored &s, long long records, long long bytes, int result)
{
    if (hooks_ == nullptr || s.file.empty())
        return;
    HookJob job;
    job.file = s.file;
    job.fld = s.companion;
    job.records = records;
    job.bytes = bytes;
    job.result = result;
    hooks_->enqueue(job);
}

// The stored file and its companion, null where there is none.
static void json_stored_paths(JsonLine &j, const Stored &s)
{
    if (s.file.empty())
        json_null(j, "stored");
    else
        json_string(j, "stored", s.file);
    if (s.companion.empty())
        json_null(j, "companion");
    else
        json_string(j, "companion", s.companion);
}

// A file stored apart from a session: found at start-up, or a second one
// after a session (which the library never leaves).
void log_extra(StationLog &log, const std::string &station, const Stored &s,
               const TransferCounts &n, const char *what, bool json)
{
    JsonLine j;
    json_string(j, "time", iso_time(std::time(nullptr)));
    json_string(j, "station", station);
    json_string(j, what, s.name);
    json_stored_paths(j, s);
    if (n.records >= 0)
        json_number(j, "records", n.records);
    if (n.bytes >= 0)
        json_number(j, "bytes", n.bytes);
    if (!s.error.empty())
        json_string(j, "store_error", s.error);
    std::string line = json_finish(j);
    log.write(line);
    if (!json && !s.file.empty())
        std::printf("orvw: stored %s (%s)\n", s.file.c_str(), what);
    std::fflush(stdout);
    if (!s.error.empty())
        std::fprintf(stderr, "orvw: %s\n", s.error.c_str());
}

void Station::recover_leftovers()
{
    StagedFiles staged = list_staged(staging_);
    const std::time_t now = std::time(nullptr);
    for (const std::string &name : staged.partial) {
        std::string where, why;
        JsonLine j;
        json_string(j, "time", iso_time(now));
        json_string(j, "station", name_);
        json_string(j, "incomplete", name);
        if (move_aside(staging_, name, now, where, why)) {
            json_string(j, "aside", where);
            std::fprintf(stderr, "orvw: an incomplete file of an earlier run kept as %s\n",
                         where.c_str());
        } else {
            json_null(j, "aside");
            json_string(j, "store_error", why);
            std::fprintf(stderr, "orvw: %s\n", why.c_str());
        }
        log_.write(json_finish(j));
    }
    for (const std::string &name : staged.complete) {
        const std::string path = staging_ + PATH_SEP + name;
        Stored s = store_file(staging_, c_.dir, name, modified(path, now), tag_);
        stuck_ = stuck_ || s.file.empty();
        TransferCounts n = s.file.empty() ? TransferCounts{}
                                          : count_received(TransferBaseline{}, s.file);
        log_extra(log_, name_, s, n, "recovered", c_.json);
        after_store(s, n.records, n.bytes, RESULT_UNKNOWN);
    }
}

Stored Station::store_staged(const std::string &first, std::time_t arrival, int result)
{
    Stored own;
    StagedFiles staged = list_staged(staging_);
    for (const std::string &name : staged.complete) {
        if (name == first) {
            own = store_file(staging_, c_.dir, name, arrival, tag_);
            continue;
        }
        Stored s = store_file(staging_, c_.dir, name, arrival, tag_);
        stuck_ = stuck_ || s.file.empty();
        TransferCounts n = s.file.empty() ? TransferCounts{}
                                          : count_received(TransferBaseline{}, s.file);
        log_extra(log_, name_, s, n, "found", c_.json);
        after_store(s, n.records, n.bytes, result);
    }
    for (const std::string &name : staged.partial) {
        // The library removes its temporary file when a reception fails;
        // one that stayed is kept for the operator, never received over.
        std::string where, why;
        if (move_aside(staging_, name, arrival, where, why))
            std::fprintf(stderr, "orvw: an incomplete file kept as %s\n", where.c_str());
        else
            std::fprintf(stderr, "orvw: %s\n", why.c_str());
    }
    return own;
}

void Station::log_session(SessionReport &r, const Stored &s, std::time_t ended)
{
    JsonLine j;
    json_string(j, "time", iso_time(ended));
    json_string(j, "station", name_);
    report_fields(j, r);
    json_stored_paths(j, s);
    if (!s.error.empty())
        json_string(j, "store_error", s.error);
    const std::string line = json_finish(j);

    // A port fault that repeats session after session is logged once.
    const std::string fault = port_fault(r) ? std::to_string(r.code) + " " + r.reason : "";
    if (!fault.empty() && fault == last_fault_) {
        if (++repeats_ == 1)
            std::fprintf(stderr, "orvw: error %d again; logged once while it repeats\n", r.code);
        return;
    }
    if (repeats_ > 0)
        std::fprintf(stderr, "orvw: the port fault repeated %ld more times\n", repeats_);
    last_fault_ = fault;
    repeats_ = 0;

    log_.write(line);
    if (!c_.json && !s.file.empty()) {
        std::printf("orvw: stored %s (%lld records, %lld bytes)\n", s.file.c_str(), r.records,
                    r.bytes);
    }
    std::fflush(stdout);
    if (r.code != ORV5_OK)
        std::fprintf(stderr, "orvw: error %d: %s\n", r.code, orv5_result_message(r.code));
    if (!s.error.empty())
        std::fprintf(stderr, "orvw: %s\n", s.error.c_str());
    if (c_.verbose && !r.reason.empty())
        std::fprintf(stderr, "orvw: reason: %s\n", r.reason.c_str());
}

void Station::log_stopped()
{
    JsonLine j;
    json_string(j, "time", iso_time(std::time(nullptr)));
    json_string(j, "station", name_);
    json_bool(j, "stopped", true);
    log_.write(json_finish(j));
}

// A station whose log cannot be written takes no further terminal: it
// tries again every pause until the log works or it is stopped.
void Station::wait_for_log()
{
    while (!log_.healthy() && !stop_requested()) {
        sleep_unless_stopped(PAUSE_AFTER_PORT_FAULT_MS);
        log_.retry();
    }
}

int Station::run()
{
    int status = 0;
    if (!start(status))
        return status;
    recover_leftovers();
    if (stuck_) {
        std::fprintf(stderr, "orvw: a file in %s cannot be stored; the station does not start\n",
                     staging_.c_str());
        status = ORV5_E_FILE_IO;
    }

    std::string text = c_.options;
    append_command_arg(text, "+R");
    append_command_arg(text, "-L0");
    append_command_arg(text, staging_ + PATH_SEP + "(file)");

    while (status == 0 && !stop_requested()) {
        wait_for_log();
        if (stop_requested())
            break;
        SessionReport r = run_session(text);
        const std::time_t ended = std::time(nullptr);
        Stored s = store_staged(r.name_buf, ended, r.code);
        if (r.code != ORV5_OK && !s.file.empty()) {
            // Complete, though the session failed after it (its closing
            // EOT lost, a stop): what was stored is what it moved.
            TransferCounts n = count_received(TransferBaseline{}, s.file);
            r.records = n.records;
            r.bytes = n.bytes;
        }
        const bool idle_stop = r.code == ORV5_E_ABORTED && stop_requested() && r.name_buf.empty() &&
                               s.file.empty() && s.error.empty();
        if (idle_stop)
            log_stopped();
        else
            log_session(r, s, ended);
        after_store(s, r.records, r.bytes, r.code);

        if (recurs(r.code)) {
            status = r.code;
            break;
        }
        if ((!s.error.empty() && s.file.empty()) || stuck_) {
            // The file stays staged; a further reception of the same name
            // would replace it there.
            status = ORV5_E_FILE_IO;
            break;
        }
        if (port_fault(r))
            sleep_unless_stopped(PAUSE_AFTER_PORT_FAULT_MS);
    }
    if (hooks_ != nullptr)
        hooks_->stop();
    if (!log_.retry())
        log_.drain_to_stderr();
    return status;
}

}   // namespace

int run_collect(const CollectSettings &c)
{
    Station station(c);
    return station.run();
}
