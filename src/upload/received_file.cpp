// received_file.cpp - putting a received file on disk.
#include "upload/received_file.h"

#include <cstdio>
#include <cstring>

#include "orv5w32.h"
#include "platform/os_reason.h"

constexpr int CRLF_LEN = 2;
// Append mode needs the new records twice: in the temporary file and again
// on the end of the destination.
constexpr uint64_t APPEND_SPACE_FACTOR = 2;

[[nodiscard]] static Orv5Result code_of(PlatFileStatus st)
{
    return st == PLAT_FILE_DISK_FULL ? ORV5_E_DISK_FULL : ORV5_E_FILE_IO;
}

static bool join(char *out, const char *a, const char *b, const char *c)
{
    int n = std::snprintf(out, PATH_SIZE, "%s%s%s", a, b, c);
    return n >= 0 && n < PATH_SIZE;
}

static bool separated(const SessionSettings &s, const ReceivedHeader &h)
{
    return s.receive.tsep_flag != 0 && h.file_type == FT_DATA && s.receive.tsep_len > 0;
}

int32_t received_line_length(const SessionSettings &s, const ReceivedHeader &h)
{
    int32_t seps = separated(s, h) ? (h.ditems - 1) * s.receive.tsep_len : 0;
    return h.record_length + seps + CRLF_LEN;
}

// Free space for the announced records; passes when the platform cannot tell.
static bool space_suffices(const ReceivedFile &f, const SessionSettings &s)
{
    const ReceivedHeader &h = f.header;
    uint64_t needed = static_cast<uint64_t>(received_line_length(s, h)) *
                      static_cast<uint64_t>(h.records_announced) *
                      (h.append ? APPEND_SPACE_FACTOR : 1);
    uint64_t free_bytes = 0;
    if (needed == 0 || !plat_dir_free_space(f.dir, &free_bytes) || needed <= free_bytes)
        return true;
    plat_reason_set(f.dir[0] != '\0' ? f.dir : ".",
                    "not enough free space for the announced records");
    return false;
}

// Opens the existing destination to append to and notes its length.
static PlatFileStatus open_target(ReceivedFile &f)
{
    PlatFileStatus st = plat_file_open_append(f.dest_path, &f.target);
    if (st == PLAT_FILE_OK)
        st = plat_file_size(f.target, &f.old_length, f.dest_path);
    return st;
}

Orv5Result received_file_open(ReceivedFile &f, const SessionSettings &s, const ReceivedHeader &h)
{
    received_file_discard(f);
    f.header = h;
    f.tsep = separated(s, h);
    f.tsep_len = f.tsep ? s.receive.tsep_len : 0;
    std::memcpy(f.tsep_str, s.receive.tsep_str, sizeof f.tsep_str);
    f.tmp_path[0] = '\0';
    f.fld.tmp_path[0] = '\0';
    f.file_existed = f.target_grown = false;
    f.old_length = f.bytes_written = 0;
    f.records_written = 0;
    if (!join(f.dir, s.file.file_drive, s.file.file_dir, "") ||
        !join(f.dest_path, f.dir, h.dest_base, "")) {
        plat_reason_set(h.dest_base, "path too long");
        return ORV5_E_FILE_IO;
    }
    if (!space_suffices(f, s))
        return ORV5_E_DISK_FULL;
    // Decided once: whether a failure may leave the destination alone.
    f.file_existed = h.append && plat_file_exists(f.dest_path);
    f.open = true;   // from here discard cleans up
    PlatFileStatus st = f.file_existed ? open_target(f) : PLAT_FILE_OK;
    if (st == PLAT_FILE_OK)
        st = plat_file_create_unique(f.dir, f.tmp_path, PATH_SIZE, &f.tmp);
    if (st != PLAT_FILE_OK) {
        received_file_discard(f);
        return code_of(st);
    }
    return ORV5_OK;
}

