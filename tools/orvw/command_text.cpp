// command_text.cpp - reading a command text the way the library does.
#include "command_text.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

bool is_separator(char c)
{
#if defined(_WIN32)
    return c == '/' || c == '\\' || c == ':';
#else
    return c == '/';
#endif
}

// The widths of an F option ("5,3;4"); false on anything but digits and
// separators (the library then refuses the text; nothing is counted).
bool add_widths(const char *p, CommandTextFacts &f)
{
    while (*p != '\0') {
        if (!std::isdigit(static_cast<unsigned char>(*p)))
            return false;
        char *end = nullptr;
        long w = std::strtol(p, &end, 10);
        f.width_sum += static_cast<int>(w);
        ++f.width_count;
        p = end;
        if (*p == ',' || *p == ';')
            ++p;
    }
    return true;
}

void read_option(const std::string &token, CommandTextFacts &f)
{
    const bool plus = token[0] == '+';
    const char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(token[1])));
    const bool bare = token.size() == 2;
    switch (letter) {
    case 'R':
        if (bare)
            f.receive = plus;
        break;
    case 'A':
        if (bare)
            f.append = plus;
        break;
    case 'C':
        if (bare)
            f.fixed = plus;
        break;
    case 'F': add_widths(token.c_str() + 2, f); break;
    default: break;
    }
}

}   // namespace

std::vector<std::string> split_command_text(const std::string &text)
{
    std::vector<std::string> tokens;
    bool quoted = false;
    size_t i = 0;
    for (;;) {
        while (i < text.size() && is_blank(text[i]))
            ++i;
        if (i >= text.size())
            return tokens;
        std::string token;
        for (; i < text.size(); ++i) {
            if (text[i] == '"') {
                quoted = !quoted;
            } else if (!quoted && is_blank(text[i])) {
                ++i;
                break;
            } else {
                token += text[i];
            }
        }
        tokens.push_back(token);
    }
}

CommandTextFacts read_command_text(const std::string &text)
{
    CommandTextFacts f;
    for (const std::string &token : split_command_text(text)) {
        if (token.size() >= 2 && (token[0] == '+' || token[0] == '-')) {
            read_option(token, f);
        } else {
            if (f.file_count == 0)
                f.file = token;
            ++f.file_count;
        }
    }
    return f;
}

void append_command_arg(std::string &text, const std::string &arg)
{
    if (!text.empty())
        text += ' ';
    bool needs_quotes = arg.empty() || (arg.find_first_of(" \t") != std::string::npos &&
                                        arg.find('"') == std::string::npos);
    if (needs_quotes)
        text += '"';
    text += arg;
    if (needs_quotes)
        text += '"';
}

std::string path_dir_part(const std::string &path)
{
    for (size_t i = path.size(); i > 0; --i)
        if (is_separator(path[i - 1]))
            return path.substr(0, i);
    return std::string();
}

std::string path_name_part(const std::string &path)
{
    return path.substr(path_dir_part(path).size());
}

bool is_terminal_name(const std::string &path)
{
    // The library compares the base name alone: "(file).TXT" is the
    // placeholder too.
    std::string name = path_name_part(path);
    name = name.substr(0, name.rfind('.'));
    static const char PLACEHOLDER[] = "(file)";
    if (name.size() != std::strlen(PLACEHOLDER))
        return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) != PLACEHOLDER[i])
            return false;
    return true;
}
