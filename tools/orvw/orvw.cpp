// orvw - runs one transfer session from the command line.
//
// The arguments form the command text of ExecOrv5 (joined with blanks,
// an argument with blanks quoted); options of this program itself are long
// options, which the command text never uses.  The exit status is the
// session's result code.
#include "orv5w32.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "orv5_adapter.h"
#include "platform/library.h"

#if !defined(_WIN32)
#  include <dirent.h>
#  include <dlfcn.h>
#endif

namespace {

// Exit status for a bad command line of this program (BSD EX_USAGE); no
// session result code has this value.
constexpr int EXIT_USAGE = 64;

// The library writes the transferred file's 8.3 name here: 8 + "." + 3 + NUL.
constexpr int NAME_BUF_SIZE = 13;

// Room for the version text "1.01S" and its NUL, with margin.
constexpr int VERSION_BUF_SIZE = 16;

const char USAGE[] =
    "usage: orvw [--device=PATH] [--verbose] OPTION... FILE\n"
    "       orvw [--device=PATH] [--verbose] --text=COMMAND-TEXT\n"
    "       orvw --adapter-info=NAME|PATH\n"
    "       orvw --help | --version\n"
    "\n"
    "Sends FILE to the terminal, or receives a file with +R.  The arguments\n"
    "are joined into the session's command text; the main options are:\n"
    "  -Pn        serial port COMn (1 to 99; default 1)\n"
    "  -Bn        line speed in bit/s (300 ... 256000; default 9600)\n"
    "  +R         receive from the terminal (default: send to it);\n"
    "             FILE may be DIR/(file) to keep the terminal's name\n"
    "  +Fw,w,...  field widths of a data file (default: from FILE's .FLD)\n"
    "  -Ln        time-out in seconds (default 30)\n"
    "  +V0, +V2   no progress line; progress as a bar (default: counter)\n"
    "  -!n        turnaround delay in ms before every transmission\n"
    "  -#n        station number\n"
    "  +C         send fixed-length records, each followed by CR LF\n"
    "  +Iname     run the adapter plug-in name (from the plug-in folder,\n"
    "             listed below) or +Ipath (a file) before the transfer\n"
    "\n"
    "Options of orvw itself:\n"
    "  --device=PATH  use the serial device PATH whatever -P says\n"
    "                 (default: $ORV5_COM<n>, else /dev/ttyS<n-1>)\n"
    "  --text=TEXT    pass TEXT as the command text, unchanged\n"
    "  --verbose      print the transferred file's name on stdout\n"
    "  --adapter-info=NAME|PATH  print the device a plug-in serves\n"
    "  --help, --version\n"
    "\n"
    "Exit status: the session's result code (0 = success, 90 = interrupted\n"
    "by Ctrl-C or SIGTERM); 64 = bad orvw options.\n";

// --- adapter plug-ins ----------------------------------------------------------

// What a plug-in's GetDllVersion may write: the contract's 27 bytes, with
// room for one that writes more.
constexpr int DEVICE_NAME_BUF_SIZE = 256;

#if defined(_WIN32)
constexpr const char PLUGIN_SUFFIX[] = ".dll";
constexpr const char LIBRARY_FILE_NAME[] = "Orv5w32.dll";

// An address inside the loaded library, which names its plug-in folder.
const void *library_anchor()
{
    return reinterpret_cast<const void *>(GetModuleHandleA(LIBRARY_FILE_NAME));
}

void *open_plugin(const char *path)
{
    return reinterpret_cast<void *>(LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH));
}

void *plugin_symbol(void *lib, const char *name)
{
    return reinterpret_cast<void *>(GetProcAddress(static_cast<HMODULE>(lib), name));
}

void close_plugin(void *lib) { FreeLibrary(static_cast<HMODULE>(lib)); }

