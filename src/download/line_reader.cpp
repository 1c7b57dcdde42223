// line_reader.cpp - reading the lines of the file being sent.
//
// A line ends at CR immediately followed by LF; a lone LF or CR is an
// ordinary character, so records may carry them.
#include "download/line_reader.h"

#include <climits>

constexpr int CH_CR = 0x0D;
constexpr int CH_LF = 0x0A;
constexpr int CH_CTRL_Z = 0x1A;   // old end-of-file mark, dropped at the end

char *read_line(char *buf, int capacity, FILE *fp, int *out_len)
{
    // Counting lines needs no storage: allow a null buffer with capacity 0
    // without mistaking the returned pointer for the end of the file.  At
    // capacity 0 nothing is stored, so the stand-in is read-only.
    static const char no_store = '\0';
    if (buf == nullptr) {
        buf = const_cast<char *>(&no_store);
        capacity = 0;
    }
    int count = 0;
    int prev = EOF;
    int c;
    while ((c = std::getc(fp)) != EOF) {
        if (count < capacity)
            buf[count] = static_cast<char>(c);
        if (count < INT_MAX)
            ++count;
        if (prev == CH_CR && c == CH_LF) {
            *out_len = count - 2;
            return buf;
        }
        prev = c;
    }
    if (count > 0 && prev == CH_CTRL_Z)
        --count;
    *out_len = count;
    return count > 0 ? buf : nullptr;
}
