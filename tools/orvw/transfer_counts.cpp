// transfer_counts.cpp - records and bytes measured on the files.
#include "transfer_counts.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

constexpr int CH_CR = 0x0D;
constexpr int CH_LF = 0x0A;
constexpr int CH_CTRL_Z = 0x1A;

// Program-file records: 128 bytes for .PD3, 130 for .EX3 and .FN3, each
// line with its CR LF.
constexpr long long PD3_LINE = 128 + 2;
constexpr long long EX3_LINE = 130 + 2;

std::string upper_ext(const std::string &path)
{
    std::string name = path_name_part(path);
    size_t dot = name.rfind('.');
    std::string ext = dot == std::string::npos ? std::string() : name.substr(dot);
    for (char &c : ext)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return ext;
}

// Bytes of one program-file line for the extension; 0 for a data file.
long long program_line(const std::string &path)
{
    std::string ext = upper_ext(path);
    if (ext == ".PD3")
        return PD3_LINE;
    if (ext == ".EX3" || ext == ".FN3")
        return EX3_LINE;
    return 0;
}

long long size_of(const std::string &path)
{
    std::error_code ec;
    uintmax_t n = fs::file_size(fs::u8path(path), ec);
    return ec ? COUNT_UNKNOWN : static_cast<long long>(n);
}

// Lines of the file from byte offset from on.  With final_counts, a last
// line without CR LF is a line too, unless it is a lone Ctrl-Z.
long long count_lines(const std::string &path, long long from, bool final_counts)
{
    std::FILE *fp = std::fopen(path.c_str(), "rb");
    if (fp == nullptr)
        return COUNT_UNKNOWN;
    if (from > 0 && std::fseek(fp, static_cast<long>(from), SEEK_SET) != 0) {
        std::fclose(fp);
        return COUNT_UNKNOWN;
    }
    long long lines = 0, pending = 0;   // pending: bytes since the last line end
    int prev = EOF, c;
    while ((c = std::getc(fp)) != EOF) {
        ++pending;
        if (prev == CH_CR && c == CH_LF) {
            ++lines;
            pending = 0;
        }
        prev = c;
    }
    bool failed = std::ferror(fp) != 0;
    std::fclose(fp);
    if (failed)
        return COUNT_UNKNOWN;
    if (final_counts && pending > 0 && !(pending == 1 && prev == CH_CTRL_Z))
        ++lines;
    return lines;
}

}   // namespace

TransferBaseline take_baseline(const CommandTextFacts &f)
{
    TransferBaseline b;
    if (!f.receive || !f.append || f.file.empty())
        return b;
    if (!is_terminal_name(f.file)) {
        long long n = size_of(f.file);
        if (n >= 0)
            b.sizes[f.file] = static_cast<uint64_t>(n);
        return b;
    }
    std::string dir = path_dir_part(f.file);
    std::error_code ec;
    for (fs::directory_iterator it(dir.empty() ? fs::path(".") : fs::u8path(dir), ec), end;
         !ec && it != end; it.increment(ec)) {
        std::error_code size_ec;
        uintmax_t n = it->file_size(size_ec);
        if (!size_ec && it->is_regular_file(size_ec))
            b.sizes[dir + it->path().filename().u8string()] = n;
    }
    return b;
}

std::string transfer_file(const CommandTextFacts &f, const std::string &name_buf)
{
    if (f.receive && is_terminal_name(f.file))
        return name_buf.empty() ? std::string() : path_dir_part(f.file) + name_buf;
    return f.file;
}

TransferCounts count_sent(const CommandTextFacts &f, const std::string &path)
{
    TransferCounts c;
    c.bytes = size_of(path);
    if (c.bytes < 0)
        return c;
    bool data_file = program_line(path) == 0;
    if (f.fixed && data_file) {
        // Fixed-length records: the length less one byte over the record
        // and its CR LF, rounded up (a stray last byte is no record).
        if (f.width_count > 0) {
            long long unit = f.width_sum + 2;
            c.records = c.bytes <= 1 ? 0 : (c.bytes - 1 + unit - 1) / unit;
        }
        return c;
    }
    c.records = count_lines(path, 0, true);
    return c;
}

TransferCounts count_received(const TransferBaseline &before, const std::string &path)
{
    TransferCounts c;
    long long after = size_of(path);
    if (after < 0)
        return c;
    auto it = before.sizes.find(path);
    long long old = it == before.sizes.end() ? 0 : static_cast<long long>(it->second);
    if (old > after)
        old = 0;   // the file was replaced, not appended to
    c.bytes = after - old;
    long long line = program_line(path);
    c.records = line > 0 ? c.bytes / line : count_lines(path, old, false);
    return c;
}
