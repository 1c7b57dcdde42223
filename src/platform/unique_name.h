// unique_name.h - the fresh names plat_file_create_unique tries, the same
// on every platform: "~RX" and five hexadecimal digits in the folder, a
// valid 8.3 base name without extension that no terminal file name has.
#pragma once

#include <cstdio>

#include "platform/os_reason.h"

// Fresh names tried before giving up: each clash means someone else owns
// that name, so a handful is plenty.
constexpr int UNIQUE_TRIES = 64;
// Five hexadecimal digits.
constexpr unsigned UNIQUE_SPACE = 0x100000;
// Odd step between the tries, so that they spread over the whole space.
constexpr unsigned UNIQUE_STEP = 40503u;

// Writes try number `attempt` after `seed` into path (size bytes).  False,
// with path "" and the reason kept, when dir leaves no room for the name.
inline bool plat_unique_name(const char *dir, unsigned seed, int attempt, char *path, int size)
{
    unsigned id = (seed + static_cast<unsigned>(attempt) * UNIQUE_STEP) % UNIQUE_SPACE;
    int n = std::snprintf(path, static_cast<size_t>(size), "%s~RX%05X", dir, id);
    if (n < 0 || n >= size) {
        path[0] = '\0';
        plat_reason_set(dir, "path too long");
        return false;
    }
    return true;
}
