// download.h - sending one file to the terminal.
#pragma once

#include "orv5w32.h"
#include "link/serial.h"
#include "runtime/session_run.h"
#include "runtime/settings.h"

// Runs the whole transfer of the file named by s; 0 or a result code.
[[nodiscard]] Orv5Result download(const SessionSettings &s, SessionRun &run,
                                  SerialChannel &channel);
