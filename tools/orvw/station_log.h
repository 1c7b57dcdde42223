// station_log.h - DIR/collect.log, shared by the stations that serve one
// folder and by this station's hook worker.
//
// The file is opened for appending and every line goes out in one write
// call, so lines of two stations never interleave.  A line that cannot be
// written is kept (up to MAX_PENDING lines) and tried again, the file
// reopened, on the next write or retry().
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "station_thread.h"

class StationLog {
public:
    StationLog() = default;
    ~StationLog();
    StationLog(const StationLog &) = delete;
    StationLog &operator=(const StationLog &) = delete;

    // Opens path for appending; false with why when it cannot.  echo: every
    // line goes to stdout as well (--json).
    bool open(const std::string &path, std::string &why, bool echo = false);
    // Writes line and a line end; false when it (or an earlier line still
    // waiting) could not be written: the line waits, and the reason is on
    // stderr once per run of failures.
    bool write(const std::string &line);
    // Tries the waiting lines again; true when none is left.
    bool retry();
    bool healthy();
    // Puts the lines still waiting on stderr, so that they are not lost
    // when the station ends.
    void drain_to_stderr();

private:
    bool reopen();
    bool flush_pending();   // mutex held
    void close_file();

    // Lines kept while the log cannot be written; older ones are dropped
    // beyond this, with a note on stderr.
    static constexpr size_t MAX_PENDING = 1000;

    StationMutex mutex_;
    std::string path_;
    intptr_t file_ = -1;   // descriptor or HANDLE; -1 when closed
    std::deque<std::string> pending_;
    bool failing_ = false;   // the failure is on stderr already
    bool echo_ = false;
};
