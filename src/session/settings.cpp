// settings.cpp - the session settings record and its reset.
#include "session/settings.h"

#include <cstring>

void reset_settings(SessionSettings &s)
{
    s.port_index = 0;
    s.baud_rate = 9600;
    s.eight_data_bits = 1;
    s.parity = 0;
    s.two_stop_bits = 0;
    s.chk_len = 2;
    s.seq_flag = 1;
    s.file_path[0] = '\0';
    s.file_drive[0] = '\0';
    s.file_dir[0] = '\0';
    s.file_name[0] = '\0';
    s.file_ext[0] = '\0';
    s.file_spelled[0] = '\0';
    s.receive_mode = 0;
    s.file_type = FT_DATA;
    s.ditems = 0;
    s.ddigits_sum = 0;
    s.fixed_records = 0;
    s.append_flag = 0;
    s.tsep_flag = 0;
    s.dialog_mode = 1;
    s.station_id[0] = s.station_id[1] = 0;
    s.turnaround_delay = 0;
    s.timeout_s = 30;
    s.adapter_path[0] = '\0';
    s.win_pos_flags = 0;
    s.win_x = s.win_y = 0;
    s.name_check = 0;
    s.file_given = 0;
    // ddigits, record_length, tsep_str and tsep_len keep their values: they
    // are only read after this session's options or header have set them.
}

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
    if (!append(out, size, &used, s.file_drive) || !append(out, size, &used, s.file_dir))
        return false;
    if (!ext)
        return append(out, size, &used, s.file_spelled);
    // Replace the spelled extension: the spelling up to the last dot that
    // belongs to the extension (file_ext holds it with its dot).
    int keep = static_cast<int>(std::strlen(s.file_spelled)) - static_cast<int>(std::strlen(s.file_ext));
    if (keep < 0 || used + keep >= size)
        return false;
    std::memcpy(out + used, s.file_spelled, static_cast<size_t>(keep));
    used += keep;
    out[used] = '\0';
    return append(out, size, &used, ext);
}
