// orvw - runs one transfer session from the command line, or a collecting
// station that receives file after file.
//
// The arguments form the command text of ExecOrv5 (joined with blanks,
// an argument with blanks quoted); options of this program itself are long
// options, which the command text never uses.  The exit status is the
// session's result code.
#include "orv5w32.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "collect.h"
#include "command_text.h"
#include "interrupt.h"
#include "json_out.h"
#include "file_hook.h"
#include "plugins.h"
#include "session_report.h"
#include "station_lock.h"
#include "usage.h"

#ifndef ORV5_PROJECT_VERSION
#  define ORV5_PROJECT_VERSION "unknown"
#endif

namespace {

// Exit status for a bad command line of this program (BSD EX_USAGE); no
// session result code has this value.
constexpr int EXIT_USAGE = 64;

// Longest limit --on-file-timeout takes, seconds (a day).
constexpr long MAX_HOOK_TIMEOUT_S = 86400;

// Room for the version text "1.01S" and its NUL, with margin.
constexpr int VERSION_BUF_SIZE = 16;

struct CliOptions {
    std::string text;   // the command text from the arguments
    bool have_args = false;
    const char *given_text = nullptr;        // --text=
    const char *collect_dir = nullptr;       // --collect
    const char *station = nullptr;           // --station=
    const char *on_file = nullptr;           // --on-file=
    const char *on_file_timeout = nullptr;   // --on-file-timeout=
    bool verbose = false;
    bool json = false;
    bool trace = false;          // --trace=FILE given
    bool trace_telnet = false;   // --trace-telnet given
};

int usage_error(const std::string &what)
{
    std::fprintf(stderr, "orvw: %s\nTry 'orvw --help'.\n", what.c_str());
    return EXIT_USAGE;
}

bool starts_with(const char *s, const char *prefix)
{
    return std::strncmp(s, prefix, std::strlen(prefix)) == 0;
}

bool set_env(const char *name, const char *value)
{
#if defined(_WIN32)
    return SetEnvironmentVariableA(name, value) != 0;
#else
    return setenv(name, value, 1) == 0;
#endif
}

bool set_device(const char *path)
{
#if defined(_WIN32)
    // The library takes a network address from ORV5_DEVICE; local ports
    // are named by number only.
    if (is_network_device(path))
        return set_env("ORV5_DEVICE", path);
    std::fprintf(
        stderr,
        "orvw: note: --device is ignored on Windows for local ports; choose the port with -Pn\n");
    return true;
#else
    if (*path == '\0') {
        std::fprintf(stderr, "orvw: --device needs a path\n");
        return false;
    }
    return set_env("ORV5_DEVICE", path);
#endif
}

// --trace=FILE: the library appends its byte trace to the file named by
// ORV5_TRACE when it opens the port, and says nothing when it cannot, so
// the file is tried here first: a typing error is a usage error, not a
// silent session without a trace.
bool set_trace(const char *path)
{
    if (*path == '\0') {
        std::fprintf(stderr, "orvw: --trace needs a file name\n");
        return false;
    }
    std::FILE *fp = std::fopen(path, "ab");
    if (fp == nullptr) {
        std::fprintf(stderr, "orvw: --trace: cannot open %s for appending: %s\n", path,
                     std::strerror(errno));
        return false;
    }
    std::fclose(fp);
    return set_env("ORV5_TRACE", path);
}

void print_version()
{
    char version[VERSION_BUF_SIZE] = {};
    std::printf("orvw %s (library Orv5w32 %s)\n", ORV5_PROJECT_VERSION, GetOrv5DllVersion(version));
}

// --verbose after a session that opened a network port: what the
// library noted about it (a server without the com port option), and for
// a raw TCP port that the line's speed is the server's.
void network_notes(const std::string &text, int code)
{
    bool raw_tcp = false;
    std::string device = port_device(text);
    if (code == ORV5_E_PORT_OPEN || !is_network_device(device, &raw_tcp))
        return;   // not reached: its reason says why
    char note[512] = {};
    if (code == ORV5_OK && GetOrv5LastReason(note, sizeof note) > 0)
        std::fprintf(stderr, "orvw: note: %s\n", note);
    if (raw_tcp)
        std::fprintf(stderr,
                     "orvw: note: %s passes bytes as they are: the line's speed and"
                     " framing are set on the server, not by -B\n",
                     device.c_str());
}

// One session as the arguments ask; its result code.
int run_one(const CliOptions &o)
{
    const std::string &text = o.given_text != nullptr ? std::string(o.given_text) : o.text;
    SessionReport r = run_session(text);
    if (r.code != ORV5_OK) {
        std::fprintf(stderr, "orvw: error %d: %s\n", r.code, orv5_result_message(r.code));
        if (o.verbose && !r.reason.empty())
            std::fprintf(stderr, "orvw: reason: %s\n", r.reason.c_str());
    }
    if (o.verbose)
        network_notes(text, r.code);
    if (o.json) {
        JsonLine j;
        report_fields(j, r);
        std::printf("%s\n", json_finish(j).c_str());
    } else if (o.verbose && r.code == ORV5_OK && !r.name_buf.empty()) {
        std::printf("%s\n", r.name_buf.c_str());
    }
    return r.code;
}

int run_station(const CliOptions &o)
{
    if (o.given_text != nullptr)
        return usage_error("--collect takes command-text options as arguments, not --text=");
    if (*o.collect_dir == '\0' || std::strchr(o.collect_dir, '"') != nullptr)
        return usage_error("--collect needs a folder (without double quotes)");
    if (read_command_text(o.text).file_count > 0)
        return usage_error("--collect takes options only: the files go to its folder");
    CollectSettings c;
    if (o.station != nullptr) {
        if (!station_name_valid(o.station))
            return usage_error(
                "--station needs a name of letters, digits, '_', '-' and '.' (at most " +
                std::to_string(MAX_STATION_NAME) + ", not starting with '.' or '-')");
        c.station = o.station;
    }
    if (o.on_file != nullptr) {
        if (*o.on_file == '\0')
            return usage_error("--on-file needs a command");
        c.on_file = o.on_file;
    }
    c.on_file_timeout_s = DEFAULT_HOOK_TIMEOUT_S;
    if (o.on_file_timeout != nullptr) {
        char *end = nullptr;
        long s = std::strtol(o.on_file_timeout, &end, 10);
        if (*o.on_file_timeout == '\0' || *end != '\0' || s < 1 || s > MAX_HOOK_TIMEOUT_S)
            return usage_error("--on-file-timeout needs seconds from 1 to " +
                               std::to_string(MAX_HOOK_TIMEOUT_S));
        c.on_file_timeout_s = static_cast<int>(s);
    }
    c.dir = o.collect_dir;
    c.options = o.text;
    c.json = o.json;
    c.verbose = o.verbose;
    return run_collect(c);
}

}   // namespace

