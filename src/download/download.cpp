// download.cpp - sending one file to the terminal.
//
// A table-driven state machine: connection (enquiry, the terminal's ACK
// with its station), one header frame, one data frame per record, and the
// closing EOT.  The steps that wait for answers are in answer_waits.cpp;
// this file holds the driver, the building steps and the ends.
#include "download/download.h"

#include <cerrno>
#include <cstring>

#include "download/steps.h"
#include "orv5w32.h"
#include "platform/session_clock.h"
#include "runtime/timer.h"

constexpr int DEFAULT_TIMEOUT_S = 30;                    // taken for -L0's retry limit
constexpr uint32_t RETRIES_PER_S = 100 / ANSWER_TICKS;   // 2 answers of 500 ms a second

// --- building frames ---------------------------------------------------------

// Turns the built frame into its wire form; false when it has no content.
static bool stuff_built(Sender &snd, int built_length)
{
    if (built_length <= 0)
        return false;
    snd.frame_len = stuff_frame(snd.built, built_length, snd.frame);
    return true;
}

// After building: abort, or on to sending, or DEND with the build error.
[[nodiscard]] static Orv5Result after_build(Sender &snd, bool built, int next_state,
                                            Orv5Result build_error)
{
    pump_messages(*snd.run);
    if (stop_code(*snd.run) != ORV5_OK)
        return abort_now(snd);
    if (built) {
        snd.state = next_state;
        return ORV5_OK;
    }
    snd.state = DEND;
    return build_error;
}

[[nodiscard]] static Orv5Result ds210(Sender &snd, Orv5Result)
{
    const SessionSettings &s = *snd.settings;
    com_clear_tx(*snd.channel);
    com_clear_rx(*snd.channel);
    show_transfer_name(*snd.run, s.file.file_name, s.file.file_ext);
    snd.serial_no = 0;
    bool built = stuff_built(snd, make_hd_text(s, snd.station, snd.records_total, snd.built));
    return after_build(snd, built, DS211, ORV5_E_FILE_IO);
}

[[nodiscard]] static Orv5Result ds260(Sender &snd, Orv5Result)
{
    snd.retry_count = 0;
    snd.nak_count = 0;
    snd.serial_no += 1;
    const DataPacket pkt = make_dt_text(*snd.settings, snd.station, snd.serial_no, snd.file,
                                        snd.built);
    if (pkt.status != PacketBuild::Built)
        return after_build(snd, false, DS261, packet_build_result(pkt.status));
    return after_build(snd, stuff_built(snd, pkt.length), DS261, ORV5_E_FILE_IO);
}

// --- opening, closing and local failure -------------------------------------

static void clear_line(Sender &snd)
{
    (void)timer_set(*snd.run, 0);   // a failure stops the run: the next wait sees it
    com_clear_tx(*snd.channel);
    com_clear_rx(*snd.channel);
}

[[nodiscard]] static Orv5Result ds10(Sender &snd, Orv5Result)
{
    clear_line(snd);
    send_enq(snd);
    arm_answer_wait(snd);
    snd.retry_count = 0;
    snd.nak_count = 0;
    snd.state = DS11;
    start_control_wait(snd);
    return ORV5_OK;
}

[[nodiscard]] static Orv5Result ds310(Sender &snd, Orv5Result result)
{
    if (snd.first_error == ORV5_OK)
        snd.first_error = result;
    clear_line(snd);
    snd.state = send_eot(snd, DS311);
    start_control_wait(snd);
    arm_answer_wait(snd);
    return ORV5_OK;
}

[[nodiscard]] static Orv5Result dend(Sender &snd, Orv5Result result)
{
    clear_line(snd);
    send_eot(snd, DQUIT);
    snd.retry_count = 0;
    snd.nak_count = 0;
    snd.state = DQUIT;
    return result;
}

struct SendStepEntry {
    SendStep step;
    const char *name;   // the protocol's name of the state, for diagnostics
};

// Indexed by state - DS_FIRST; DQUIT has no step.
static const SendStepEntry send_steps[DS_FINAL - DS_FIRST] = {
    {ds10, "DS10"},   {ds11, "DS11"},   {ds12, "DS12"},   {ds13, "DS13"},   {ds14, "DS14"},
    {ds210, "DS210"}, {ds211, "DS211"}, {ds260, "DS260"}, {ds261, "DS261"}, {ds310, "DS310"},
    {ds311, "DS311"}, {ds312, "DS312"}, {ds313, "DS313"}, {ds314, "DS314"}, {dend, "DEND"},
};

// --- the transfer -------------------------------------------------------------

static bool is_file_io_error(int err)
{
    return err == EBADF || err == EACCES || err == EMFILE || err == EDEADLK;
}

static void start(Sender &snd, const SessionSettings &s, SessionRun &run, SerialChannel &channel)
{
    std::memset(&snd, 0, sizeof snd);
    snd.settings = &s;
    snd.run = &run;
    snd.channel = &channel;
    snd.station[0] = s.exchange.station_id[0];
    snd.station[1] = s.exchange.station_id[1];
    uint32_t timeout = static_cast<uint32_t>(s.exchange.timeout_s != 0 ? s.exchange.timeout_s
                                                                       : DEFAULT_TIMEOUT_S);
    snd.retry_limit = timeout * RETRIES_PER_S;
    snd.state = DS10;
}

// Counts the records and checks for an abort before the first byte goes out.
[[nodiscard]] static Orv5Result prepare(Sender &snd)
{
    Orv5Result result = ORV5_OK;
    snd.records_total = datlines(snd);
    if (snd.records_total < 0)
        result = ORV5_E_FILE_IO;
    else if (snd.records_total > RECORDS_MAX)
        result = ORV5_E_TOO_MANY_RECORDS;
    pump_messages(*snd.run);
    if (stop_code(*snd.run) != ORV5_OK)
        result = abort_now(snd);
    return result;
}

Orv5Result download(const SessionSettings &s, SessionRun &run, SerialChannel &channel)
{
    Sender snd;
    start(snd, s, run, channel);

    char path[PATH_SIZE];
    if (!join_file_path(s, path, PATH_SIZE, nullptr))
        return ORV5_E_SEND_FILE;
    errno = 0;
    snd.file.fp = std::fopen(path, "rb");
    if (snd.file.fp == nullptr)
        return is_file_io_error(errno) ? ORV5_E_FILE_IO : ORV5_E_SEND_FILE;

    Orv5Result result = prepare(snd);
    if (result == ORV5_OK) {
        while (snd.state >= DS_FIRST && snd.state < DS_FINAL) {
            const SendStepEntry &entry = send_steps[snd.state - DS_FIRST];
            plat_note_state(entry.name);
            result = entry.step(snd, result);
        }
    }
    std::fclose(snd.file.fp);
    return snd.first_error != ORV5_OK ? snd.first_error : result;
}
