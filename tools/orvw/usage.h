// usage.h - orvw --help: every option, the COM ports and the result codes.
#pragma once

#include <cstdio>

void print_usage(std::FILE *out);