int main(int argc, char **argv)
{
    CliOptions o;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        if (std::strcmp(arg, "--help") == 0) {
            print_usage(stdout);
            list_plugins(stdout);
            return 0;
        }
        if (std::strcmp(arg, "--version") == 0) {
            print_version();
            return 0;
        }
        if (starts_with(arg, "--adapter-info="))
            return print_adapter_info(arg + std::strlen("--adapter-info="));
        if (std::strcmp(arg, "--verbose") == 0) {
            o.verbose = true;
        } else if (std::strcmp(arg, "--json") == 0) {
            o.json = true;
        } else if (starts_with(arg, "--text=")) {
            o.given_text = arg + std::strlen("--text=");
        } else if (starts_with(arg, "--device=")) {
            if (!set_device(arg + std::strlen("--device=")))
                return EXIT_USAGE;
        } else if (starts_with(arg, "--trace=")) {
            if (!set_trace(arg + std::strlen("--trace=")))
                return EXIT_USAGE;
            o.trace = true;
        } else if (std::strcmp(arg, "--trace-telnet") == 0) {
            o.trace_telnet = true;
        } else if (std::strcmp(arg, "--collect") == 0) {
            if (i + 1 >= argc)
                return usage_error("--collect needs a folder");
            o.collect_dir = argv[++i];
        } else if (starts_with(arg, "--collect=")) {
            o.collect_dir = arg + std::strlen("--collect=");
        } else if (starts_with(arg, "--station=")) {
            o.station = arg + std::strlen("--station=");
        } else if (starts_with(arg, "--on-file=")) {
            o.on_file = arg + std::strlen("--on-file=");
        } else if (starts_with(arg, "--on-file-timeout=")) {
            o.on_file_timeout = arg + std::strlen("--on-file-timeout=");
        } else if (starts_with(arg, "--")) {
            return usage_error(std::string("unknown option ") + arg);
        } else {
            append_command_arg(o.text, arg);
            o.have_args = true;
        }
    }
    // The socket's lines go into the byte trace's file: without one they
    // would go nowhere, which a user would take for a quiet server.
    if (o.trace_telnet && !o.trace)
        return usage_error("--trace-telnet adds to the trace: give --trace=FILE too");
    if (o.trace_telnet && !set_env("ORV5_TRACE_TELNET", "1"))
        return usage_error("--trace-telnet: cannot set ORV5_TRACE_TELNET");
    if (o.collect_dir == nullptr &&
        (o.station != nullptr || o.on_file != nullptr || o.on_file_timeout != nullptr))
        return usage_error("--station, --on-file and --on-file-timeout go with --collect");
    install_interrupt_handlers();
    if (o.collect_dir != nullptr)
        return run_station(o);
    if (o.given_text != nullptr && o.have_args)
        return usage_error("--text= replaces the other arguments; give one or the other");
    if (o.given_text == nullptr && !o.have_args)
        return usage_error("no command text given");
    return run_one(o);
}
