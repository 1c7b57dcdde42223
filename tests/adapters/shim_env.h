// shim_env.h - the adapter tests run with the modem-line shim preloaded.
#pragma once

#include <string>

// The shim's event log of this test run (PTYSHIM_LOG).
const std::string &shim_log_path();

// Appends a line of the test's own ("mark ...") to the shim's log.
void shim_log_append(const std::string &line);

// Empties the log.
void shim_log_clear();

std::string shim_log_text();
