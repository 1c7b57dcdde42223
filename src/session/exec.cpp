// exec.cpp - the exported entry points and the session driver (placeholder).
#include "session/session.h"
#include <cstdio>
void *owner_window;
char *name_buf;
void show_transfer_name(const char *name, const char *ext)
{
    if (name_buf)
        std::snprintf(name_buf, 13, "%s%s", name, ext);
}
