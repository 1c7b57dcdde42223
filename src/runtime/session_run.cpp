// session_run.cpp - the run-time record and what the transfer code reports
// back to its caller.
#include "runtime/session_run.h"

#include <cstdio>
#include <cstring>

#include "orv5w32.h"
#include "runtime/progress.h"

void run_begin(SessionRun &run, void *owner, char *name_buf, std::atomic<uint8_t> &abort_request)
{
    run.owner_window = owner;
    run.name_buf = name_buf;
    run.abort_request = &abort_request;
    run.turnaround_ms = 0;
    run.channel = nullptr;
    run.failed_writes = 0;
    run.timer = TimerState{};
    run.progress = ProgressState{};
    run.clock = PlatClock{};
    run.display = PlatDisplay{};
    // The pump services the session's display where the platform draws
    // it from there.
    run.clock.display = &run.display;
}

void show_transfer_name(SessionRun &run, const char *name, const char *ext)
{
    char text[ORV5_NAME_BUF_SIZE];
    std::snprintf(text, sizeof text, "%s%s", name, ext);
    if (run.name_buf)
        std::memcpy(run.name_buf, text, std::strlen(text) + 1);
    progress_set_name(run, text);
}