// The record with the separator between every two fields, then CR LF.
static uint32_t form_line(ReceivedFile &f, const uint8_t *record)
{
    const ReceivedHeader &h = f.header;
    uint32_t n = 0;
    if (!f.tsep) {
        std::memcpy(f.line, record, static_cast<size_t>(h.record_length));
        n = static_cast<uint32_t>(h.record_length);
    } else {
        for (int i = 0; i < h.ditems; ++i) {
            if (i > 0) {
                std::memcpy(f.line + n, f.tsep_str, static_cast<size_t>(f.tsep_len));
                n += static_cast<uint32_t>(f.tsep_len);
            }
            std::memcpy(f.line + n, record, static_cast<size_t>(h.ddigits[i]));
            n += static_cast<uint32_t>(h.ddigits[i]);
            record += h.ddigits[i];
        }
    }
    f.line[n++] = '\r';
    f.line[n++] = '\n';
    return n;
}

Orv5Result received_file_put(ReceivedFile &f, const uint8_t *record)
{
    if (!f.open || f.tmp == PLAT_FILE_NONE) {
        plat_reason_set("received file", "not open");
        return ORV5_E_FILE_IO;
    }
    uint32_t n = form_line(f, record);
    PlatFileStatus st = plat_file_write(f.tmp, f.line, n, f.tmp_path);
    if (st != PLAT_FILE_OK)
        return code_of(st);
    f.bytes_written += n;
    ++f.records_written;
    return ORV5_OK;
}

// Closes an open handle; the slot is empty afterwards.
static PlatFileStatus close_handle(plat_file &h, const char *what)
{
    if (h == PLAT_FILE_NONE)
        return PLAT_FILE_OK;
    PlatFileStatus st = plat_file_close(h, what);
    h = PLAT_FILE_NONE;
    return st;
}

// Copies the temporary file onto the end of the destination.
static PlatFileStatus append_records(ReceivedFile &f)
{
    plat_file in = PLAT_FILE_NONE;
    PlatFileStatus st = plat_file_open_read(f.tmp_path, &in);
    uint32_t got = 0;
    while (st == PLAT_FILE_OK) {
        st = plat_file_read(in, f.copy, RX_COPY_SIZE, &got, f.tmp_path);
        if (st != PLAT_FILE_OK || got == 0)
            break;
        f.target_grown = true;
        st = plat_file_write(f.target, f.copy, got, f.dest_path);
    }
    if (in != PLAT_FILE_NONE)
        close_handle(in, f.tmp_path);
    if (st == PLAT_FILE_OK)
        st = plat_file_sync(f.target, f.dest_path);
    PlatFileStatus closed = close_handle(f.target, f.dest_path);
    return st != PLAT_FILE_OK ? st : closed;
}

// A data file gets a field-definition file, unless it is one itself.
static bool wants_fld(const ReceivedHeader &h)
{
    return h.file_type == FT_DATA && std::strcmp(h.ext, ".FLD") != 0;
}

// Writes the new field-definition file beside the destination, not yet in
// place.  data_path: the file whose time the date line gives.
[[nodiscard]] static Orv5Result prepare_fld(ReceivedFile &f, const char *data_path, uint64_t size)
{
    const ReceivedHeader &h = f.header;
    char file_text[NAME_TEXT_SIZE];
    std::snprintf(file_text, sizeof file_text, "%s%s", h.name, h.ext);
    // The spelled base name: the destination's spelling without its extension.
    char base[NAME_TEXT_SIZE];
    std::snprintf(base, sizeof base, "%.*s",
                  static_cast<int>(std::strlen(h.dest_base) - std::strlen(h.ext)), h.dest_base);
    FldSection section{};
    section.file_text = file_text;
    section.has_date = plat_file_local_time(data_path, &section.date);
    section.size = size;
    section.records = h.records_announced;
    section.ditems = h.ditems;
    section.ddigits = h.ddigits;
    return fld_prepare(f.fld, f.dir, base, section);
}

