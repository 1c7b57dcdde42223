// collect.h - the unattended collecting station: orvw --collect DIR.
//
// Receives file after file on one port (+R -L0: each session waits for
// ever until a terminal starts), stores every file with its .FLD companion
// in DIR under a name with the time of arrival, never over an earlier one,
// and writes one JSON line per session to DIR/collect.log.  Failed
// sessions are logged and the station goes on; a stop request ends it
// between sessions or aborts the running one.
//
// Each station stages in DIR/.incoming-NAME and holds locks on that folder
// and on its port (station_lock.h): a second station for the same port, or
// for the same folder and name, refuses to start.
#pragma once

#include <string>

struct CollectSettings {
    std::string dir;        // where the files go
    std::string options;    // command-text options of every session
    std::string station;    // the station's name; "" for the port's
    bool json = false;      // each session's JSON line on stdout as well
    bool verbose = false;   // the system's reason behind a failure on stderr
    std::string on_file;    // command run for every stored file; "" none
    int on_file_timeout_s = 60;
};

// Exit status of a station that cannot start because another one serves
// its port or its staging folder (BSD EX_USAGE, as for bad options).
constexpr int COLLECT_REFUSED = 64;

// Runs until stopped; 0 then.  A fault that would recur in every session
// ends it early: the command text's result code (9 and the like), 71 when
// DIR cannot be written; 64 when another station holds the port or the
// staging folder.
int run_collect(const CollectSettings &c);
