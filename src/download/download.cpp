// download.cpp - sending one file to the terminal.
//
// A table-driven state machine: connection (enquiry, the terminal's ACK
// with its station id), one header frame, one data frame per record, and
// the closing EOT.  Every wait polls the port, pumps messages and tests the
// abort flag and the session timer; every time-out is 500 ms.
#include "download/download.h"

#include <cerrno>
#include <cstring>

#include "download/packet.h"
#include "link/recognizer.h"
#include "link/serial.h"
#include "session/settings.h"
#include "session/timer.h"

int32_t download_state;
int32_t records_total;
int32_t serial_no;
uint32_t retry_count;
uint32_t retry_limit;
int32_t first_error;
FILE *send_fp;
uint8_t pkt_buf[FRAME_BUF_SIZE];
int pkt_len;

static uint8_t wire_buf[FRAME_BUF_SIZE];   // wire form, copied back into pkt_buf
static int msg_tail;                        // bytes read after a control code
static SerialChannel *chan;                 // the session's port during download()

constexpr int RECORDS_OVER = RECORDS_MAX + 1;    // "too many, or unreadable"
constexpr int PUMP_EVERY_LINES = 100;            // counting pumps this often
constexpr int DEFAULT_TIMEOUT_S = 30;            // taken for -L0's retry limit
constexpr int RETRIES_PER_S = 100 / ANSWER_TICKS; // 2 answers of 500 ms a second

// --- control messages ----------------------------------------------------

static void send_ctrl(uint8_t code)
{
    uint8_t msg[CTRL_MSG_LEN];
    make_ctrl_msg(msg, code, session_settings.station_id);
    turnaround_wait();
    com_write(*chan, CTRL_MSG_LEN, msg);
}

void send_enq()
{
    send_ctrl(cENQ);
}

int send_eot(int state)
{
    send_ctrl(cEOT);
    return state;
}

// Abort seen in a wait: tell the terminal and leave the state machine.
static int abort_now()
{
    timer_set(0);
    com_clear_tx(*chan);
    download_state = send_eot(DQUIT);
    return abort_code.load();
}

static int give_up(int state)
{
    download_state = state;
    if (first_error == 0)
        first_error = 52;
    return 52;
}

int ds_timeout()
{
    timer_set(0);
    if (wait_flag) {   // a WACK, then 60 s of silence
        wait_flag = 0;
        return give_up(send_eot(DQUIT));
    }
    if (download_state < DS210 && session_settings.timeout_s == 0) {
        send_enq();    // -L0: the connection phase never gives up
        return 0;
    }
    retry_count += 1;
    if (retry_count < retry_limit) {
        if (download_state >= DS310)
            download_state = DS310;   // send the EOT again
        else
            send_enq();               // ask the terminal to answer again
        return 0;
    }
    if (download_state >= DS310)
        return give_up(DQUIT);
    return give_up(send_eot(DQUIT));
}

// --- counting records ----------------------------------------------------

static long file_length(FILE *fp)
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
static int count_fixed_records()
{
    long length = file_length(send_fp);
    if (length < 0)
        return -1;
    long unit = session_settings.record_length + 2;
    if (length <= 1)
        return 0;
    long count = (length - 1) / unit + ((length - 1) % unit > 0 ? 1 : 0);
    return count > RECORDS_MAX ? RECORDS_OVER : static_cast<int>(count);
}

static int count_lines()
{
    static char none[1];   // read_line stores nothing at capacity 0
    int count = 0, length = 0;
    bool ok;
    for (;;) {
        if (count % PUMP_EVERY_LINES == 0) {
            pump_messages();
            if (abort_code.load() != 0)
                return -1;
        }
        if (read_line(none, 0, send_fp, &length) == nullptr) {
            ok = std::feof(send_fp) != 0;   // a read error leaves it clear
            break;
        }
        if (++count > RECORDS_OVER) {
            ok = false;
            break;
        }
    }
    std::clearerr(send_fp);
    std::rewind(send_fp);
    return ok ? count : RECORDS_OVER;
}

