// file_hook.cpp - see file_hook.h.
#include "file_hook.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "json_out.h"
#include "store.h"

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <cerrno>
#  include <csignal>
#  include <fcntl.h>
#  include <spawn.h>
#  include <sys/wait.h>
#  include <unistd.h>
extern char **environ;
#endif

namespace {

// Names of the variables a command gets; inherited ones of these names are
// replaced.
const char *const HOOK_VARIABLES[] = {"ORV5_FILE",  "ORV5_FLD",    "ORV5_RECORDS",
                                      "ORV5_BYTES", "ORV5_RESULT", "ORV5_STATION"};

struct Outcome {
    bool started = false;
    int status = -1;       // exit status; -1 when it did not end by itself
    bool killed = false;   // ended at its limit
    std::string error;     // why it did not start
};

bool ours(const char *entry)
{
    for (const char *name : HOOK_VARIABLES) {
        size_t n = std::strlen(name);
        if (std::strncmp(entry, name, n) == 0 && entry[n] == '=')
            return true;
    }
    return false;
}

#if defined(_WIN32)

Outcome run_command(const std::string &command, const std::vector<std::string> &vars, int timeout_s)
{
    Outcome out;
    // The environment block: the station's own without our names, then ours.
    std::string block;
    if (char *env = GetEnvironmentStringsA()) {
        for (const char *p = env; *p != '\0'; p += std::strlen(p) + 1)
            if (!ours(p))
                block.append(p).push_back('\0');
        FreeEnvironmentStringsA(env);
    }
    for (const std::string &v : vars)
        block.append(v).push_back('\0');
    block.push_back('\0');

    const char *comspec = std::getenv("COMSPEC");
    // /s: cmd takes off exactly the outer quotes, whatever quotes the
    // command holds itself.
    std::string line = std::string("\"") + (comspec != nullptr ? comspec : "cmd.exe") +
                       "\" /s /c \"" + command + "\"";
    std::vector<char> cmdline(line.begin(), line.end());
    cmdline.push_back('\0');
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessA(nullptr, cmdline.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        block.data(), nullptr, &si, &pi)) {
        out.error = "cannot start cmd (Windows error " + std::to_string(GetLastError()) + ")";
        return out;
    }
    // A job holds the command and whatever it starts, so that the limit
    // ends them all.
    HANDLE job = CreateJobObjectA(nullptr, nullptr);
    if (job != nullptr && !AssignProcessToJobObject(job, pi.hProcess)) {
        CloseHandle(job);
        job = nullptr;
    }
    ResumeThread(pi.hThread);
    out.started = true;
    DWORD limit = static_cast<DWORD>(timeout_s) * 1000;
    if (WaitForSingleObject(pi.hProcess, limit) == WAIT_TIMEOUT) {
        out.killed = true;
        if (job != nullptr)
            TerminateJobObject(job, 1);
        else
            TerminateProcess(pi.hProcess, 1);
        WaitForSingleObject(pi.hProcess, INFINITE);
    } else {
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        out.status = static_cast<int>(code);
    }
    if (job != nullptr)
        CloseHandle(job);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return out;
}

#else

// How often a running command is looked at, and how long one told to end
// (SIGTERM) has before SIGKILL; milliseconds.
constexpr long POLL_MS = 20;
constexpr long GRACE_MS = 2000;

void sleep_ms(long ms)
{
    struct timespec ts;
    ts.tv_sec = ms / 1000;
    ts.tv_nsec = (ms % 1000) * 1000000L;
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// Waits up to ms for pid; true with its wait status once it ended.
bool wait_for(pid_t pid, long ms, int &wstatus)
{
    for (long waited = 0;; waited += POLL_MS) {
        pid_t r = waitpid(pid, &wstatus, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR))
            return true;
        if (waited >= ms)
            return false;
        sleep_ms(POLL_MS);
    }
}

