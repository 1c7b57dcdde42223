// orv5_fake_rfc2217 - the fake serial device server as a program, for
// checks that run the library in another process (the Windows build under
// Wine).
//
//   orv5_fake_rfc2217 [--refuse-speed=N] [--no-com-port] PORT-FILE LOG-FILE
//
// Listens on 127.0.0.1, writes the port number to PORT-FILE, serves one
// connection and, when it ends (or after 60 s), writes to LOG-FILE one
// line per com port command ("command 1 00004b00") and one line with the
// data bytes received ("data 10 05 ..."), then exits.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "fake_rfc2217.h"

int main(int argc, char **argv)
{
    fake::ServerFaults f;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        if (std::strncmp(argv[i], "--refuse-speed=", 15) == 0)
            f.answer_baud = static_cast<uint32_t>(std::strtoul(argv[i] + 15, nullptr, 10));
        else if (std::strcmp(argv[i], "--no-com-port") == 0)
            f.offer_com_port = false;
        else
            return 64;
    }
    if (argc - i != 2)
        return 64;
    fake::Rfc2217Server server(f);
    if (!server.listening())
        return 1;
    std::FILE *pf = std::fopen(argv[i], "w");
    if (pf == nullptr)
        return 1;
    std::fprintf(pf, "%d\n", server.port());
    std::fclose(pf);
    server.wait_for([&] { return server.connections() > 0; }, 60000);
    server.wait_for([&] { return !server.connected(); }, 60000);
    std::FILE *log = std::fopen(argv[i + 1], "w");
    if (log == nullptr)
        return 1;
    for (const fake::Command &c : server.commands()) {
        std::fprintf(log, "command %u ", c.code);
        for (uint8_t b : c.value)
            std::fprintf(log, "%02x", b);
        std::fprintf(log, "\n");
    }
    std::fprintf(log, "data");
    for (uint8_t b : server.data())
        std::fprintf(log, " %02x", b);
    std::fprintf(log, "\n");
    std::fclose(log);
    return 0;
}
