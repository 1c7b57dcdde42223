// adapter_host - drives adapter plug-ins on a COM port for the Wine tests.
//
//   adapter_host init COMn PLUGIN.dll LOG SPEED...
//       for each speed: the port at SPEED, 8N1, RTS and DTR on; the lines
//       "mark call SPEED" and "mark return SPEED" around InitIrDevice are
//       appended to LOG (the modem-line shim's log); prints
//       "case label=SPEED rc=R baud=B rts=r dtr=d" with the port after it.
//   adapter_host name PLUGIN.dll
//       prints name="<GetDllVersion>" null=<1 when a null buffer gave null>
//   adapter_host session Orv5w32.dll PLUGIN-MODULE COMMAND-TEXT
//       runs ExecOrv5; prints "rc=R loaded=L", L = 1 when PLUGIN-MODULE
//       is still loaded afterwards.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <windows.h>

#include "orv5_adapter.h"

namespace {

using exec_fn = int(WINAPI *)(HWND, const char *, char *);

// An export of lib as the function type it has; null when lib is.
template <typename Fn> Fn proc(HMODULE lib, const char *name)
{
    return lib ? reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(lib, name)))
               : nullptr;
}

void append_line(const char *log, const char *text)
{
    HANDLE f = CreateFileA(log, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return;
    DWORD n = 0;
    WriteFile(f, text, static_cast<DWORD>(std::strlen(text)), &n, nullptr);
    WriteFile(f, "\n", 1, &n, nullptr);
    CloseHandle(f);
}

bool set_port(HANDLE port, DWORD baud)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(port, &dcb))
        return false;
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fOutxCtsFlow = dcb.fOutxDsrFlow = FALSE;
    dcb.fOutX = dcb.fInX = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    return SetCommState(port, &dcb) && EscapeCommFunction(port, SETRTS) &&
           EscapeCommFunction(port, SETDTR);
}

int run_init(int argc, char **argv)
{
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\%s", argv[2]);
    HANDLE port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        std::printf("error open %s %lu\n", name, GetLastError());
        return 1;
    }
    for (int i = 5; i < argc; ++i) {
        DWORD baud = std::strtoul(argv[i], nullptr, 10);
        HMODULE lib = LoadLibraryA(argv[3]);
        auto init = proc<orv5_init_ir_device_fn>(lib, "InitIrDevice");
        if (init == nullptr || !set_port(port, baud)) {
            std::printf("error setup %s %lu\n", argv[i], GetLastError());
            return 1;
        }
        char mark[64];
        std::snprintf(mark, sizeof mark, "mark call %s", argv[i]);
        append_line(argv[4], mark);
        int rc = init(port);
        std::snprintf(mark, sizeof mark, "mark return %s", argv[i]);
        append_line(argv[4], mark);
        FreeLibrary(lib);
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        DWORD lines = 0;
        GetCommState(port, &dcb);
        GetCommModemStatus(port, &lines);
        // The shim's wiring loops RTS back as CTS and DTR as DSR.
        std::printf("case label=%s rc=%d baud=%lu rts=%d dtr=%d\n", argv[i], rc, dcb.BaudRate,
                    (lines & MS_CTS_ON) != 0, (lines & MS_DSR_ON) != 0);
    }
    CloseHandle(port);
    return 0;
}

int run_name(char **argv)
{
    HMODULE lib = LoadLibraryA(argv[2]);
    auto get = proc<orv5_get_dll_version_fn>(lib, "GetDllVersion");
    if (get == nullptr) {
        std::printf("error load %lu\n", GetLastError());
        return 1;
    }
    char buf[64];
    std::memset(buf, '#', sizeof buf);
    const char *got = get(buf);
    std::printf("name=\"%s\" same=%d null=%d\n", buf, got == buf, get(nullptr) == nullptr);
    FreeLibrary(lib);
    return 0;
}

int run_session(char **argv)
{
    HMODULE orv5 = LoadLibraryA(argv[2]);
    auto exec = proc<exec_fn>(orv5, "ExecOrv5");
    if (exec == nullptr) {
        std::printf("error load %lu\n", GetLastError());
        return 1;
    }
    char name[16] = {};
    int rc = exec(nullptr, argv[4], name);
    std::printf("rc=%d loaded=%d\n", rc, GetModuleHandleA(argv[3]) != nullptr);
    FreeLibrary(orv5);
    return 0;
}

}   // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc >= 6 && std::strcmp(argv[1], "init") == 0)
        return run_init(argc, argv);
    if (argc == 3 && std::strcmp(argv[1], "name") == 0)
        return run_name(argv);
    if (argc == 5 && std::strcmp(argv[1], "session") == 0)
        return run_session(argv);
    std::fprintf(stderr, "usage: adapter_host init|name|session ...\n");
    return 2;
}
