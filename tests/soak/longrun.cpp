// longrun.cpp - ExecOrv5 sessions in a row in one process, sending and
// receiving alternately, with the process's descriptors (handles) and
// memory read along the way.
//
//   orv5_longrun --sessions N --send-port P --recv-port Q --dir DIR [--records R]
//
// Sending sessions send DIR/DATA.TXT (R records of widths 5,3) on COMP;
// receiving sessions take a file on COMQ into DIR.  On Linux the ports are
// mapped with ORV5_COMn (see README); under Wine with dosdevices links.  A
// line "after S sessions: descriptors D, memory M kB" is printed after the
// first 100 sessions, every 1000 and at the end, then "failed F".  Exit
// status 0 when every session returned 0 and the readings at the end equal
// those after the first 100 sessions (memory within MEMORY_SLACK_KB).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#  include <windows.h>
#  include <psapi.h>
#else
#  include <dirent.h>
#endif

#include "orv5w32.h"

namespace {

// Heap and page-cache noise the allocator may add without a leak, kB.
constexpr long MEMORY_SLACK_KB = 256;
// The readings are compared against those after this many sessions.
constexpr long WARM_UP = 100;

#ifdef _WIN32
// Handle values probed: kernel handles are multiples of 4 (Wine's
// GetProcessHandleCount reports 0, so they are counted one by one).
constexpr uintptr_t HANDLE_PROBE_END = 0x10000;

long handles()
{
    long n = 0;
    DWORD flags;
    for (uintptr_t h = 4; h < HANDLE_PROBE_END; h += 4)
        n += GetHandleInformation(reinterpret_cast<HANDLE>(h), &flags) != 0;
    return n;
}

// The process's private bytes (its heap among them), kB.
long memory_kb()
{
    PROCESS_MEMORY_COUNTERS pmc;
    std::memset(&pmc, 0, sizeof pmc);
    pmc.cb = sizeof pmc;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc))
        return -static_cast<long>(GetLastError());
    return static_cast<long>(pmc.PagefileUsage / 1024);
}
#else
long handles()
{
    long n = 0;
    if (DIR *d = opendir("/proc/self/fd")) {
        while (dirent *e = readdir(d))
            n += e->d_name[0] != '.';
        closedir(d);
    }
    return n - 1;   // the listing's own descriptor
}

long memory_kb()
{
    long kb = 0;
    if (std::FILE *f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::strncmp(line, "VmRSS:", 6) == 0)
                kb = std::atol(line + 6);
        std::fclose(f);
    }
    return kb;
}
#endif

void report(long done, long failed)
{
    std::printf("after %ld sessions: descriptors %ld, memory %ld kB, failed %ld\n", done, handles(),
                memory_kb(), failed);
    std::fflush(stdout);
}

}   // namespace

int main(int argc, char **argv)
{
    long sessions = 1000;
    int send_port = 1, recv_port = 2, records = 5;
    std::string dir = ".";
    for (int i = 1; i + 1 < argc; i += 2) {
        std::string a = argv[i];
        if (a == "--sessions")
            sessions = std::atol(argv[i + 1]);
        else if (a == "--send-port")
            send_port = std::atoi(argv[i + 1]);
        else if (a == "--recv-port")
            recv_port = std::atoi(argv[i + 1]);
        else if (a == "--records")
            records = std::atoi(argv[i + 1]);
        else if (a == "--dir")
            dir = argv[i + 1];
    }
    const std::string data = dir + "/DATA.TXT";
    if (std::FILE *f = std::fopen(data.c_str(), "wb")) {
        for (int r = 0; r < records; ++r)
            std::fprintf(f, "R%04dXYZ\r\n", r);
        std::fclose(f);
    }
    const std::string send_text = "-V -P" + std::to_string(send_port) + " +F5,3 \"" + data + "\"";
    const std::string recv_text = "-V -P" + std::to_string(recv_port) + " +R \"" + dir +
                                  "/(file)\"";

    long failed = 0, base_handles = 0, base_memory = 0;
    for (long s = 1; s <= sessions; ++s) {
        char name[ORV5_NAME_BUF_SIZE] = "";
        const std::string &text = s % 2 ? send_text : recv_text;
        int rc = ExecOrv5(nullptr, text.c_str(), name);
        if (rc != ORV5_OK) {
            ++failed;
            std::printf("session %ld (%s): %d %s\n", s, s % 2 ? "sending" : "receiving", rc,
                        orv5_result_message(rc));
        }
        if (s == WARM_UP) {
            base_handles = handles();
            base_memory = memory_kb();
        }
        if (s == WARM_UP || s % 1000 == 0 || s == sessions)
            report(s, failed);
    }
    bool steady = sessions < WARM_UP ||
                  (handles() == base_handles && memory_kb() <= base_memory + MEMORY_SLACK_KB);
    std::printf("%s: %ld sessions, %ld failed; descriptors %ld -> %ld, memory %ld -> %ld kB\n",
                steady && failed == 0 ? "LONGRUN OK" : "LONGRUN FAILED", sessions, failed,
                base_handles, handles(), base_memory, memory_kb());
    return steady && failed == 0 ? 0 : 1;
}
