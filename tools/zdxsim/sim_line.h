// sim_line.h - the simulator's side of the line and its clock.
//
// POSIX: pty_posix.cpp (pseudo-terminal or tty device); Windows:
// line_win32.cpp (a COM device; no pseudo-terminals).
#pragma once

#include <cstddef>
#include <cstdint>

using sim_line = intptr_t;
constexpr sim_line SIM_LINE_INVALID = -1;

// Creates a pseudo-terminal pair in raw mode and writes the path of the
// side the PC opens into path.  SIM_LINE_INVALID when not possible.
sim_line sim_line_open_pty(char *path, size_t path_size);

// Opens a serial device in raw mode, 8N1, at baud bit/s (0 = leave the
// speed alone).
sim_line sim_line_open_device(const char *path, uint32_t baud);

// Waits at most timeout_us for bytes and reads what is there, up to cap.
// Returns the count, 0 when nothing came in time, -1 on a line failure.
int sim_line_read(sim_line line, uint8_t *buf, int cap, int64_t timeout_us);

// Writes all len bytes; false on failure.
bool sim_line_write(sim_line line, const uint8_t *bytes, int len);

// Bytes written by us that the PC has not read yet (0 when unknown).
int sim_line_unread(sim_line line);

void sim_line_close(sim_line line);

// Monotonic clock in microseconds, and a sleep until such a moment.
int64_t sim_now_us();
void sim_sleep_until_us(int64_t when_us);
