// sim_options.cpp - the simulator's command line.
#include "sim_options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char SIM_USAGE[] =
    "usage: zdxsim (--pty | --device=PATH) [options]\n"
    "Plays a terminal that receives one file (or --count N files).\n"
    "  --pty               create a pseudo-terminal; prints 'PTY <path>'\n"
    "  --device=PATH       serve on a serial device\n"
    "  --baud N            pace the line as N bit/s, 10 bits per byte\n"
    "  --station N         the terminal's station number (default 0)\n"
    "  --out DIR           write the records (CR LF lines) and summary.json\n"
    "  --timeout S         give up after S seconds of silence (default 60)\n"
    "  --count N           transfers to serve (default 1)\n"
    "  --answer-delay MS   think time before every answer\n"
    "Faults (frame 0 = header, k = data record k):\n"
    "  --nak N[xM]         answer frame N with NAK M times (default 1)\n"
    "  --wack N[@MS]       answer frame N with WACK, ACK after MS (default 1000)\n"
    "  --eot-at N          answer frame N with EOT\n"
    "  --silent            answer nothing, not even the enquiry\n"
    "  --silent-from N     answer nothing from frame N on\n"
    "  --other-station ID[@N]  answer with station ID (from frame N; default\n"
    "                      already the enquiry)\n"
    "Prints one JSON summary line per transfer on stdout.\n";

namespace {

// Whole string as a number (decimal, or 0x hex) in [lo, hi].
bool to_long(const char *s, long lo, long hi, long *out) {
    if (!s || !*s) return false;
    char *end = nullptr;
    long v = std::strtol(s, &end, 0);
    if (*end != '\0' || v < lo || v > hi) return false;
    *out = v;
    return true;
}

// "A<sep>B" with B optional.
bool pair(const char *s, char sep, long hi_a, long hi_b, long *a, long *b) {
    char first[32];
    const char *p = std::strchr(s, sep);
    size_t n = p ? size_t(p - s) : std::strlen(s);
    if (n == 0 || n >= sizeof first) return false;
    std::memcpy(first, s, n);
    first[n] = '\0';
    if (!to_long(first, 0, hi_a, a)) return false;
    return !p || to_long(p + 1, 0, hi_b, b);
}

}  // namespace

bool parse_sim_options(int argc, char **argv, SimOptions *o) {
    zdxsim::TerminalFaults &f = o->terminal.faults;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        char name[32];
        const char *val = nullptr;
        const char *eq = std::strchr(arg, '=');
        size_t n = eq ? size_t(eq - arg) : std::strlen(arg);
        if (n >= sizeof name) n = sizeof name - 1;
        std::memcpy(name, arg, n);
        name[n] = '\0';
        if (eq) val = eq + 1;
        auto need = [&]() -> const char * {
            if (!val && i + 1 < argc) val = argv[++i];
            return val;
        };
        long a = 0, b = 0;
        bool ok = true;
        if (!std::strcmp(name, "--pty")) {
            o->pty = true;
        } else if (!std::strcmp(name, "--silent")) {
            f.silent = true;
        } else if (!std::strcmp(name, "--help")) {
            std::fputs(SIM_USAGE, stdout);
            std::exit(0);
        } else if (!std::strcmp(name, "--device")) {
            ok = (o->device = need()) != nullptr;
        } else if (!std::strcmp(name, "--out")) {
            ok = (o->out_dir = need()) != nullptr;
        } else if (!std::strcmp(name, "--baud")) {
            ok = to_long(need(), 0, 4000000, &a);
            o->baud = uint32_t(a);
        } else if (!std::strcmp(name, "--station")) {
            ok = to_long(need(), 0, 65535, &a);
            o->terminal.station = uint16_t(a);
        } else if (!std::strcmp(name, "--timeout")) {
            ok = to_long(need(), 1, 86400, &a);
            o->timeout_s = int(a);
        } else if (!std::strcmp(name, "--count")) {
            ok = to_long(need(), 1, 1000000, &a);
            o->count = int(a);
        } else if (!std::strcmp(name, "--answer-delay")) {
            ok = to_long(need(), 0, 600000, &a);
            o->terminal.answer_delay_ms = uint32_t(a);
        } else if (!std::strcmp(name, "--nak")) {
            b = 1;
            ok = need() && pair(val, 'x', zdxsim::MAX_RECORDS, 1000000, &a, &b);
            f.nak_frame = int(a);
            f.nak_times = int(b);
        } else if (!std::strcmp(name, "--wack")) {
            b = 1000;
            ok = need() && pair(val, '@', zdxsim::MAX_RECORDS, 600000, &a, &b);
            f.wack_frame = int(a);
            f.wack_delay_ms = uint32_t(b);
        } else if (!std::strcmp(name, "--eot-at")) {
            ok = to_long(need(), 0, zdxsim::MAX_RECORDS, &a);
            f.eot_frame = int(a);
        } else if (!std::strcmp(name, "--silent-from")) {
            ok = to_long(need(), 0, zdxsim::MAX_RECORDS, &a);
            f.silent_from = int(a);
        } else if (!std::strcmp(name, "--other-station")) {
            b = zdxsim::WRONG_STATION_AT_ENQ;
            ok = need() && pair(val, '@', 65535, zdxsim::MAX_RECORDS, &a, &b);
            f.wrong_station = uint16_t(a);
            f.wrong_station_from = int(b);
        } else {
            std::fprintf(stderr, "zdxsim: unknown option %s\n%s", arg, SIM_USAGE);
            return false;
        }
        if (!ok) {
            std::fprintf(stderr, "zdxsim: bad or missing value for %s\n", name);
            return false;
        }
    }
    if (o->pty == (o->device != nullptr)) {
        std::fprintf(stderr, "zdxsim: give exactly one of --pty and --device\n%s", SIM_USAGE);
        return false;
    }
    return true;
}
