// session_run.h - the run-time state of one session that the transfer code uses.
//
// Created by ExecOrv5 for the call and handed to the sender or receiver.
#pragma once

struct SessionRun {
    void *owner_window;   // the host's window (HWND on Win32), may be null
    char *name_buf;       // the caller's buffer (ORV5_NAME_BUF_SIZE bytes), may be null
};

// Writes "name + ext" into the caller's name buffer and the progress
// window's file-name line.  Called once per file, when its header is built
// or accepted.
void show_transfer_name(SessionRun &run, const char *name, const char *ext);
