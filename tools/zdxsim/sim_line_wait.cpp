// sim_line_wait.cpp - waiting on the line until a moment, on either
// platform's line.
#include "sim_line.h"

int sim_line_read_until(sim_line line, uint8_t *buf, int cap, int64_t deadline_us,
                        int64_t busy_us) {
    for (;;) {
        const int64_t left = deadline_us - sim_now_us();
        if (left > busy_us) {
            const int n = sim_line_read(line, buf, cap, left - busy_us);
            if (n != 0) return n;
            continue;
        }
        // The last stretch awake on the clock alone: polling the line as
        // well would hold the tty's locks against the PC's writes.  The
        // PC is waiting for our output then and sends nothing.
        while (sim_now_us() < deadline_us) {
        }
        return sim_line_read(line, buf, cap, 0);
    }
}
