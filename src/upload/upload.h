// upload.h - receiving one file from the terminal.
#pragma once

#include "orv5w32.h"
#include "link/serial.h"
#include "runtime/session_run.h"
#include "runtime/settings.h"

// Runs the whole reception into the file named by s; 0 or a result code.
[[nodiscard]] Orv5Result upload(const SessionSettings &s, SessionRun &run, SerialChannel &channel);
