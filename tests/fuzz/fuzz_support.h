// fuzz_support.h - what the fuzz targets share: a scratch folder, file
// helpers, the result-code checks and the failure report.
//
// A broken invariant is reported on stderr and ends the process with
// __builtin_trap, so libFuzzer keeps the input as a crash.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "orv5w32.h"
#include "../support/scratch_files.h"

namespace fuzz {

using Bytes = std::vector<uint8_t>;

[[noreturn]] inline void broken(const char *what, const std::string &detail = "")
{
    std::fprintf(stderr, "INVARIANT BROKEN: %s %s\n", what, detail.c_str());
    std::fflush(stderr);
    __builtin_trap();
}

inline void require(bool ok, const char *what, const std::string &detail = "")
{
    if (!ok)
        broken(what, detail);
}

// One scratch folder per process, made on first use, with a trailing '/'.
inline const std::string &scratch_dir()
{
    static std::string dir = [] {
        char tmpl[] = "/tmp/orv5fuzz.XXXXXX";
        const char *made = ::mkdtemp(tmpl);
        if (!made)
            broken("scratch folder", "mkdtemp failed");
        return std::string(made) + "/";
    }();
    return dir;
}

using scratch::list_dir;
using scratch::open_descriptors;
using scratch::read_file;

inline void clear_dir(const std::string &dir)
{
    for (const std::string &n : list_dir(dir))
        ::unlink((dir + n).c_str());
}

inline void write_file(const std::string &path, const std::string &bytes)
{
    if (!scratch::write_file(path, bytes))
        broken("scratch file", path);
}

inline bool documented_code(int code)
{
#define ORV5_FUZZ_IS_(name, value, text) \
  if (code == (value)) \
    return true;
    ORV5_RESULT_LIST(ORV5_FUZZ_IS_)
#undef ORV5_FUZZ_IS_
    return false;
}

// Codes a receiving session may end with; the sending ones are the rest of
// the transfer codes.
inline bool receiving_code(int code)
{
    switch (code) {
    case ORV5_OK:
    case ORV5_E_FILE_NAME:
    case ORV5_E_RX_TIMEOUT:
    case ORV5_E_RX_NAK_LIMIT:
    case ORV5_E_TERMINAL_EOT:
    case ORV5_E_BAD_HEADER:
    case ORV5_E_FILE_IO:
    case ORV5_E_DISK_FULL:
    case ORV5_E_NAME_MISMATCH:
    case ORV5_E_ABORTED: return true;
    default: return false;
    }
}

inline bool sending_code(int code)
{
    switch (code) {
    case ORV5_OK:
    case ORV5_E_TX_TIMEOUT:
    case ORV5_E_TX_NAK_LIMIT:
    case ORV5_E_TERMINAL_EOT:
    case ORV5_E_FILE_IO:
    case ORV5_E_FIXED_RECORD:
    case ORV5_E_ABORTED: return true;
    default: return false;
    }
}

// Reads the fuzz input front to back; past its end every read gives 0.
class Input {
public:
    Input(const uint8_t *data, size_t size) : p_(data), end_(data + size) {}
    uint8_t byte() { return p_ < end_ ? *p_++ : 0; }
    size_t left() const { return static_cast<size_t>(end_ - p_); }
    const uint8_t *take(size_t n, size_t *got)
    {
        *got = n < left() ? n : left();
        const uint8_t *at = p_;
        p_ += *got;
        return at;
    }

private:
    const uint8_t *p_, *end_;
};

}   // namespace fuzz
