// settings.cpp - the session settings record and its reset.
#include "runtime/settings.h"

#include <cstring>

void reset_settings(SessionSettings &s) { s = SessionSettings{}; }

static bool append(char *out, int size, int *used, const char *part)
{
    int n = static_cast<int>(std::strlen(part));
    if (*used + n >= size)
        return false;
    std::memcpy(out + *used, part, static_cast<size_t>(n) + 1);
    *used += n;
    return true;
}

bool join_file_path(const SessionSettings &s, char *out, int size, const char *ext)
{
    int used = 0;
    out[0] = '\0';
    if (!append(out, size, &used, s.file.file_drive) || !append(out, size, &used, s.file.file_dir))
        return false;
    if (!ext)
        return append(out, size, &used, s.file.file_spelled);
    // Replace the spelled extension: the spelling up to the last dot that
    // belongs to the extension (file_ext holds it with its dot).
    int keep = static_cast<int>(std::strlen(s.file.file_spelled)) -
               static_cast<int>(std::strlen(s.file.file_ext));
    if (keep < 0 || used + keep >= size)
        return false;
    std::memcpy(out + used, s.file.file_spelled, static_cast<size_t>(keep));
    used += keep;
    out[used] = '\0';
    return append(out, size, &used, ext);
}
