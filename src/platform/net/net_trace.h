// net_trace.h - the network port's own lines in the byte trace: every
// burst as it went onto or came off the socket, telnet framing included,
// for people debugging a serial device server.
//
// On when the byte trace is (ORV5_TRACE names a file) and ORV5_TRACE_TELNET
// is "1".  The lines go to the same file, appended through a stream of
// their own, each written whole and flushed, in the byte trace's format:
//
//       0 NT FF FB 00 FF FD 00 FF FB 03 FF FD 03 FF FB 2C  |...............|
//       2 NR FF FD 2C FF FB 00 ...  |...|
//       2 -- telnet: server DO COM-PORT-OPTION
//      57 NT 10 02 41 FF FF 42  |..A..B|
//
// the time in ms since the port opened (the byte trace's zero too), NT for
// bytes sent on the socket, NR for bytes received from it, the bytes in
// hex and, between bars, as text; "-- telnet:" lines are notes on the
// negotiation and the com port replies.  A tcp:// port has no telnet layer:
// its NT and NR lines carry the serial bytes as they are, and show what a
// purge took off the socket unread.
//
// The record is allocated when the port opens; writing a line allocates
// nothing.
#pragma once

#include <cstddef>
#include <cstdint>

struct NetTrace;

enum class NetTraceDir { Sent, Received };

// Opens (appends to) the trace file when ORV5_TRACE and ORV5_TRACE_TELNET
// ask for it and writes the header naming the port as shown.  Null when
// they do not, or the file cannot be opened or the record allocated: the
// port then works untraced.  telnet: the port speaks telnet (for the
// header only).  start_ms: the plat_clock_ms() its lines count from, the
// port's opened_ms, which the byte trace counts from too.
NetTrace *net_trace_open(const char *shown, bool telnet, uint64_t start_ms);

// One burst of n bytes.  Nothing when t is null or n is 0.
void net_trace_bytes(NetTrace *t, NetTraceDir dir, const uint8_t *bytes, size_t n);

// A note line "-- telnet: text" ("-- tcp: text" on a raw port).  Nothing
// when t is null.
void net_trace_note(NetTrace *t, const char *text);

// Writes the closing note, closes the file and frees the record; safe on null.
void net_trace_close(NetTrace *t);
