// line_reader.h - reading the lines of the file being sent.
#pragma once

#include <cstdio>

// Reads one line of fp: characters up to CR LF or the end of the file.
// Stores at most capacity characters; *out_len is the full count (may
// exceed capacity).  A final Ctrl-Z is dropped.  Returns buf, or nullptr at
// the end of the file with nothing counted.
char *read_line(char *buf, int capacity, FILE *fp, int *out_len);
