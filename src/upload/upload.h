// upload.h - receiving one file from the terminal.
#pragma once

#include "link/serial.h"

// Runs the whole reception; 0 or a result code.
int upload(SerialChannel &channel);
