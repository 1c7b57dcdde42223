// recognizer.cpp - reads the terminal's answer to a frame byte by byte.
//
// CtrlSW selects the step for the next byte: 0 hunts for DLE and reads the
// control code, 1..4 match the station bytes of ACK, NAK, EOT and WACK, 5
// skips a frame the terminal sent, 6 skips the station bytes of an ENQ.
#include "link/recognizer.h"

#include "download/download.h"
#include "session/progress.h"
#include "session/settings.h"
#include "session/timer.h"

int32_t DleCnt;
int32_t CtrlSW;
int32_t SttSW;
int32_t TailCnt;
int32_t wait_flag;
int32_t nak_count;

// CtrlSW values.
enum {
    SW_DLE = 0, SW_ACK = 1, SW_NAK = 2, SW_EOT = 3, SW_WACK = 4,
    SW_SKIP_FRAME = 5, SW_SKIP_ENQ = 6, SW_COUNT = 7
};

// SttSW values of the skip step.
enum { STT_HUNT = 0, STT_AFTER_DLE = 1, STT_TAIL = 2 };

// Station bytes that follow a control code, and check bytes after a frame's
// terminator.
constexpr int32_t TAIL_BYTES = 2;

// Result codes ending a wait.
constexpr int ANSWER_DONE = -1;
constexpr int ERR_NAK_LIMIT = 54;
constexpr int ERR_TERMINAL_EOT = 55;

static void hunt_again()
{
    DleCnt = 0;
    TailCnt = 0;
    CtrlSW = SW_DLE;
    SttSW = STT_HUNT;
}

void recognizer_reset()
{
    hunt_again();
}

static void note_error(int code)
{
    if (first_error == 0)
        first_error = code;
}

int fnc_dle(int c, int result)
{
    if (DleCnt == 0) {
        if (c == cDLE)
            DleCnt = 1;
        return result;
    }
    switch (c) {
    case cSOH:
    case cSTX:
        CtrlSW = SW_SKIP_FRAME;
        break;
    case cEOT:
        CtrlSW = SW_EOT;
        break;
    case cENQ:
        CtrlSW = SW_SKIP_ENQ;
        TailCnt = 0;
        SttSW = STT_TAIL;
        break;
    case cACK:
        CtrlSW = SW_ACK;
        break;
    case cNAK:
        CtrlSW = SW_NAK;
        break;
    case cWACK:
        CtrlSW = SW_WACK;
        break;
    default:   // a second DLE included: start over
        DleCnt = 0;
        CtrlSW = SW_DLE;
        break;
    }
    return result;
}

// Matches the next station byte; true once both have matched.  A message
// for another station sends the recognizer back to hunting.
static bool station_matched(int c)
{
    if (TailCnt < 0 || TailCnt >= TAIL_BYTES
        || c != session_settings.station_id[TailCnt]) {
        hunt_again();
        return false;
    }
    ++TailCnt;
    return TailCnt == TAIL_BYTES;
}

int fnc_ack(int c, int result)
{
    if (!station_matched(c))
        return result;
    wait_flag = 0;
    retry_count = 0;
    nak_count = 0;
    if (download_state < DS260) {
        download_state = records_total > 0 ? DS260 : DS310;
    } else {
        progress_update(static_cast<uint32_t>(serial_no), records_total);
        download_state = serial_no < records_total ? DS260 : DS310;
    }
    return ANSWER_DONE;
}

int fnc_nak(int c, int result)
{
    if (!station_matched(c))
        return result;
    wait_flag = 0;
    retry_count = 0;
    ++nak_count;
    if (nak_count < NAK_LIMIT)
        return ANSWER_DONE;   // the same frame goes out again
    nak_count = 0;
    download_state = DS310;
    note_error(ERR_NAK_LIMIT);
    return ERR_NAK_LIMIT;
}

int fnc_eot(int c, int result)
{
    if (!station_matched(c))
        return result;
    wait_flag = 0;
    retry_count = 0;
    nak_count = 0;
    download_state = DS310;
    note_error(ERR_TERMINAL_EOT);
    return ERR_TERMINAL_EOT;
}

int fnc_wack(int c, int result)
{
    if (!station_matched(c))
        return result;
    retry_count = 0;
    DleCnt = 0;
    TailCnt = 0;
    CtrlSW = SW_DLE;
    wait_flag = 1;
    timer_set(WACK_WAIT_TICKS);
    return result;
}

int fnc_sohstx(int c, int result)
{
    switch (SttSW) {
    case STT_HUNT:
        if (c == cDLE)
            SttSW = STT_AFTER_DLE;
        break;
    case STT_AFTER_DLE:
        if (c == cETX || c == cEOT || c == cENQ || c == cACK || c == cNAK || c == cWACK) {
            TailCnt = 0;
            SttSW = STT_TAIL;
        } else {
            SttSW = STT_HUNT;
        }
        break;
    default:
        if (++TailCnt >= TAIL_BYTES)
            hunt_again();
        break;
    }
    return result;
}

typedef int (*RecognizerStep)(int c, int result);

static const RecognizerStep steps[SW_COUNT] = {
    fnc_dle, fnc_ack, fnc_nak, fnc_eot, fnc_wack, fnc_sohstx, fnc_sohstx
};

int recognize(int c, int result)
{
    if (c & 0xFF00)   // line error flagged by the serial channel: not a byte
        return result;
    if (CtrlSW < 0 || CtrlSW >= SW_COUNT)
        hunt_again();
    return steps[CtrlSW](c & 0xFF, result);
}
