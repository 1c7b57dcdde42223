// session_run.cpp - what the transfer code reports back to its caller.
#include "runtime/session_run.h"

#include <cstdio>
#include <cstring>

#include "orv5w32.h"
#include "runtime/progress.h"

void show_transfer_name(SessionRun &run, const char *name, const char *ext)
{
    char text[ORV5_NAME_BUF_SIZE];
    std::snprintf(text, sizeof text, "%s%s", name, ext);
    if (run.name_buf)
        std::memcpy(run.name_buf, text, std::strlen(text) + 1);
    progress_set_name(text);
}
