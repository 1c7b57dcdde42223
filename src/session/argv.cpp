// argv.cpp - the emulated command line built from a command text.
#include "session/argv.h"

#include <cstring>

#include "session/option_parse.h"

void build_argv(ArgVector &args, const char *argv0, const char *text)
{
    // The caller's length check makes the bounds below unreachable; they are
    // kept so that a text which slipped past it is cut, never overflows.
    constexpr int LAST = ARG_TEXT_SIZE - 1;   // index reserved for a final NUL
    int out = 0;
    args.count = 1;
    args.vector[0] = args.text;
    for (; argv0 && argv0[out] && out < LAST; ++out)
        args.text[out] = argv0[out];
    args.text[out++] = '\0';
    if (!text)
        return;

    bool quoted = false;   // survives from one token to the next
    const char *p = text;
    for (;;) {
        while (is_blank(*p))
            ++p;
        if (*p == '\0' || out >= LAST || args.count >= ARG_VECTOR_SIZE)
            return;
        args.vector[args.count++] = args.text + out;
        for (; *p != '\0'; ++p) {
            if (*p == '"') {
                quoted = !quoted;
            } else if (!quoted && is_blank(*p)) {
                ++p;   // the blank that ends the token is consumed
                break;
            } else if (out < LAST) {
                args.text[out++] = *p;
            }
        }
        args.text[out++] = '\0';
    }
}
