// text_chars.cpp - the 8.3 name rule's characters.
#include "link/text_chars.h"

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
