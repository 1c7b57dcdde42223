// session_run.h - the run-time record of one session: what the transfer
// code waits on and reports to.
//
// Created by the session driver for the call and handed to the sender or
// the receiver by reference.  It holds the session timer and its flags,
// the abort request the waits look at, the progress display, the
// turnaround delay and the channel, with the platform's records of the
// timer and the display; the transfer code reads no process-wide variable.
// Not copied once begun: the platform's callbacks hold its address.
#pragma once

#include <atomic>
#include <cstdint>

#include "orv5w32.h"
#include "platform/progress_window.h"
#include "platform/session_clock.h"

struct SerialChannel;

// Why a wait ends: the state of the session timer.
struct TimerState {
    // The window the timer belongs to, kept so that every re-arm replaces it.
    void *owner = nullptr;
    bool armed = false;    // the timer measures a time-out
    bool expired = true;   // the time-out has elapsed (true while disarmed)
    bool failed = false;   // an arm failed: the session stops with ORV5_E_TIMER
};

// What the progress display shows.
struct ProgressState {
    int shown_mode = 0;         // 0 while no display exists, else its dialog_mode
    uint16_t done_shown = 0;    // records transferred (low 16 bits, as displayed)
    int32_t total_shown = 0;    // records announced
    bool total_known = false;   // a count with its total was reported since open
};

struct SessionRun {
    void *owner_window = nullptr;   // the host's window (HWND on Win32), may be null
    char *name_buf = nullptr;       // the caller's buffer (ORV5_NAME_BUF_SIZE bytes), may be null
    // The abort request the waits look at: 0, or 90 once asked for.  Set
    // from other threads and signal handlers (AbortOrv5) or by the Abort
    // button; the session driver points it at the process's request.
    std::atomic<uint8_t> *abort_request = nullptr;
    int32_t turnaround_ms = 0;          // slept before every transmission (option !)
    SerialChannel *channel = nullptr;   // the session's open channel; its bytes go to the display
    uint32_t failed_writes = 0;         // writes in a row that failed
    TimerState timer;
    ProgressState progress;
    PlatClock clock{};       // the platform's record of the timer
    PlatDisplay display{};   // the platform's record of the display
};

// Readies a record for one session: no timer, no display, waits looking at
// *abort_request.  The record is not copied or moved afterwards.
void run_begin(SessionRun &run, void *owner, char *name_buf, std::atomic<uint8_t> &abort_request);

// Writes "name + ext" into the caller's name buffer and the progress
// window's file-name line.  Called once per file, when its header is built
// or accepted.
void show_transfer_name(SessionRun &run, const char *name, const char *ext);
