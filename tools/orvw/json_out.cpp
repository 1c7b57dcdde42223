// json_out.cpp - one JSON object on one line.
//
// Strings are escaped as JSON requires; bytes of 0x80 and above pass
// unchanged (file names and the system's messages are taken as UTF-8), so
// the line stays readable by any JSON reader.
#include "json_out.h"

#include <cstdio>

namespace {

void key(JsonLine &j, const char *name)
{
    if (j.text.size() > 1)
        j.text += ',';
    j.text += '"';
    j.text += name;
    j.text += "\":";
}

void quoted(std::string &out, const std::string &value)
{
    out += '"';
    for (unsigned char c : value) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20 || c == 0x7F) {
                char esc[8];   // "\u00XX" and its NUL
                std::snprintf(esc, sizeof esc, "\\u%04x", c);
                out += esc;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
}

}   // namespace

void json_string(JsonLine &j, const char *name, const std::string &value)
{
    key(j, name);
    quoted(j.text, value);
}

void json_number(JsonLine &j, const char *name, long long value)
{
    key(j, name);
    j.text += std::to_string(value);
}

void json_millis_as_seconds(JsonLine &j, const char *name, long long ms)
{
    key(j, name);
    if (ms < 0)
        ms = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", ms / 1000, ms % 1000);
    j.text += text;
}

void json_bool(JsonLine &j, const char *name, bool value)
{
    key(j, name);
    j.text += value ? "true" : "false";
}

void json_null(JsonLine &j, const char *name)
{
    key(j, name);
    j.text += "null";
}

std::string json_finish(const JsonLine &j) { return j.text + "}"; }
