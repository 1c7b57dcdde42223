// station_lock.cpp - see station_lock.h.
#include "station_lock.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "command_text.h"
#include "store.h"

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <climits>
#  include <fcntl.h>
#  include <sys/file.h>
#  include <unistd.h>
#endif

namespace {

// The library's port numbers: COM1 to COM99 (COM0 names no port).
constexpr int DEFAULT_PORT = 1;
constexpr int PORT_MAX = 99;

#if !defined(_WIN32)
// Where the port locks go on POSIX when $ORV5_LOCK_DIR does not say.
constexpr char RUN_LOCK_DIR[] = "/run/lock";

std::string lock_dir()
{
    const char *given = std::getenv("ORV5_LOCK_DIR");
    if (given != nullptr && *given != '\0')
        return given;
    if (access(RUN_LOCK_DIR, W_OK | X_OK) == 0)
        return RUN_LOCK_DIR;
    const char *tmp = std::getenv("TMPDIR");
    return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

// A device path as one file name: '/' becomes '%', '%' doubles.
std::string path_as_name(const std::string &path)
{
    std::string out;
    for (char ch : path) {
        if (ch == '/')
            out += '%';
        else if (ch == '%')
            out += "%%";
        else
            out += ch;
    }
    return out;
}

std::string absolute(const std::string &path)
{
    if ((!path.empty() && path[0] == '/') || is_network_device(path))
        return path;
    char cwd[PATH_MAX];
    if (getcwd(cwd, sizeof cwd) == nullptr)
        return path;
    return std::string(cwd) + "/" + path;
}
#endif

}   // namespace

int port_number(const std::string &options)
{
    int port = DEFAULT_PORT;
    for (const std::string &tok : split_command_text(options)) {
        if (tok.size() < 3 || (tok[0] != '-' && tok[0] != '+') || (tok[1] != 'P' && tok[1] != 'p'))
            continue;
        int n = 0;
        size_t i = 2;
        for (; i < tok.size() && std::isdigit(static_cast<unsigned char>(tok[i])) && n <= PORT_MAX;
             ++i)
            n = n * 10 + (tok[i] - '0');
        if (i == tok.size() && n >= 1 && n <= PORT_MAX)
            port = n;
    }
    return port;
}

bool is_network_device(const std::string &device, bool *raw_tcp)
{
    std::string lower;
    for (char ch : device.substr(0, 10))
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    bool tcp = lower.compare(0, 6, "tcp://") == 0;
    if (raw_tcp != nullptr)
        *raw_tcp = tcp;
    return tcp || lower == "rfc2217://";
}

std::string port_device(const std::string &options)
{
    const int n = port_number(options);
#if defined(_WIN32)
    // As the library names the port: the process environment (which
    // --device changes) may hold a network address for it.
    for (const std::string &var : {std::string("ORV5_DEVICE"), "ORV5_COM" + std::to_string(n)}) {
        char value[4096];
        DWORD len = GetEnvironmentVariableA(var.c_str(), value, sizeof value);
        if (len > 0 && len < sizeof value && is_network_device(value))
            return value;
    }
    return "COM" + std::to_string(n);
#else
    const char *dev = std::getenv("ORV5_DEVICE");
    if (dev == nullptr || *dev == '\0')
        dev = std::getenv(("ORV5_COM" + std::to_string(n)).c_str());
    if (dev != nullptr && *dev != '\0')
        return dev;
    return "/dev/ttyS" + std::to_string(n - 1);
#endif
}

bool station_name_valid(const std::string &name)
{
    if (name.empty() || name.size() > MAX_STATION_NAME || name[0] == '.' || name[0] == '-')
        return false;
    for (char ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch)) && ch != '_' && ch != '-' && ch != '.')
            return false;
    return true;
}

std::string station_name_safe(const std::string &name)
{
    std::string out;
    for (char ch : name) {
        if (out.size() == MAX_STATION_NAME)
            break;
        bool ok = std::isalnum(static_cast<unsigned char>(ch)) || ch == '_' || ch == '-' ||
                  ch == '.';
        out += ok ? ch : '_';
    }
    while (!out.empty() && (out[0] == '.' || out[0] == '-'))
        out.erase(0, 1);
    return out.empty() ? "station" : out;
}

