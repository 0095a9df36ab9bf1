// UTF-8 a character at a time.
#include <stdio.h>

#include "base/utf8.h"

namespace pack {

size_t SequenceLength(uint8_t c) { return c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4; }

uint32_t CodePoint(const std::string &utf8, size_t at, size_t length)
{
    uint32_t c = (uint8_t)utf8[at];
    if (length == 1)
        return c;
    c &= 0x3F >> (length - 1);
    for (size_t i = 1; i < length && at + i < utf8.size(); i++)
        c = c << 6 | ((uint8_t)utf8[at + i] & 0x3F);
    return c;
}

std::string CharacterName(const std::string &utf8, size_t at, size_t length)
{
    char code[16];
    uint32_t c = CodePoint(utf8, at, length);
    snprintf(code, sizeof code, "U+%04X", c);
    if (c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0))
        return code;
    return std::string(code) + " '" + utf8.substr(at, length) + "'";
}

}  // namespace pack
