// sim_options.cpp - the simulator's command line.
#include "sim_options.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char SIM_USAGE[] =
    "usage: zdxsim (--pty | --device=PATH) [options]\n"
    "       zdxsim (--pty | --device=PATH) (--send FILE | --send-records N) [options]\n"
    "Plays a terminal that receives one file (or --count N files), or with\n"
    "--send / --send-records one that sends a file to the PC (+R).\n"
    "  --pty               create a pseudo-terminal; prints 'PTY <path>'\n"
    "  --device=PATH       serve on a serial device\n"
    "  --baud N            pace the line as N bit/s, 10 bits per byte\n"
    "  --pace frames|bytes with --baud: write each output whole when its\n"
    "                      last byte has arrived (frames, the default), or\n"
    "                      each byte on its own when it has (bytes, as a\n"
    "                      UART without a FIFO hands them over)\n"
    "  --station N         the terminal's station number (default 0)\n"
    "  --out DIR           write the records (CR LF lines) and summary.json\n"
    "  --timeout S         give up after S seconds of silence (default 60)\n"
    "  --count N           transfers to serve, one after the other (default 1)\n"
    "  --answer-delay MS   think time before every answer (sending: before\n"
    "                      every transmission)\n"
    "Faults when receiving (frame 0 = header, k = data record k):\n"
    "  --nak N[xM]         answer frame N with NAK M times (default 1)\n"
    "  --wack N[@MS]       answer frame N with WACK, ACK after MS (default 1000)\n"
    "  --eot-at N          answer frame N with EOT\n"
    "  --silent            answer nothing, not even the enquiry\n"
    "  --silent-from N     answer nothing from frame N on\n"
    "  --other-station ID[@N]  answer with station ID (from frame N; default\n"
    "                      already the enquiry)\n"
    "Sending (the PC receives with +R):\n"
    "  --send FILE         send FILE: a program file by its extension (.PD3,\n"
    "                      .EX3, .FN3), else a data file whose widths come\n"
    "                      from --widths or from FILE's .FLD (then .fld) beside it;\n"
    "                      lines end in CR LF or LF, are cut or filled with\n"
    "                      blanks (program files: '0') to the record length\n"
    "  --send-records N    send N generated records (0..32767): record k is k\n"
    "                      in five digits, then letters from 'A'+k on; every\n"
    "                      third carries a DLE byte in its middle\n"
    "  --widths W,W,...    field widths of the data file (1..254, at most 16)\n"
    "  --send-name NAME    the name in the header (at most 12 characters;\n"
    "                      default FILE's name in capitals, or SIMDATA.TXT);\n"
    "                      its extension decides the kind of file\n"
    "  --reply-timeout MS  wait for an answer this long, then ask with DLE ENQ\n"
    "                      (default 3000); the opening enquiry is repeated\n"
    "                      as often until the PC answers or --timeout ends it\n"
    "  --retries N         unanswered enquiries for one frame before the\n"
    "                      terminal gives up with its EOT (default 5)\n"
    "  The terminal gives up after 10 NAKs in a row for one frame (its EOT\n"
    "  follows) and sends its closing EOT at most 3 times.\n"
    "Faults when sending (N = frame: 0 header, k record k, or 'last'; each\n"
    "applies once unless xK says how often):\n"
    "  --fault-crc N[xK]       bad check value on frame N, K times (default 1)\n"
    "  --fault-station N[@ID]  frame N with station ID (default 0xFFFF, or\n"
    "                          0xFFFE when that is ours)\n"
    "  --fault-serial N[@S]    data frame N with serial number S (default N+1)\n"
    "  --fault-length N[@D]    frame N D bytes longer, negative: shorter (default 1)\n"
    "  --fault-break N[@B]     frame N broken off by DLE ENQ after B body bytes\n"
    "                          (default half the body)\n"
    "  --fault-header KIND[xK] invalid header, K times; KIND: name (no 8.3 name),\n"
    "                          count (32768 records), fields (17 fields), width\n"
    "                          (a width 000), sum (widths 127,128: 257 in all),\n"
    "                          short (too short for a header)\n"
    "  --fault-repeat N        send frame N once more after its ACK\n"
    "  --fault-lost-ack N      do not hear the ACK of frame N ('last': the final\n"
    "                          ACK): ask with DLE ENQ, send it again if told\n"
    "  --fault-silent          fall silent before the enquiry\n"
    "  --fault-silent-from N   fall silent instead of sending frame N\n"
    "  --fault-eot-at N        send the terminal's own DLE EOT instead of frame N\n"
    "  --fault-no-closing-eot  after the last ACK send no closing EOT: fall\n"
    "                          silent (ends after --timeout or at the PC's EOT)\n"
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

