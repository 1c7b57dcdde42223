// text_chars.h - the character classes of command texts, field-definition
// files and file names, in one place.
#pragma once

// Space and horizontal tab: what separates items on a line.
inline bool is_blank(char c) { return c == ' ' || c == '\t'; }
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
inline char ascii_upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Upper-cases the ASCII letters of s in place.
inline void ascii_upper_in_place(char *s)
{
    for (; *s != '\0'; ++s)
        *s = ascii_upper(*s);
}

// True when a and b are equal but for the case of ASCII letters.
bool ascii_equal_ignoring_case(const char *a, const char *b);

// The 8.3 name rule's characters (0x21..0x7E): letters, digits and
// ! # $ % & ' ( ) ^ _ { | } ~ @ ` anywhere, '-' only after the first
// character.  Never: the blank, " \ * + , . / : ; < = > ? [ ] (the dot
// only as the separator of the extension).
bool is_dos_name_char(unsigned char c, bool first);
