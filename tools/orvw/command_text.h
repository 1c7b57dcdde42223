// command_text.h - what orvw itself needs to know of a command text: the
// direction, the file argument and the options that decide how a file's
// records are counted.  The text is split as the library splits it.
#pragma once

#include <string>
#include <vector>

struct CommandTextFacts {
    bool receive = false;   // +R
    bool append = false;    // +A
    bool fixed = false;     // +C
    int width_count = 0;    // widths given with F
    int width_sum = 0;      // their sum, bytes
    std::string file;       // the first file argument as written; "" when none
    int file_count = 0;     // file arguments seen
};

// The tokens of text: blank-separated, a double quote toggles quoting (kept
// across tokens, never copied), no escapes.
std::vector<std::string> split_command_text(const std::string &text);

CommandTextFacts read_command_text(const std::string &text);

// Appends one argument to a command text, quoted when it holds a blank or
// is empty (one that holds a quote already is taken as the user's own
// quoting).
void append_command_arg(std::string &text, const std::string &arg);

// The directory part of a file argument with its separator ("" for none)
// and the base name with extension.
std::string path_dir_part(const std::string &path);
std::string path_name_part(const std::string &path);

// True when the file argument's base name is "(file)", the placeholder
// for the name the terminal sends.
bool is_terminal_name(const std::string &path);
