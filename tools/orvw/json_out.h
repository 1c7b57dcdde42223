// json_out.h - one JSON object on one line, built field by field.
#pragma once

#include <string>

struct JsonLine {
    std::string text = "{";
};

void json_string(JsonLine &j, const char *key, const std::string &value);
void json_number(JsonLine &j, const char *key, long long value);
void json_null(JsonLine &j, const char *key);
// The finished object, without a line end.
std::string json_finish(const JsonLine &j);
