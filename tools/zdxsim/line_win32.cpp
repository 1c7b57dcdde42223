// line_win32.cpp - the simulator's line on Windows: a COM device only (there
// are no pseudo-terminals); pair it with the PC through a null-modem cable
// or a virtual COM pair.
#include "sim_line.h"

#include <windows.h>

sim_line sim_line_open_pty(char *, size_t) { return SIM_LINE_INVALID; }

sim_line sim_line_open_device(const char *path, uint32_t baud) {
    HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return SIM_LINE_INVALID;
    DCB dcb;
    dcb.DCBlength = sizeof dcb;
    if (GetCommState(h, &dcb)) {
        if (baud != 0) dcb.BaudRate = baud;
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = 1;
        dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = dcb.fOutX = dcb.fInX = 0;
        SetCommState(h, &dcb);
    }
    // Reads return at once with what is waiting; sim_line_read waits itself.
    COMMTIMEOUTS to = {MAXDWORD, 0, 0, 0, 0};
    SetCommTimeouts(h, &to);
    return reinterpret_cast<sim_line>(h);
}

int sim_line_read(sim_line line, uint8_t *buf, int cap, int64_t timeout_us) {
    HANDLE h = reinterpret_cast<HANDLE>(line);
    int64_t end = sim_now_us() + timeout_us;
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(h, buf, DWORD(cap), &n, nullptr)) return -1;
        if (n > 0) return int(n);
        if (sim_now_us() >= end) return 0;
        Sleep(1);
    }
}

bool sim_line_write(sim_line line, const uint8_t *bytes, int len) {
    DWORD n = 0;
    return WriteFile(reinterpret_cast<HANDLE>(line), bytes, DWORD(len), &n, nullptr) &&
           int(n) == len;
}

int sim_line_unread(sim_line) { return 0; }

void sim_line_close(sim_line line) {
    if (line != SIM_LINE_INVALID) CloseHandle(reinterpret_cast<HANDLE>(line));
}

int64_t sim_now_us() {
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return int64_t(c.QuadPart / f.QuadPart * 1000000 +
                   (c.QuadPart % f.QuadPart) * 1000000 / f.QuadPart);
}

void sim_sleep_until_us(int64_t when_us) {
    for (int64_t now = sim_now_us(); now < when_us; now = sim_now_us())
        Sleep(DWORD((when_us - now + 999) / 1000));
}
