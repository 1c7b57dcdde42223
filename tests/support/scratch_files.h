// scratch_files.h - small POSIX file helpers for the test programs that
// check folders and descriptors after many sessions (fuzz targets, soak).
#pragma once

#include <dirent.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace scratch {

// The names in a folder, without "." and "..".
inline std::vector<std::string> list_dir(const std::string &dir)
{
    std::vector<std::string> names;
    if (DIR *d = ::opendir(dir.c_str())) {
        while (dirent *e = ::readdir(d))
            if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
                names.push_back(e->d_name);
        ::closedir(d);
    }
    return names;
}

// Descriptors open in this process, the listing's own one included: only
// counts taken this way compare with each other.
inline int open_descriptors() { return static_cast<int>(list_dir("/proc/self/fd/").size()); }

inline bool read_file(const std::string &path, std::string *out)
{
    std::FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        return false;
    out->clear();
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out->append(buf, n);
    std::fclose(f);
    return true;
}

// False when the file could not be written whole.
inline bool write_file(const std::string &path, const std::string &bytes)
{
    std::FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    const bool whole = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && whole;
}

}   // namespace scratch
