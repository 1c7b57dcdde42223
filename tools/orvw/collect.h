// collect.h - the unattended collecting station: orvw --collect DIR.
//
// Receives file after file on one port (+R -L0: each session waits for
// ever until a terminal starts), stores every file with its .FLD companion
// in DIR under a name with the time of arrival, never over an earlier one,
// and writes one JSON line per session to DIR/collect.log.  Failed
// sessions are logged and the station goes on; a stop request ends it
// between sessions or aborts the running one.
#pragma once

#include <string>

struct CollectSettings {
    std::string dir;        // where the files go
    std::string options;    // command-text options of every session
    bool json = false;      // each session's JSON line on stdout as well
    bool verbose = false;   // the system's reason behind a failure on stderr
};

// Runs until stopped; 0 then.  A fault that would recur in every session
// ends it early: the command text's result code (9 and the like), 71 when
// DIR or its log cannot be written.
int run_collect(const CollectSettings &c);