// A frame number: 0..32767 or "last".
bool to_frame(const char *s, int *frame) {
    long v = 0;
    if (s && std::strcmp(s, "last") == 0) {
        *frame = zdxsim::LAST_FRAME;
        return true;
    }
    if (!to_long(s, 0, zdxsim::MAX_RECORDS, &v)) return false;
    *frame = int(v);
    return true;
}

// "FRAME<sep>B" with B optional, in [lo_b, hi_b].
bool frame_pair(const char *s, char sep, long lo_b, long hi_b, int *frame, long *b) {
    char first[32];
    const char *p = s ? std::strchr(s, sep) : nullptr;
    size_t n = !s ? 0 : p ? size_t(p - s) : std::strlen(s);
    if (n == 0 || n >= sizeof first) return false;
    std::memcpy(first, s, n);
    first[n] = '\0';
    if (!to_frame(first, frame)) return false;
    return !p || to_long(p + 1, lo_b, hi_b, b);
}

bool header_kind(const char *s, zdxsim::HeaderFault *kind, long *times) {
    static const struct {
        const char *name;
        zdxsim::HeaderFault kind;
    } kinds[] = {
        {"name", zdxsim::HeaderFault::name},     {"count", zdxsim::HeaderFault::count},
        {"fields", zdxsim::HeaderFault::fields}, {"width", zdxsim::HeaderFault::width},
        {"sum", zdxsim::HeaderFault::sum},       {"short", zdxsim::HeaderFault::short_header},
    };
    if (!s) return false;
    const char *x = std::strchr(s, 'x');
    size_t n = x ? size_t(x - s) : std::strlen(s);
    for (const auto &k : kinds) {
        if (std::strlen(k.name) == n && std::strncmp(s, k.name, n) == 0) {
            *kind = k.kind;
            return !x || to_long(x + 1, 1, 1000000, times);
        }
    }
    return false;
}

