// record_count.cpp - counting the records of the file to send.
#include <cstdio>

#include "download/line_reader.h"
#include "download/sender.h"
#include "runtime/timer.h"

constexpr int RECORDS_OVER = RECORDS_MAX + 1;   // "too many, or unreadable"
constexpr int PUMP_EVERY_LINES = 100;           // counting pumps this often

static long file_length(std::FILE *fp)
{
    if (std::fseek(fp, 0, SEEK_END) != 0)
        return -1;
    long length = std::ftell(fp);
    std::rewind(fp);
    return length;
}

// Fixed-length records: the length less one byte, divided by the record
// plus CR LF, rounded up (a single stray byte after the last CR LF is not a
// record).
static int count_fixed_records(std::FILE *fp, int32_t record_length)
{
    long length = file_length(fp);
    if (length < 0)
        return -1;
    long unit = record_length + 2;
    if (length <= 1)
        return 0;
    long count = (length - 1) / unit + ((length - 1) % unit > 0 ? 1 : 0);
    return count > RECORDS_MAX ? RECORDS_OVER : static_cast<int>(count);
}

static int count_lines(SessionRun &run, std::FILE *fp)
{
    char none[1];   // read_line stores nothing at capacity 0
    int count = 0, length = 0;
    bool ok;
    for (;;) {
        if (count % PUMP_EVERY_LINES == 0) {
            pump_messages(run);
            if (stop_code(run) != ORV5_OK)
                return -1;
        }
        if (read_line(none, 0, fp, &length) == nullptr) {
            ok = std::feof(fp) != 0;   // a read error leaves it clear
            break;
        }
        if (++count > RECORDS_OVER) {
            ok = false;
            break;
        }
    }
    std::clearerr(fp);
    std::rewind(fp);
    return ok ? count : RECORDS_OVER;
}

int datlines(Sender &snd)
{
    const SessionSettings &s = *snd.settings;
    // Only data files are read as fixed-length blocks; program files are
    // read by lines in every mode, so they are counted by lines too.
    if (s.send.fixed_records && s.file.file_type == FT_DATA)
        return count_fixed_records(snd.file.fp, s.send.record_length);
    return count_lines(*snd.run, snd.file.fp);
}
