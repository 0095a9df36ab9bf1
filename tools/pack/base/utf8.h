// UTF-8 taken apart a character at a time, and UTF-16 turned into it (the
// native tests' platform double takes this too: the header stands alone).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

namespace pack {

// The character of length bytes at at, as a refusal names it: U+003A ':'
// (a control character by its code alone).
std::string CharacterName(const std::string &utf8, size_t at, size_t length);
// The length of the UTF-8 sequence that starts with byte c (1 for a stray
// continuation byte, which the conversion then refuses).
size_t SequenceLength(uint8_t c);
// The code point of the length-byte sequence at at.
uint32_t CodePoint(const std::string &utf8, size_t at, size_t length);
// At most units UTF-16 units of text, up to the first zero, as UTF-8; a
// surrogate without its partner as itself.
inline std::string Utf8(const char16_t *text, size_t units = SIZE_MAX)
{
    std::string out;
    for (size_t i = 0; text && i < units && text[i]; i++) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        int trail = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        static const uint8_t lead[] = {0x00, 0xC0, 0xE0, 0xF0};
        out += (char)(lead[trail] | c >> (6 * trail));
        while (trail--)
            out += (char)(0x80 | ((c >> (6 * trail)) & 0x3F));
    }
    return out;
}

}  // namespace pack