// The new data file is in place but its field-definition file could not
// follow: the destination becomes what it was, the old file or none.
static void put_back_old_data(ReceivedFile &f)
{
    if (f.old_copy_path[0] == '\0') {
        plat_file_remove(f.dest_path);
    } else if (plat_file_replace(f.old_copy_path, f.dest_path) == PLAT_FILE_OK) {
        f.old_copy_path[0] = '\0';
    }
    // When even that fails the old data stays under its copy's name, never
    // removed: the reason kept names it.
}

// A new file, or one replacing the file of that name: the temporary file
// takes the destination's place.  A data file and its field-definition file
// go in place as a pair: the old data file is kept aside until the new
// .FLD file is in place too, and comes back if that fails.
[[nodiscard]] static Orv5Result commit_replacing(ReceivedFile &f)
{
    f.old_copy_path[0] = '\0';
    if (!wants_fld(f.header)) {
        PlatFileStatus st = plat_file_replace(f.tmp_path, f.dest_path);
        if (st != PLAT_FILE_OK)
            return code_of(st);
        f.tmp_path[0] = '\0';   // the data is in place: nothing left to remove
        return ORV5_OK;
    }
    Orv5Result rc = prepare_fld(f, f.tmp_path, f.bytes_written);
    if (rc != 0)
        return rc;
    PlatFileStatus st = plat_file_replace_keeping(f.tmp_path, f.dest_path, f.old_copy_path,
                                                  PATH_SIZE);
    if (st != PLAT_FILE_OK)
        return code_of(st);
    f.tmp_path[0] = '\0';
    rc = fld_install(f.fld);
    if (rc != 0) {
        put_back_old_data(f);
        return rc;
    }
    // Both in place: the old data is no longer needed.  A copy that cannot
    // be removed is left behind rather than failing a complete reception.
    if (f.old_copy_path[0] != '\0')
        plat_file_remove(f.old_copy_path);
    f.old_copy_path[0] = '\0';
    return ORV5_OK;
}

// Appending to a file that existed: the records go onto its end; any
// failure up to the new field-definition file being in place cuts it back.
[[nodiscard]] static Orv5Result commit_appending(ReceivedFile &f)
{
    PlatFileStatus st = append_records(f);
    if (st != PLAT_FILE_OK)
        return code_of(st);
    Orv5Result rc = wants_fld(f.header)
                        ? prepare_fld(f, f.dest_path, f.old_length + f.bytes_written)
                        : ORV5_OK;
    if (rc != 0)
        return rc;
    st = plat_file_remove(f.tmp_path);
    if (st != PLAT_FILE_OK)
        return code_of(st);
    f.tmp_path[0] = '\0';
    rc = wants_fld(f.header) ? fld_install(f.fld) : ORV5_OK;
    if (rc == 0)
        f.target_grown = false;   // done: nothing to cut back
    return rc;
}

Orv5Result received_file_commit(ReceivedFile &f)
{
    if (!f.open) {
        plat_reason_set("received file", "not open");
        return ORV5_E_FILE_IO;
    }
    PlatFileStatus st = plat_file_sync(f.tmp, f.tmp_path);
    PlatFileStatus closed = close_handle(f.tmp, f.tmp_path);
    Orv5Result rc = st != PLAT_FILE_OK       ? code_of(st)
                    : closed != PLAT_FILE_OK ? code_of(closed)
                                             : ORV5_OK;
    if (rc == 0)
        rc = f.file_existed ? commit_appending(f) : commit_replacing(f);
    received_file_discard(f);
    return rc;
}

void received_file_discard(ReceivedFile &f)
{
    if (!f.open)
        return;
    close_handle(f.tmp, f.tmp_path);
    close_handle(f.target, f.dest_path);
    if (f.target_grown)
        plat_file_truncate(f.dest_path, f.old_length);   // the old content, exactly
    f.target_grown = false;
    if (f.tmp_path[0] != '\0' && plat_file_exists(f.tmp_path))
        plat_file_remove(f.tmp_path);
    f.tmp_path[0] = '\0';
    fld_drop(f.fld);
    f.open = false;
}