std::string default_station_name(const std::string &options)
{
    std::string dev = port_device(options);
    size_t slash = dev.find_last_of("/\\");
    return station_name_safe(slash == std::string::npos ? dev : dev.substr(slash + 1));
}

void StationLock::release()
{
    for (int i = 0; i < count_; ++i) {
#if defined(_WIN32)
        CloseHandle(reinterpret_cast<HANDLE>(handles_[i]));
#else
        close(static_cast<int>(handles_[i]));   // the flock goes with it
#endif
        handles_[i] = -1;
    }
    count_ = 0;
}

#if defined(_WIN32)

LockResult StationLock::take_file(const std::string &path, std::string &why)
{
    if (count_ == MAX_HANDLES) {
        why = "too many locks";
        return LockResult::Failed;
    }
    // No sharing: a second station's open fails until this one ends.
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        DWORD err = GetLastError();
        if (err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION)
            return LockResult::Held;
        why = "cannot open " + path + " (Windows error " + std::to_string(err) + ")";
        return LockResult::Failed;
    }
    handles_[count_++] = reinterpret_cast<intptr_t>(h);
    return LockResult::Taken;
}

LockResult StationLock::take_port(const std::string &options, std::string &where, std::string &why)
{
    // Every session opens the port exclusively, but only while it runs: the
    // mutex covers the moments between sessions as well.  Global first, so
    // that stations of other logon sessions (a service) count too.
    const std::string port = port_device(options);
    where = "orvw-port-" + port;
    HANDLE h = CreateMutexA(nullptr, FALSE, ("Global\\" + where).c_str());
    if (h == nullptr && GetLastError() == ERROR_ACCESS_DENIED)
        return LockResult::Held;   // it exists, made by a station of another user
    if (h == nullptr)
        h = CreateMutexA(nullptr, FALSE, ("Local\\" + where).c_str());
    if (h == nullptr) {
        why = "cannot create the mutex " + where + " (Windows error " +
              std::to_string(GetLastError()) + ")";
        return LockResult::Failed;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(h);
        return LockResult::Held;
    }
    handles_[count_++] = reinterpret_cast<intptr_t>(h);
    return LockResult::Taken;
}

#else

LockResult StationLock::take_file(const std::string &path, std::string &why)
{
    if (count_ == MAX_HANDLES) {
        why = "too many locks";
        return LockResult::Failed;
    }
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0 && errno == EACCES)
        fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);   // another user's lock file
    if (fd < 0) {
        why = "cannot open " + path + ": " + std::strerror(errno);
        return LockResult::Failed;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        close(fd);
        if (err == EWOULDBLOCK)
            return LockResult::Held;
        why = "cannot lock " + path + ": " + std::strerror(err);
        return LockResult::Failed;
    }
    // For whoever looks: which process holds it.
    std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(fd, 0) == 0 && write(fd, pid.data(), pid.size()) < 0) {
        // read-only lock file: the lock holds all the same
    }
    handles_[count_++] = fd;
    return LockResult::Taken;
}

LockResult StationLock::take_port(const std::string &options, std::string &where, std::string &why)
{
    const std::string dev = absolute(port_device(options));
    const std::string dir = lock_dir();
    where = dir + "/orvw-port-" + path_as_name(dev) + ".lock";
    LockResult r = take_file(where, why);
    if (r != LockResult::Taken)
        return r;
    // The same device under another name (a /dev/serial/by-id link).
    char real[PATH_MAX];
    if (realpath(dev.c_str(), real) != nullptr && dev != real) {
        std::string second = dir + "/orvw-port-" + path_as_name(real) + ".lock";
        r = take_file(second, why);
        if (r == LockResult::Held)
            where = second;
        if (r != LockResult::Taken)
            release();
    }
    return r;
}

#endif

LockResult StationLock::take_staging(const std::string &staging, std::string &where,
                                     std::string &why)
{
    where = staging + PATH_SEP + STAGING_LOCK_NAME;
    return take_file(where, why);
}
