// text_chars.cpp - the 8.3 name rule's characters.
#include "link/text_chars.h"

#include "link/limits.h"

#include <cstring>

bool is_dos_name_char(unsigned char c, bool first)
{
    static const char specials[] = "!#$%&'()^_{|}~@`";
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
        return true;
    if (c != '\0' && std::strchr(specials, c))
        return true;
    return !first && c == '-';
}

bool ascii_equal_ignoring_case(const char *a, const char *b)
{
    for (; *a != '\0' && *b != '\0'; ++a, ++b)
        if (ascii_upper(*a) != ascii_upper(*b))
            return false;
    return *a == *b;
}

int32_t file_kind_of_ext(const char *ext)
{
    // Program-file extensions in the order of their kinds 1, 2, 3.
    static const char *const program_exts[] = {".PD3", ".EX3", ".FN3"};
    for (int i = 0; i < 3; ++i)
        if (ascii_equal_ignoring_case(ext, program_exts[i]))
            return i + 1;
    return FT_DATA;
}