std::vector<std::string> library_files(const char *dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((std::string(dir) + "\\*" + PLUGIN_SUFFIX).c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return names;
}

const char DIR_SEPARATOR = '\\';
#else
constexpr const char PLUGIN_SUFFIX[] = ".so";

const void *library_anchor()
{
    return dlsym(RTLD_DEFAULT, "ExecOrv5");
}

void *open_plugin(const char *path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
void *plugin_symbol(void *lib, const char *name) { return dlsym(lib, name); }
void close_plugin(void *lib) { dlclose(lib); }

std::vector<std::string> library_files(const char *dir)
{
    std::vector<std::string> names;
    DIR *d = opendir(dir);
    if (d == nullptr)
        return names;
    const size_t suffix_len = std::strlen(PLUGIN_SUFFIX);
    while (dirent *e = readdir(d)) {
        size_t len = std::strlen(e->d_name);
        if (len > suffix_len && std::strcmp(e->d_name + len - suffix_len, PLUGIN_SUFFIX) == 0)
            names.push_back(e->d_name);
    }
    closedir(d);
    return names;
}

const char DIR_SEPARATOR = '/';
#endif

// The device name the plug-in at path reports; false when it cannot be
// loaded or is no plug-in (no InitIrDevice or no GetDllVersion).
bool plugin_device_name(const char *path, std::string &device)
{
    void *lib = open_plugin(path);
    if (lib == nullptr)
        return false;
    auto get_name = reinterpret_cast<orv5_get_dll_version_fn>(plugin_symbol(lib, "GetDllVersion"));
    bool ok = get_name != nullptr && plugin_symbol(lib, "InitIrDevice") != nullptr;
    if (ok) {
        char buf[DEVICE_NAME_BUF_SIZE] = {};
        const char *name = get_name(buf);
        ok = name != nullptr;
        if (ok)
            device.assign(name, strnlen(name, DEVICE_NAME_BUF_SIZE - 1));
    }
    close_plugin(lib);
    return ok;
}

// orvw --adapter-info=NAME|PATH: the device name on stdout.
int print_adapter_info(const char *name)
{
    char path[PLAT_LIB_PATH_SIZE];
    std::string device;
    if (!plat_plugin_resolve(library_anchor(), name, path, sizeof path)) {
        std::fprintf(stderr, "orvw: no adapter plug-in '%s' in the plug-in folder\n", name);
        return ORV5_E_ADAPTER_LOAD;
    }
    if (!plugin_device_name(path, device)) {
        std::fprintf(stderr, "orvw: %s is no adapter plug-in or cannot be loaded\n", path);
        return ORV5_E_ADAPTER_LOAD;
    }
    std::printf("%s\n", device.c_str());
    return 0;
}

// The plug-ins of the plug-in folders, for --help.
void list_plugins(FILE *out)
{
    PluginDirs dirs;
    plat_plugin_dirs(library_anchor(), dirs);
    for (int i = 0; i < dirs.count; ++i) {
        std::vector<std::string> files = library_files(dirs.dir[i]);
        if (files.empty() && i > 0)
            continue;   // an installed folder that does not exist
        std::sort(files.begin(), files.end());
        std::fprintf(out, "\nAdapter plug-ins for +I in %s:\n", dirs.dir[i]);
        int shown = 0;
        for (const std::string &file : files) {
            std::string device;
            if (!plugin_device_name((dirs.dir[i] + (DIR_SEPARATOR + file)).c_str(), device))
                continue;
            std::string bare = file.substr(0, file.size() - std::strlen(PLUGIN_SUFFIX));
            std::fprintf(out, "  %-10s %s\n", bare.c_str(), device.c_str());
            ++shown;
        }
        if (shown == 0)
            std::fprintf(out, "  (none)\n");
    }
}

void on_interrupt_request()
{
    // The session notices at its next poll, tells the terminal and ends
    // with 90; nothing else is safe to do here.
    AbortOrv5();
}

#if defined(_WIN32)
BOOL WINAPI console_handler(DWORD event)
{
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT) {
        on_interrupt_request();
        return TRUE;
    }
    return FALSE;
}

void install_interrupt_handlers()
{
    SetConsoleCtrlHandler(console_handler, TRUE);
}

bool set_device(const char *)
{
    std::fprintf(stderr, "orvw: note: --device is ignored on Windows; choose the port with -Pn\n");
    return true;
}
#else
extern "C" void signal_handler(int)
{
    on_interrupt_request();
}

void install_interrupt_handlers()
{
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = signal_handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;   // no SA_RESTART: a sleeping wait returns at once
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}

bool set_device(const char *path)
{
    if (*path == '\0') {
        std::fprintf(stderr, "orvw: --device needs a path\n");
        return false;
    }
    return setenv("ORV5_DEVICE", path, 1) == 0;
}
#endif

// Appends one argument to the command text.  The library splits the text
// at blanks outside double quotes, so an argument holding a blank (or an
// empty one) is quoted; one that holds a quote already is taken as the
// user's own quoting.
void append_arg(std::string &text, const char *arg)
{
    if (!text.empty())
        text += ' ';
    bool needs_quotes = *arg == '\0' ||
        (std::strpbrk(arg, " \t") != nullptr && std::strchr(arg, '"') == nullptr);
    if (needs_quotes)
        text += '"';
    text += arg;
    if (needs_quotes)
        text += '"';
}

int usage_error(const char *what, const char *arg)
{
    std::fprintf(stderr, "orvw: %s%s\nTry 'orvw --help'.\n", what, arg);
    return EXIT_USAGE;
}

bool starts_with(const char *s, const char *prefix)
{
    return std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

} // namespace

int main(int argc, char **argv)
{
    std::string text;
    const char *given_text = nullptr;
    bool verbose = false;
    bool have_args = false;

    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "--help") == 0) {
            std::fputs(USAGE, stdout);
            list_plugins(stdout);
            return 0;
        }
        if (std::strcmp(arg, "--version") == 0) {
            char version[VERSION_BUF_SIZE] = {};
            std::printf("orvw %s\n", GetOrv5DllVersion(version));
            return 0;
        }
        if (starts_with(arg, "--adapter-info="))
            return print_adapter_info(arg + std::strlen("--adapter-info="));
        if (std::strcmp(arg, "--verbose") == 0) {
            verbose = true;
        } else if (starts_with(arg, "--text=")) {
            given_text = arg + std::strlen("--text=");
        } else if (starts_with(arg, "--device=")) {
            if (!set_device(arg + std::strlen("--device=")))
                return EXIT_USAGE;
        } else if (starts_with(arg, "--")) {
            return usage_error("unknown option ", arg);
        } else {
            append_arg(text, arg);
            have_args = true;
        }
    }
    if (given_text != nullptr && have_args)
        return usage_error("--text= replaces the other arguments; give one or the other", "");
    if (given_text == nullptr && !have_args)
        return usage_error("no command text given", "");

    install_interrupt_handlers();
    char name_buf[NAME_BUF_SIZE] = {};
    int rc = ExecOrv5(nullptr, given_text != nullptr ? given_text : text.c_str(), name_buf);
    if (rc != 0)
        std::fprintf(stderr, "orvw: error %d: %s\n", rc, orv5_result_message(rc));
    else if (verbose && name_buf[0] != '\0')
        std::printf("%.*s\n", NAME_BUF_SIZE - 1, name_buf);
    return rc;
}
