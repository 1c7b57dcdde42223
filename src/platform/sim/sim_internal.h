// sim_internal.h - how the simulated platform's parts reach each other.
#pragma once

#include <cstdint>
#include "platform/sim/sim.h"

namespace sim {
void reset_line();
void reset_clock();
void reset_window();
void reset_libraries();
void reset_fs();
bool next_arrival(uint64_t *at_ms);
bool input_waiting();
void session_started();   // the port was opened: a session begins
}   // namespace sim
