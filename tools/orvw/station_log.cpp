// station_log.cpp - see station_log.h.
#include "station_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <fcntl.h>
#  include <unistd.h>
#endif

namespace {

#if defined(_WIN32)
intptr_t open_append(const std::string &path, std::string &why)
{
    // FILE_APPEND_DATA alone: every write lands at the end of the file,
    // whoever else appends meanwhile.
    HANDLE h = CreateFileA(path.c_str(), FILE_APPEND_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        why = "cannot open " + path + " (Windows error " + std::to_string(GetLastError()) + ")";
        return -1;
    }
    return reinterpret_cast<intptr_t>(h);
}

bool write_all(intptr_t f, const std::string &text, std::string &why)
{
    DWORD done = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(f), text.data(), static_cast<DWORD>(text.size()), &done,
                   nullptr) ||
        done != text.size()) {
        why = "Windows error " + std::to_string(GetLastError());
        return false;
    }
    return true;
}

void close_handle(intptr_t f) { CloseHandle(reinterpret_cast<HANDLE>(f)); }
#else
intptr_t open_append(const std::string &path, std::string &why)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        why = "cannot open " + path + ": " + std::strerror(errno);
    return fd;
}

bool write_all(intptr_t f, const std::string &text, std::string &why)
{
    ssize_t n;
    do {
        n = ::write(static_cast<int>(f), text.data(), text.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        why = std::strerror(errno);
        return false;
    }
    if (static_cast<size_t>(n) != text.size()) {
        // A short write leaves part of a line: the next line starts on a
        // fresh one, and this one is written again whole.
        why = "short write (" + std::to_string(n) + " of " + std::to_string(text.size()) +
              " bytes)";
        ::write(static_cast<int>(f), "\n", 1);
        return false;
    }
    return true;
}

void close_handle(intptr_t f) { ::close(static_cast<int>(f)); }
#endif

}   // namespace

StationLog::~StationLog() { close_file(); }

void StationLog::close_file()
{
    if (file_ != -1)
        close_handle(file_);
    file_ = -1;
}

bool StationLog::open(const std::string &path, std::string &why, bool echo)
{
    StationGuard g(mutex_);
    path_ = path;
    echo_ = echo;
    file_ = open_append(path, why);
    return file_ != -1;
}

bool StationLog::reopen()
{
    close_file();
    std::string why;
    file_ = open_append(path_, why);
    if (file_ == -1 && !failing_) {
        std::fprintf(stderr, "orvw: collect.log: %s\n", why.c_str());
        failing_ = true;
    }
    return file_ != -1;
}

bool StationLog::flush_pending()
{
    while (!pending_.empty()) {
        if (file_ == -1 && !reopen())
            return false;
        std::string why;
        if (!write_all(file_, pending_.front() + "\n", why)) {
            if (!failing_) {
                std::fprintf(stderr, "orvw: cannot write %s: %s; will try again\n", path_.c_str(),
                             why.c_str());
                failing_ = true;
            }
            close_file();   // reopened on the next try: the file may have been replaced
            return false;
        }
        pending_.pop_front();
    }
    if (failing_) {
        std::fprintf(stderr, "orvw: %s is written again\n", path_.c_str());
        failing_ = false;
    }
    return true;
}

bool StationLog::write(const std::string &line)
{
    StationGuard g(mutex_);
    if (pending_.size() >= MAX_PENDING) {
        std::fprintf(stderr, "orvw: %s: too many lines waiting, the oldest dropped: %s\n",
                     path_.c_str(), pending_.front().c_str());
        pending_.pop_front();
    }
    pending_.push_back(line);
    if (echo_) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }
    return flush_pending();
}

bool StationLog::retry()
{
    StationGuard g(mutex_);
    return flush_pending();
}

bool StationLog::healthy()
{
    StationGuard g(mutex_);
    return pending_.empty();
}

void StationLog::drain_to_stderr()
{
    StationGuard g(mutex_);
    for (const std::string &line : pending_)
        std::fprintf(stderr, "orvw: not logged: %s\n", line.c_str());
    pending_.clear();
}
