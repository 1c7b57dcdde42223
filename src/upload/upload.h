// upload.h - receiving one file from the terminal.
#pragma once

// Runs the whole reception; 0 or a result code.
int upload();
