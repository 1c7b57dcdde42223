// download.h - sending one file to the terminal.
#pragma once

#include <cstdint>
#include <cstdio>
#include "link/serial.h"
#include "link/wire.h"

// State numbers of download_state.
enum DownloadState {
    DS10 = 10, DS11, DS12, DS13, DS14,
    DS210 = 15, DS211, DS260, DS261,
    DS310 = 19, DS311, DS312, DS313, DS314,
    DEND = 24, DQUIT = 25
};
constexpr int DS_FIRST = DS10;
constexpr int DS_FINAL = DQUIT;

extern int32_t download_state;
extern int32_t records_total;
extern int32_t serial_no;      // last data packet built
extern uint32_t retry_count;
extern uint32_t retry_limit;
extern int32_t first_error;
extern FILE *send_fp;
extern uint8_t pkt_buf[FRAME_BUF_SIZE];
extern int pkt_len;

constexpr uint32_t ANSWER_TICKS = 50;     // 500 ms per answer, 10 ms ticks
constexpr uint32_t RETRY_LIMIT_LINKED = 60;  // time-outs after the connection (30 s)

// Runs the whole transfer; 0 or a result code.
int download(SerialChannel &channel);

// Records of send_fp: the count, -1 when uncountable, 32768 when more than
// 32767 or a read error occurred.
int datlines();

void send_enq();
int send_eot(int state);
int ds_timeout();