int datlines()
{
    // Only data files are read as fixed-length blocks; program files are
    // read by lines in every mode, so they are counted by lines too.
    if (session_settings.fixed_records && session_settings.file_type == FT_DATA)
        return count_fixed_records();
    return count_lines();
}

// --- waiting for single bytes ---------------------------------------------

using ByteFn = void (*)(int c);

static int wait_byte(ByteFn handle)
{
    int result = -1;
    timer_set(ANSWER_TICKS);
    while (result == -1) {
        if (com_rx_count(*chan) > 0) {
            int c = com_getc(*chan);
            if ((c & COM_NO_BYTE_MASK) == 0) {
                handle(c);
                result = 0;
            }
            continue;
        }
        pump_wait(chan->port);
        if (abort_code.load() != 0)
            result = abort_now();
        else if (timer_expired)
            result = ds_timeout();
    }
    if (!timer_expired)
        timer_set(0);
    return result;
}

static bool is_other_ctrl(int c)
{
    return (c >= 0x01 && c <= 0x05) || c == cNAK;
}

static void on_ds11(int c)
{
    if (c == cDLE)
        download_state = DS12;
}

static void on_ds12(int c)
{
    msg_tail = 0;
    download_state = c == cACK ? DS13 : is_other_ctrl(c) ? DS14 : DS11;
}

static void on_ds13(int c)
{
    session_settings.station_id[msg_tail++] = static_cast<uint8_t>(c);
    if (msg_tail == 2) {
        retry_limit = RETRY_LIMIT_LINKED;
        download_state = DS210;
    }
}

static void on_ds14(int c)
{
    (void)c;
    if (++msg_tail == 2)
        download_state = DS11;
}

static void on_ds311(int c)
{
    if (c == cDLE)
        download_state = DS312;
}

static void on_ds312(int c)
{
    msg_tail = 0;
    download_state = c == cACK ? DS313 : is_other_ctrl(c) ? DS314 : DS311;
}

static void on_ds313(int c)
{
    if (c != session_settings.station_id[msg_tail]) {
        download_state = DS311;
        return;
    }
    if (++msg_tail == 2)
        download_state = DQUIT;
}

static void on_ds314(int c)
{
    (void)c;
    if (++msg_tail == 2)
        download_state = DS311;
}

static int ds11(int) { return wait_byte(on_ds11); }
static int ds12(int) { return wait_byte(on_ds12); }
static int ds13(int) { return wait_byte(on_ds13); }
static int ds14(int) { return wait_byte(on_ds14); }
static int ds311(int) { return wait_byte(on_ds311); }
static int ds312(int) { return wait_byte(on_ds312); }
static int ds313(int) { return wait_byte(on_ds313); }
static int ds314(int) { return wait_byte(on_ds314); }

// --- sending frames --------------------------------------------------------

// Waits for the answer to the frame just sent; the recognizer decides.
static int await_answer(int result)
{
    while (result == 0) {
        if (com_rx_count(*chan) == 0)
            pump_wait(chan->port);
        else
            pump_messages();
        if (abort_code.load() != 0) {
            result = abort_now();
        } else if (timer_expired) {
            result = ds_timeout();   // the frame is not sent again
            timer_set(ANSWER_TICKS);
        } else if (com_rx_count(*chan) > 0) {
            int c = com_getc(*chan);
            if ((c & COM_NO_BYTE_MASK) == 0)
                result = recognize(c, result);
        }
    }
    return result;
}

static int send_frame(int result)
{
    const int32_t state = download_state;
    nak_count = 0;
    while (download_state == state && result == 0) {
        wait_flag = 0;
        retry_count = 0;
        recognizer_reset();
        turnaround_wait();
        com_write(*chan, pkt_len, pkt_buf);
        timer_set(ANSWER_TICKS);
        result = await_answer(result);
        if (result == -1)   // a complete ACK, or a NAK below the limit
            result = 0;
        if (!timer_expired)
            timer_set(0);
    }
    if (!timer_expired)
        timer_set(0);
    return result;
}

