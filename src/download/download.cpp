// download.cpp - sending one file to the terminal (state machine).
#include "download/download.h"

int32_t download_state;
int32_t records_total;
int32_t serial_no;
uint32_t retry_count;
uint32_t retry_limit;
int32_t first_error;
FILE *send_fp;
uint8_t pkt_buf[FRAME_BUF_SIZE];
int pkt_len;
