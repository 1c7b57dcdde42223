// transfer_counts.h - the records and bytes a session moved, measured on
// the files themselves: the file sent, or the file received (in append
// mode only what this session added to it).
//
// The library's exports return only the result code and the file's name,
// so orvw counts the way the library reads and writes: a sent data or
// program file has one record per line (a line ends at CR LF; a last line
// without one counts, a final Ctrl-Z does not); a sent fixed-length data
// file (+C) has one record per record length + CR LF, the length known
// only from +F widths; a received data file has one record per CR LF line;
// a received program file one per 128 + 2 (.PD3) or 130 + 2 bytes (.EX3,
// .FN3).
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "command_text.h"

constexpr long long COUNT_UNKNOWN = -1;

struct TransferCounts {
    long long records = COUNT_UNKNOWN;
    long long bytes = COUNT_UNKNOWN;
};

// What an appending reception may grow, measured before the session: the
// size of the named destination, or of every file in the destination
// folder when the terminal names the file.  Empty for other sessions.
struct TransferBaseline {
    std::map<std::string, uint64_t> sizes;   // path -> bytes
};

TransferBaseline take_baseline(const CommandTextFacts &f);

// The file on disk that the session sent or received; "" when it is not
// known (a reception under the terminal's name that never got a header).
std::string transfer_file(const CommandTextFacts &f, const std::string &name_buf);

TransferCounts count_sent(const CommandTextFacts &f, const std::string &path);
TransferCounts count_received(const TransferBaseline &before, const std::string &path);
