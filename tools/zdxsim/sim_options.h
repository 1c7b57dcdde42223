// sim_options.h - the simulator's command line.
#pragma once

#include <cstdint>

#include "sender_model.h"
#include "sender_source.h"
#include "terminal_model.h"

struct SimOptions {
    const char *device = nullptr;   // --device=PATH
    bool pty = false;               // --pty
    uint32_t baud = 0;              // --baud N: pace as a line of N bit/s; 0 = no pacing
    bool pace_bytes = false;        // --pace bytes: each byte written when it arrives
    const char *out_dir = nullptr;  // --out DIR
    int timeout_s = 60;             // --timeout S: give up after S s of silence
    int count = 1;                  // --count N: transfers to serve
    zdxsim::TerminalConfig terminal;
    // Sending role (--send or --send-records): the terminal sends a file.
    bool send_mode = false;
    zdxsim::SendRequest send;
    zdxsim::SenderConfig sender;  // station and think time as above
};

// Parses argv into opts; false (after a message on stderr) on a bad
// command line.  Each option takes its value as --opt=V or --opt V.
bool parse_sim_options(int argc, char **argv, SimOptions *opts);

extern const char SIM_USAGE[];
