// session.h - state of the running session shared with the transfer code.
#pragma once

// Owner window passed to ExecOrv5 (HWND on Win32, null elsewhere).
extern void *owner_window;

// The caller's buffer for the transferred file's name (may be null).
extern char *name_buf;

// Writes "name + ext" into name_buf and the progress window's file-name
// line.  Called once per file when its header is built or accepted.
void show_transfer_name(const char *name, const char *ext);