static int ds211(int result) { return send_frame(result); }
static int ds261(int result) { return send_frame(result); }

// Turns the built packet into its wire form in pkt_buf; returns its
// length, 0 when it could not be stuffed.
static int stuff_packet(int built_length)
{
    pkt_len = stuff_frame(pkt_buf, built_length, wire_buf);
    std::memcpy(pkt_buf, wire_buf, static_cast<size_t>(pkt_len));
    return pkt_len;
}

// After building: abort, or on to sending, or DEND with the build error.
static int after_build(int length, int next_state, int build_error)
{
    if (length > 0)
        length = stuff_packet(length);
    pump_messages();
    if (abort_code.load() != 0)
        return abort_now();
    if (length > 0) {
        download_state = next_state;
        return 0;
    }
    download_state = DEND;
    return build_error;
}

static int ds210(int)
{
    com_clear_tx(*chan);
    com_clear_rx(*chan);
    return after_build(make_hd_text(pkt_buf), DS211, 71);
}

static int ds260(int)
{
    retry_count = 0;
    nak_count = 0;
    int length = make_dt_text(pkt_buf);
    return after_build(length, DS261, length == -2 ? 76 : 71);
}

// --- opening, closing and local failure -------------------------------------

static int ds10(int)
{
    timer_set(0);
    com_clear_tx(*chan);
    com_clear_rx(*chan);
    send_enq();
    retry_count = 0;
    nak_count = 0;
    download_state = DS11;
    return 0;
}

static int ds310(int result)
{
    if (first_error == 0)
        first_error = result;
    timer_set(0);
    com_clear_tx(*chan);
    com_clear_rx(*chan);
    download_state = send_eot(DS311);
    return 0;
}

static int dend(int result)
{
    timer_set(0);
    com_clear_tx(*chan);
    com_clear_rx(*chan);
    send_eot(DQUIT);
    retry_count = 0;
    nak_count = 0;
    download_state = DQUIT;
    return result;
}

using StepFn = int (*)(int result);

// Indexed by state number - DS_FIRST; DQUIT has no step.
static const StepFn steps[DS_FINAL - DS_FIRST] = {
    ds10, ds11, ds12, ds13, ds14,
    ds210, ds211, ds260, ds261,
    ds310, ds311, ds312, ds313, ds314,
    dend,
};

// --- the transfer -------------------------------------------------------------

static bool is_file_io_error(int err)
{
    return err == EBADF || err == EACCES || err == EMFILE || err == EDEADLK;
}

static void forget_file_names()
{
    session_settings.file_name[0] = '\0';
    session_settings.file_ext[0] = '\0';
    session_settings.file_path[0] = '\0';
}

int download(SerialChannel &channel)
{
    chan = &channel;
    SessionSettings &s = session_settings;
    serial_no = 0;
    records_total = 0;
    int timeout = s.timeout_s != 0 ? s.timeout_s : DEFAULT_TIMEOUT_S;
    retry_limit = static_cast<uint32_t>(timeout) * RETRIES_PER_S;
    download_state = DS10;
    retry_count = 0;
    nak_count = 0;
    first_error = 0;

    if (!join_file_path(s.file_path, PATH_SIZE, nullptr))
        return 1;
    errno = 0;
    send_fp = std::fopen(s.file_path, "rb");
    if (send_fp == nullptr)
        return is_file_io_error(errno) ? 71 : 1;

    int result = 0;
    records_total = datlines();
    if (records_total < 0)
        result = 71;
    else if (records_total > RECORDS_MAX)
        result = 3;
    pump_messages();
    if (abort_code.load() != 0)
        result = abort_now();
    if (result == 0) {
        while (download_state >= DS_FIRST && download_state < DS_FINAL)
            result = steps[download_state - DS_FIRST](result);
    }
    std::fclose(send_fp);
    send_fp = nullptr;
    if (first_error != 0)
        result = first_error;
    forget_file_names();
    return result;
}
