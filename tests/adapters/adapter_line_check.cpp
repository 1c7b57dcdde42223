// adapter_line_check - helpers for the plug-in tests under Wine.
//
//   adapter_line_check hold
//       opens a pseudo-terminal, prints "PTY <path>" and swallows what is
//       written to it until killed (the adapter at the far end of COMn).
//   adapter_line_check verify MODEL LABEL LOG BAUD RC AFTER-BAUD RTS DTR [--no-drain]
//       checks the InitIrDevice call between "mark call LABEL" and
//       "mark return LABEL" of the shim's LOG: MODEL on a port at BAUD with
//       RTS and DTR on gave RC and left it at AFTER-BAUD with RTS, DTR (0
//       or 1).  --no-drain: the driver's drain is not seen in the log.
//       Prints the faults; exit status 1 when there are any.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <unistd.h>

#include "line_log.h"

namespace {

int hold()
{
    int master = -1, slave = -1;
    char name[256];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    std::printf("PTY %s\n", name);
    std::fflush(stdout);
    // The slave stays open here too, so the master never sees a hang-up
    // between two programs using the port.
    char buf[256];
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 1000) > 0 && read(master, buf, sizeof buf) < 0)
            usleep(10000);
    }
}

int verify(int argc, char **argv)
{
    if (argc < 10) {
        std::fprintf(stderr,
                     "usage: adapter_line_check verify MODEL LABEL LOG BAUD RC AFTER-BAUD RTS DTR "
                     "[--no-drain]\n");
        return 2;
    }
    std::ifstream in(argv[4]);
    std::stringstream text;
    text << in.rdbuf();
    uint32_t baud = static_cast<uint32_t>(std::strtoul(argv[5], nullptr, 10));
    PortState before{baud, true, true};
    int rc = std::atoi(argv[6]);
    PortState after{static_cast<uint32_t>(std::strtoul(argv[7], nullptr, 10)),
                    std::atoi(argv[8]) != 0, std::atoi(argv[9]) != 0};
    CheckOptions options;
    options.expect_drain = !(argc > 10 && std::strcmp(argv[10], "--no-drain") == 0);
    auto events = call_events(parse_line_log(text.str()), argv[3]);
    auto faults = check_init_call(argv[2], before, rc, events, after, options);
    for (const std::string &f : faults)
        std::printf("%s\n", f.c_str());
    return faults.empty() ? 0 : 1;
}

}   // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "hold") == 0)
        return hold();
    if (argc >= 2 && std::strcmp(argv[1], "verify") == 0)
        return verify(argc, argv);
    std::fprintf(stderr, "usage: adapter_line_check hold | verify ...\n");
    return 2;
}
