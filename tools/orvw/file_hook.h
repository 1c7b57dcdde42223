// file_hook.h - orvw --collect --on-file=COMMAND: a command run for every
// stored file, in the background, one after another in the order the
// files were stored, so that the station is at once ready for the next
// terminal.
//
// COMMAND runs through the shell (POSIX: /bin/sh -c, in a process group
// of its own; Windows: cmd /c, in a job object) with stdin from the null
// device, its stdout on the station's stderr, and these variables:
// ORV5_FILE, ORV5_FLD ("" for none), ORV5_RECORDS, ORV5_BYTES, ORV5_RESULT
// (the session's result code) and ORV5_STATION.  One that runs past its
// limit is ended (POSIX: SIGTERM to its group, SIGKILL 2 s later).  Each
// run adds a line to the station's log: time, hook, file, status (the
// exit status; null when it could not start or was ended), seconds, and
// "killed" or "error" when that applies.
//
// At stop the running command is given the rest of its limit; commands
// still queued then are not started: each gets a log line with
// "status":null and "skipped":"the station stopped".
#pragma once

#include <deque>
#include <string>

#include "station_log.h"
#include "station_thread.h"

struct HookJob {
    std::string file;         // the stored data file
    std::string fld;          // its stored .FLD file, "" for none
    long long records = -1;   // -1: not known
    long long bytes = -1;
    int result = 0;   // the session's result code; -1 none (a file
                      // recovered at start-up)
};

class FileHooks {
public:
    FileHooks(const std::string &command, int timeout_s, const std::string &station,
              StationLog &log);
    ~FileHooks();
    FileHooks(const FileHooks &) = delete;
    FileHooks &operator=(const FileHooks &) = delete;

    // Starts the worker; false when no thread could be made.
    bool start();
    void enqueue(const HookJob &job);
    // Lets the running command finish within its limit, logs the ones
    // still queued as skipped, and ends the worker.
    void stop();

private:
    static void worker_main(void *self);
    void serve();
    void run(const HookJob &job);

    const std::string command_;
    const int timeout_s_;
    const std::string station_;
    StationLog &log_;
    StationMutex mutex_;
    StationWakeup wakeup_;
    std::deque<HookJob> queue_;
    bool stopping_ = false;
    void *worker_ = nullptr;
};

// Seconds a command may run when --on-file-timeout does not say.
constexpr int DEFAULT_HOOK_TIMEOUT_S = 60;
