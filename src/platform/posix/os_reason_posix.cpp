// os_reason_posix.cpp - the last failure's reason from errno.
#include "platform/os_reason.h"

#include <cerrno>
#include <cstring>

void plat_reason_note(const char *what) { plat_reason_set(what, std::strerror(errno)); }
