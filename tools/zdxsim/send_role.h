// send_role.h - zdxsim as a terminal that sends one file (--send,
// --send-records): the sender model on a real line, paced like the
// receiving role.
#pragma once

#include "sim_line.h"
#include "sim_options.h"

struct SendRole {
    zdxsim::SendSource source;
    zdxsim::SendFile file;
};

// Loads the file to send and checks the scripted faults against it; false
// after a message on stderr.
bool prepare_send(const SimOptions &opt, SendRole *role);

// Sends the file, prints the JSON summary (and writes it and the file as
// sent into --out).  0 when the transfer ended, 1 when the line fell silent
// for --timeout seconds first, 2 when the line failed.
int run_send(sim_line line, const SimOptions &opt, SendRole *role);
