// argv.cpp - the emulated command line built from a command text.
#include "session/argv.h"

#include <cstring>

char arg_text[ARG_TEXT_SIZE];
char *arg_vector[ARG_VECTOR_SIZE];
int arg_count;

static bool is_blank(char c)
{
    return c == ' ' || c == '\t';
}

void build_argv(const char *argv0, const char *text)
{
    // The caller's length check makes the bounds below unreachable; they are
    // kept so that a text which slipped past it is cut, never overflows.
    constexpr int LAST = ARG_TEXT_SIZE - 1;   // index reserved for a final NUL
    int out = 0;
    arg_count = 1;
    arg_vector[0] = arg_text;
    for (; argv0 && argv0[out] && out < LAST; ++out)
        arg_text[out] = argv0[out];
    arg_text[out++] = '\0';
    if (!text)
        return;

    bool quoted = false;   // survives from one token to the next
    const char *p = text;
    for (;;) {
        while (is_blank(*p))
            ++p;
        if (*p == '\0' || out >= LAST || arg_count >= ARG_VECTOR_SIZE)
            return;
        arg_vector[arg_count++] = arg_text + out;
        for (; *p != '\0'; ++p) {
            if (*p == '"') {
                quoted = !quoted;
            } else if (!quoted && is_blank(*p)) {
                ++p;   // the blank that ends the token is consumed
                break;
            } else if (out < LAST) {
                arg_text[out++] = *p;
            }
        }
        arg_text[out++] = '\0';
    }
}
