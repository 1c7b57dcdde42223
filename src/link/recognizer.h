// recognizer.h - the sending side's recognizer of the terminal's answers.
//
// Fed one good byte at a time while a frame's answer is awaited.  Result:
// unchanged (0) = keep waiting; -1 = answer complete; other = error code.
#pragma once

#include <cstdint>

extern int32_t DleCnt;    // 0 or 1: a DLE has been seen
extern int32_t CtrlSW;    // 0..6: the step that handles the next byte
extern int32_t SttSW;     // 0..2: state of the skip step
extern int32_t TailCnt;   // 0..2: bytes matched after the control code
extern int32_t wait_flag; // the terminal asked to wait (WACK)
extern int32_t nak_count; // consecutive NAKs for the frame in flight

constexpr int NAK_LIMIT = 10;           // NAKs for one frame before giving up
constexpr uint32_t WACK_WAIT_TICKS = 6000;  // 60 s after a WACK, 10 ms ticks

int fnc_dle(int c, int result);
int fnc_ack(int c, int result);
int fnc_nak(int c, int result);
int fnc_eot(int c, int result);
int fnc_wack(int c, int result);
int fnc_sohstx(int c, int result);

// Dispatches c to the step selected by CtrlSW.
int recognize(int c, int result);

// Clears DleCnt, CtrlSW, SttSW, TailCnt before a frame is sent.
void recognizer_reset();