Outcome run_command(const std::string &command, const std::vector<std::string> &vars, int timeout_s)
{
    Outcome out;
    std::vector<const char *> envp;
    for (char **e = environ; e != nullptr && *e != nullptr; ++e)
        if (!ours(*e))
            envp.push_back(*e);
    for (const std::string &v : vars)
        envp.push_back(v.c_str());
    envp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    // stdout may carry the station's JSON lines: the command's output goes
    // to stderr.
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setpgroup(&attr, 0);   // a group of its own, ended as one
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                        POSIX_SPAWN_SETSIGDEF);
    const char *argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
    pid_t pid = 0;
    int rc = posix_spawn(&pid, "/bin/sh", &actions, &attr, const_cast<char *const *>(argv),
                         const_cast<char *const *>(envp.data()));
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        out.error = std::string("cannot start /bin/sh: ") + std::strerror(rc);
        return out;
    }
    out.started = true;
    int wstatus = 0;
    if (!wait_for(pid, static_cast<long>(timeout_s) * 1000, wstatus)) {
        out.killed = true;
        kill(-pid, SIGTERM);
        if (!wait_for(pid, GRACE_MS, wstatus)) {
            kill(-pid, SIGKILL);
            while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
            }
        }
        return out;
    }
    if (WIFEXITED(wstatus))
        out.status = WEXITSTATUS(wstatus);
    else if (WIFSIGNALED(wstatus))
        out.status = 128 + WTERMSIG(wstatus);   // as the shell reports it
    return out;
}

#endif

std::string count_text(long long n) { return n < 0 ? "" : std::to_string(n); }

}   // namespace

FileHooks::FileHooks(const std::string &command, int timeout_s, const std::string &station,
                     StationLog &log)
    : command_(command), timeout_s_(timeout_s), station_(station), log_(log)
{
}

FileHooks::~FileHooks() { stop(); }

bool FileHooks::start() { return start_worker(worker_main, this, &worker_); }

void FileHooks::worker_main(void *self) { static_cast<FileHooks *>(self)->serve(); }

void FileHooks::enqueue(const HookJob &job)
{
    StationGuard g(mutex_);
    queue_.push_back(job);
    wakeup_.wake_all();
}

void FileHooks::stop()
{
    if (worker_ == nullptr)
        return;
    {
        StationGuard g(mutex_);
        stopping_ = true;
        wakeup_.wake_all();
    }
    join_worker(worker_);
    worker_ = nullptr;
}

void FileHooks::serve()
{
    for (;;) {
        HookJob job;
        {
            StationGuard g(mutex_);
            while (queue_.empty() && !stopping_)
                wakeup_.wait(mutex_);
            if (stopping_)
                break;
            job = queue_.front();
            queue_.pop_front();
        }
        run(job);
    }
    // Stopping: what is left is not started, but logged, so that whoever
    // reads the log can run it.
    StationGuard g(mutex_);
    for (const HookJob &job : queue_) {
        JsonLine j;
        json_string(j, "time", iso_time(std::time(nullptr)));
        json_string(j, "station", station_);
        json_string(j, "hook", command_);
        json_string(j, "file", job.file);
        json_null(j, "status");
        json_string(j, "skipped", "the station stopped");
        log_.write(json_finish(j));
    }
    queue_.clear();
}

void FileHooks::run(const HookJob &job)
{
    std::vector<std::string> vars = {
        std::string("ORV5_FILE=") + job.file,
        std::string("ORV5_FLD=") + job.fld,
        std::string("ORV5_RECORDS=") + count_text(job.records),
        std::string("ORV5_BYTES=") + count_text(job.bytes),
        std::string("ORV5_RESULT=") + (job.result < 0 ? "" : std::to_string(job.result)),
        std::string("ORV5_STATION=") + station_,
    };
    auto started = std::chrono::steady_clock::now();
    Outcome o = run_command(command_, vars, timeout_s_);
    long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                       std::chrono::steady_clock::now() - started)
                       .count();

    JsonLine j;
    json_string(j, "time", iso_time(std::time(nullptr)));
    json_string(j, "station", station_);
    json_string(j, "hook", command_);
    json_string(j, "file", job.file);
    if (o.status >= 0)
        json_number(j, "status", o.status);
    else
        json_null(j, "status");
    json_millis_as_seconds(j, "seconds", ms);
    if (o.killed)
        json_bool(j, "killed", true);
    if (!o.error.empty())
        json_string(j, "error", o.error);
    log_.write(json_finish(j));
    if (o.killed)
        std::fprintf(stderr, "orvw: hook for %s ended after its limit of %d s\n", job.file.c_str(),
                     timeout_s_);
    else if (!o.started)
        std::fprintf(stderr, "orvw: hook for %s: %s\n", job.file.c_str(), o.error.c_str());
    else if (o.status != 0)
        std::fprintf(stderr, "orvw: hook for %s ended with status %d\n", job.file.c_str(),
                     o.status);
}
