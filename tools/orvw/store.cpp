// store.cpp - see store.h.
#include "store.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace {

// Collisions tried for one time stamp before giving up.
constexpr int MAX_SAME_SECOND = 999;
// "YYYYMMDD-HHMMSS" and "YYYY-MM-DDTHH:MM:SS", with their NUL.
constexpr size_t STAMP_SIZE = 16;
constexpr size_t ISO_TIME_SIZE = 20;
// The library's temporary names start so (see its unique-name rule).
constexpr char TEMP_PREFIX[] = "~RX";
constexpr char ASIDE_PREFIX[] = "aside-";

enum class Move { Done, Taken, Failed };

// Renames from to to unless to exists.
Move move_no_replace(const std::string &from, const std::string &to, std::string &why)
{
#if defined(_WIN32)
    if (MoveFileExA(from.c_str(), to.c_str(), 0))
        return Move::Done;
    DWORD err = GetLastError();
    if (err == ERROR_ALREADY_EXISTS || err == ERROR_FILE_EXISTS)
        return Move::Taken;
    why = "cannot move " + from + " (Windows error " + std::to_string(err) + ")";
    return Move::Failed;
#else
    // A hard link is the one rename that fails on an existing name; file
    // systems without links fall back to a look first.
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return Move::Done;
    }
    if (errno == EEXIST)
        return Move::Taken;
    if (access(to.c_str(), F_OK) == 0)
        return Move::Taken;
    if (std::rename(from.c_str(), to.c_str()) == 0)
        return Move::Done;
    why = "cannot move " + from + ": " + std::strerror(errno);
    return Move::Failed;
#endif
}

bool exists(const std::string &path)
{
    std::error_code ec;
    return fs::exists(fs::u8path(path), ec);
}

bool starts_with(const std::string &s, const char *prefix)
{
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

}   // namespace

std::tm local_time(std::time_t t)
{
    std::tm tm{};
#if defined(_WIN32)
    localtime_s(&tm, &t);
#else
    localtime_r(&t, &tm);
#endif
    return tm;
}

std::string file_stamp(std::time_t t)
{
    char stamp[STAMP_SIZE];
    std::tm tm = local_time(t);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &tm);
    return stamp;
}

std::string iso_time(std::time_t t)
{
    char iso[ISO_TIME_SIZE];
    std::tm tm = local_time(t);
    std::strftime(iso, sizeof iso, "%Y-%m-%dT%H:%M:%S", &tm);
    return iso;
}

std::string companion_name(const std::string &name)
{
    size_t dot = name.rfind('.');
    std::string ext = dot == std::string::npos ? "" : name.substr(dot);
    if (ext == ".PD3" || ext == ".EX3" || ext == ".FN3" || ext == ".FLD")
        return std::string();
    return name.substr(0, dot) + ".FLD";
}

Stored store_file(const std::string &staging, const std::string &dir, const std::string &name,
                  std::time_t arrival, const std::string &tag)
{
    Stored out;
    out.name = name;
    const std::string stamp = file_stamp(arrival);
    const std::string tag_part = tag.empty() ? "" : tag + "-";
    std::string fld = companion_name(name);
    if (!fld.empty() && !exists(staging + PATH_SEP + fld))
        fld.clear();

    for (int n = 1; n <= MAX_SAME_SECOND; ++n) {
        std::string prefix = stamp + (n > 1 ? "-" + std::to_string(n) : "") + "-" + tag_part;
        std::string to = dir + PATH_SEP + prefix + name;
        if (exists(to) || (!fld.empty() && exists(dir + PATH_SEP + prefix + fld)))
            continue;
        Move m = move_no_replace(staging + PATH_SEP + name, to, out.error);
        if (m == Move::Taken)
            continue;
        if (m == Move::Failed)
            return out;
        out.file = to;
        if (!fld.empty()) {
            std::string fld_to = dir + PATH_SEP + prefix + fld;
            if (move_no_replace(staging + PATH_SEP + fld, fld_to, out.error) == Move::Done)
                out.companion = fld_to;
            else if (out.error.empty())
                out.error = "a file appeared as " + fld_to;
        }
        return out;
    }
    out.error = "no free name for " + name + " at " + stamp;
    return out;
}

StagedFiles list_staged(const std::string &staging)
{
    StagedFiles out;
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(fs::u8path(staging), ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string name = it->path().filename().u8string();
        if (name == STAGING_LOCK_NAME || starts_with(name, ASIDE_PREFIX))
            continue;
        std::error_code type_ec;
        if (it->is_directory(type_ec))
            continue;
        if (starts_with(name, TEMP_PREFIX))
            out.partial.push_back(name);
        else
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    std::sort(out.partial.begin(), out.partial.end());
    for (const std::string &name : names) {
        // A .FLD goes with its data file when that is here as well.
        bool companion = false;
        for (const std::string &other : names)
            if (other != name && companion_name(other) == name)
                companion = true;
        if (!companion)
            out.complete.push_back(name);
    }
    return out;
}

bool move_aside(const std::string &staging, const std::string &name, std::time_t now,
                std::string &where, std::string &why)
{
    const std::string aside = staging + PATH_SEP + ASIDE_PREFIX + file_stamp(now);
    std::error_code ec;
    fs::create_directories(fs::u8path(aside), ec);
    if (ec) {
        why = "cannot create " + aside + ": " + ec.message();
        return false;
    }
    for (int n = 1; n <= MAX_SAME_SECOND; ++n) {
        where = aside + PATH_SEP + name + (n > 1 ? "-" + std::to_string(n) : "");
        Move m = move_no_replace(staging + PATH_SEP + name, where, why);
        if (m == Move::Done)
            return true;
        if (m == Move::Failed)
            return false;
    }
    why = "no free name for " + name + " in " + aside;
    return false;
}
