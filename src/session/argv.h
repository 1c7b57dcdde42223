// argv.h - the emulated command line built from a command text.
#pragma once

// ArgVector.text holds argv[0] and every token, each NUL-terminated.  Sizes:
// - the text is at most CMDLINE_MAX - len("orvw.exe") = 1016 characters;
// - a token's NUL takes the place of the blank that ended it, and quotes are
//   dropped, so the tokens need at most 1016 + 1 bytes (the last NUL has no
//   blank to replace);
// - argv[0] with its NUL is 9 bytes: 9 + 1017 = 1026 = CMDLINE_MAX + 2.
// - every token but the last needs a blank after it, so a 1016-character
//   text holds at most 508 tokens; with argv[0], 509 pointers.
constexpr int CMDLINE_MAX = 1024;                // len("orvw.exe") + len(text), at most
constexpr int ARG_TEXT_SIZE = CMDLINE_MAX + 2;   // 1026 bytes
constexpr int ARG_VECTOR_SIZE = 1 + 508;         // argv[0] + tokens

struct ArgVector {
    char text[ARG_TEXT_SIZE];        // argv[0] and every token, NUL-terminated
    char *vector[ARG_VECTOR_SIZE];   // pointers into text
    int count;                       // argv[0] included
};

// Splits text behind argv0 into args (blanks separate tokens, a double
// quote toggles quoting and is dropped, no escapes).  The caller has
// checked that strlen(argv0) + strlen(text) <= CMDLINE_MAX.
void build_argv(ArgVector &args, const char *argv0, const char *text);
