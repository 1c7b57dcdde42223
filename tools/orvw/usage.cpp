// usage.cpp - the text of orvw --help (man/orvw.1 says the same at length).
#include "usage.h"

#include "orv5w32.h"

namespace {

const char SYNOPSIS[] =
    "usage: orvw [ORVW-OPTION...] OPTION... FILE\n"
    "       orvw [ORVW-OPTION...] --text=COMMAND-TEXT\n"
    "       orvw --collect DIR [ORVW-OPTION...] [OPTION...]\n"
    "       orvw --adapter-info=NAME|PATH\n"
    "       orvw --help | --version\n"
    "\n"
    "Sends FILE to the terminal, or receives a file with +R.  The arguments\n"
    "are joined with blanks into the session's command text (an argument\n"
    "holding a blank is quoted).\n";

const char COMMAND_OPTIONS[] =
    "\n"
    "Command-text options (a sign and a letter; the value follows directly):\n"
    "  -Pn        serial port COMn (1 to 99; default 1)\n"
    "  -Bn        line speed in bit/s: 300 600 1200 2400 4800 9600 14400\n"
    "             19200 38400 56000 57600 115200 128000 256000 (default 9600)\n"
    "  +R, -R     receive from the terminal; send to it (default)\n"
    "             receiving, FILE may be DIR/(file): the terminal's own name\n"
    "  +A, -A     receiving: append to an existing data file\n"
    "  +N, -N     receiving: accept only a file the terminal names like FILE\n"
    "  +Fw,w,...  field widths of a data file, 1 to 254, at most 16 (default:\n"
    "             from FILE's .FLD file beside it)\n"
    "  +C, -C     sending: fixed-length records, each followed by CR LF\n"
    "  +T'x', +Ttext, -T  receiving: put the separator between the fields\n"
    "             (escapes \\t \\n \\r \\b \\f \\xHH \\ooo; at most 32 characters)\n"
    "  -Ln        time-out in seconds (default 30); -L0 waits for the\n"
    "             terminal to start for ever\n"
    "  +V, +V0, +V2, -V  progress as a counter (default), none, a bar; none\n"
    "  -Xn, -Yn   position of the progress window (Windows)\n"
    "  -!n        turnaround delay in ms before every transmission (-! = 2)\n"
    "  -#n        station number (0 to 65535)\n"
    "  +Iname     run the adapter plug-in name (from the plug-in folder,\n"
    "             listed below) or +Ipath (a file) before the transfer; -I none\n"
    "  -?         no effect\n";

const char ORVW_OPTIONS[] =
    "\n"
    "Options of orvw itself:\n"
    "  --device=PATH   use the serial device PATH whatever -P says (POSIX), or a\n"
    "                  serial device server: rfc2217://HOST:PORT, tcp://HOST:PORT\n"
    "  --text=TEXT     pass TEXT as the command text, unchanged\n"
    "  --json          print one JSON object on stdout at the end: result,\n"
    "                  message, direction, name_buf, file, records, bytes,\n"
    "                  duration_ms, reason (null when none)\n"
    "  --verbose       print the transferred file's name on stdout, and the\n"
    "                  system's reason behind a failure on stderr\n"
    "  --trace=FILE    append a trace of every byte on the port to FILE (one\n"
    "                  line per burst); FILE must be writable, else status 64\n"
    "  --trace-telnet  with --trace: a network port adds every burst on its\n"
    "                  socket, telnet framing included (NT sent, NR received)\n"
    "  --collect DIR   collecting station: receive file after file into DIR\n"
    "                  (below); the other arguments are command-text options\n"
    "  --station=NAME  the collecting station's name (default: the port's);\n"
    "                  it goes into the stored names\n"
    "  --on-file=COMMAND  run COMMAND for every stored file (below)\n"
    "  --on-file-timeout=S  end COMMAND after S seconds (default 60)\n"
    "  --adapter-info=NAME|PATH  print the device a plug-in serves\n"
    "  --help, --version\n";

const char PORTS[] =
    "\n"
    "COM ports: on Windows -Pn opens COMn.  On Linux the device is, in this\n"
    "order: $ORV5_DEVICE (what --device sets), $ORV5_COMn, /dev/ttyS<n-1>.\n"
    "A network address in ORV5_DEVICE or ORV5_COMn is used on Windows too.\n";

const char COLLECT[] =
    "\n"
    "Collecting station: orvw --collect DIR waits for terminals one after\n"
    "another (+R -L0), receives into DIR/.incoming-NAME and stores each\n"
    "complete file and its .FLD file in DIR under a name with the time of\n"
    "arrival (20261208-153012-DATA.TXT; with --station=S given\n"
    "20261208-153012-S-DATA.TXT), never over an earlier one.  Each session\n"
    "adds one JSON line to DIR/collect.log.  One station per port and per\n"
    "name in DIR: a second one is refused with status 64.  Failures are\n"
    "logged and the station goes on; Ctrl-C or SIGTERM ends it (a running\n"
    "session is aborted, the terminal told EOT), status 0.  --on-file runs\n"
    "COMMAND in the background, one file after another, with ORV5_FILE,\n"
    "ORV5_FLD, ORV5_RECORDS, ORV5_BYTES, ORV5_RESULT and ORV5_STATION set.\n";

const char STATUS[] =
    "\n"
    "Exit status: the session's result code; 64 = bad orvw options.\n"
    "Result codes:\n";

}   // namespace

void print_usage(std::FILE *out)
{
    std::fputs(SYNOPSIS, out);
    std::fputs(COMMAND_OPTIONS, out);
    std::fputs(ORVW_OPTIONS, out);
    std::fputs(PORTS, out);
    std::fputs(COLLECT, out);
    std::fputs(STATUS, out);
    for (const orv5_result_text &row : orv5_result_texts)
        std::fprintf(out, "  %3d  %s\n", row.code, row.text);
}
