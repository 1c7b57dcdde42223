// json_out.h - one JSON object on one line, built field by field.
#pragma once

#include <string>

struct JsonLine {
    std::string text = "{";
};

void json_string(JsonLine &j, const char *key, const std::string &value);
void json_number(JsonLine &j, const char *key, long long value);
// ms as seconds with three decimals: 1.250
void json_millis_as_seconds(JsonLine &j, const char *key, long long ms);
void json_bool(JsonLine &j, const char *key, bool value);
void json_null(JsonLine &j, const char *key);
// The finished object, without a line end.
std::string json_finish(const JsonLine &j);