// Options of the sending role.  Returns false when name is none of them;
// *ok tells whether its value was good.
bool parse_send_option(const char *name, const char *val, int argc, char **argv, int *i,
                       SimOptions *o, bool *ok) {
    auto need = [&]() -> const char * {
        if (!val && *i + 1 < argc) val = argv[++*i];
        return val;
    };
    zdxsim::SenderConfig &c = o->sender;
    zdxsim::SenderFaults &f = c.faults;
    long a = 0, b = 0;
    *ok = true;
    if (!std::strcmp(name, "--send")) {
        *ok = (o->send.path = need()) != nullptr;
        o->send_mode = true;
    } else if (!std::strcmp(name, "--send-records")) {
        *ok = to_long(need(), 0, zdxsim::MAX_RECORDS, &a);
        o->send.generated = int(a);
        o->send_mode = true;
    } else if (!std::strcmp(name, "--widths")) {
        *ok = (o->send.widths = need()) != nullptr;
    } else if (!std::strcmp(name, "--send-name")) {
        *ok = (o->send.name = need()) != nullptr && *val != '\0';
    } else if (!std::strcmp(name, "--reply-timeout")) {
        *ok = to_long(need(), 1, 600000, &a);
        c.reply_timeout_ms = uint32_t(a);
    } else if (!std::strcmp(name, "--retries")) {
        *ok = to_long(need(), 0, 1000, &a);
        c.retries = int(a);
    } else if (!std::strcmp(name, "--fault-silent")) {
        f.silent = true;
    } else if (!std::strcmp(name, "--fault-silent-from")) {
        *ok = to_frame(need(), &f.silent_from);
    } else if (!std::strcmp(name, "--fault-no-closing-eot")) {
        f.drop_closing_eot = true;
    } else if (!std::strcmp(name, "--fault-eot-at")) {
        *ok = to_frame(need(), &f.eot_at);
    } else if (!std::strcmp(name, "--fault-crc")) {
        b = 1;
        *ok = frame_pair(need(), 'x', 1, 1000000, &f.crc_frame, &b);
        f.crc_times = int(b);
    } else if (!std::strcmp(name, "--fault-station")) {
        b = -1;
        *ok = frame_pair(need(), '@', 0, 65535, &f.station_frame, &b);
        f.station_value = int32_t(b);
    } else if (!std::strcmp(name, "--fault-serial")) {
        b = -1;
        *ok = frame_pair(need(), '@', 0, 99999, &f.serial_frame, &b) && f.serial_frame != 0;
        f.serial_value = int(b);
    } else if (!std::strcmp(name, "--fault-length")) {
        b = 1;
        *ok = frame_pair(need(), '@', -zdxsim::SEND_BODY_MAX, zdxsim::LENGTH_FAULT_MAX,
                         &f.length_frame, &b);
        f.length_delta = int(b);
    } else if (!std::strcmp(name, "--fault-break")) {
        b = -1;
        *ok = frame_pair(need(), '@', 0, zdxsim::SEND_BODY_MAX, &f.break_frame, &b);
        f.break_after = int(b);
    } else if (!std::strcmp(name, "--fault-header")) {
        b = 1;
        *ok = header_kind(need(), &f.header, &b);
        f.header_times = int(b);
    } else if (!std::strcmp(name, "--fault-repeat")) {
        *ok = to_frame(need(), &f.repeat_frame);
    } else if (!std::strcmp(name, "--fault-lost-ack")) {
        *ok = to_frame(need(), &f.lost_ack_frame);
    } else {
        return false;
    }
    return true;
}

// The options of one role only.
bool check_roles(const SimOptions *o, bool send_option) {
    const zdxsim::TerminalFaults &f = o->terminal.faults;
    const zdxsim::TerminalFaults none;
    bool receive_fault = f.nak_frame != none.nak_frame || f.wack_frame != none.wack_frame ||
                         f.eot_frame != none.eot_frame || f.silent ||
                         f.silent_from != none.silent_from ||
                         f.wrong_station_from != none.wrong_station_from;
    const char *problem = nullptr;
    if (o->send.path && o->send.generated >= 0) problem = "give either --send or --send-records";
    else if (o->send_mode && receive_fault) problem = "the receiving faults do not go with sending";
    else if (!o->send_mode && send_option)
        problem = "the sending options need --send or --send-records";
    if (!problem) return true;
    std::fprintf(stderr, "zdxsim: %s\n", problem);
    return false;
}

}  // namespace

bool parse_sim_options(int argc, char **argv, SimOptions *o) {
    zdxsim::TerminalFaults &f = o->terminal.faults;
    bool send_option = false;  // an option of the sending role was given
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
        } else if (!std::strcmp(name, "--pace")) {
            const char *v = need();
            ok = v != nullptr && (!std::strcmp(v, "bytes") || !std::strcmp(v, "frames"));
            o->pace_bytes = ok && !std::strcmp(v, "bytes");
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
        } else if (parse_send_option(name, val, argc, argv, &i, o, &ok)) {
            send_option = send_option || std::strcmp(name, "--send") != 0;
        } else {
            std::fprintf(stderr, "zdxsim: unknown option %s\n%s", arg, SIM_USAGE);
            return false;
        }
        if (!ok) {
            std::fprintf(stderr, "zdxsim: bad or missing value for %s\n", name);
            return false;
        }
    }
    if (!check_roles(o, send_option)) return false;
    o->sender.station = o->terminal.station;
    o->sender.think_ms = o->terminal.answer_delay_ms;
    if (o->pty == (o->device != nullptr)) {
        std::fprintf(stderr, "zdxsim: give exactly one of --pty and --device\n%s", SIM_USAGE);
        return false;
    }
    return true;
}
